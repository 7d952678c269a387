#include "zqkeyvaluesettings.h"

#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>

namespace {

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_5_4;

void logCantOpen(const QString& path) { qCritical() << "ZqKeyValueSettings: Can't Open " << path; }

} // namespace

ZqKeyValueSettings::ZqKeyValueSettings(QString filePath, bool autoSave, QObject* parent)
    : QObject(parent)
    , filePath(filePath)
    , autoSave(autoSave)
{
    if (!filePath.isEmpty() && !QFile::exists(filePath))
        Save();
    ReLoad();
}

ZqKeyValueSettings::ZqKeyValueSettings(bool autoSave, QObject* parent)
    : ZqKeyValueSettings(QString(), autoSave, parent)
{
}

ZqKeyValueSettings::~ZqKeyValueSettings() { Save(); }

void ZqKeyValueSettings::SetValue(QString key, QByteArray value)
{
    const auto it = entries.constFind(key);
    if (it != entries.constEnd() && *it == value)
        return;
    entries.insert(key, value);
    if (autoSave)
        Save();
}

bool ZqKeyValueSettings::SetIfNotExist(QString key, QByteArray value)
{
    if (entries.contains(key))
        return false;
    SetValue(key, value);
    return true;
}

QByteArray ZqKeyValueSettings::GetValue(QString key, QByteArray defaultValue) const
{
    return entries.value(key, defaultValue);
}

void ZqKeyValueSettings::DeleteValue(QString key)
{
    if (entries.remove(key) > 0 && autoSave)
        Save();
}

void ZqKeyValueSettings::DeleteAll()
{
    if (entries.isEmpty())
        return;
    entries.clear();
    if (autoSave)
        Save();
}

bool ZqKeyValueSettings::_write(QIODevice& device) const
{
    QDataStream stream(&device);
    stream.setVersion(kStreamVersion);
    stream << quint32(entries.size());
    // Greatest key first, as Qt's own map writer does.
    for (auto it = entries.constEnd(); it != entries.constBegin();) {
        --it;
        stream << it.key() << it.value();
    }
    return stream.status() == QDataStream::Ok;
}

bool ZqKeyValueSettings::_keepCorruptFile()
{
    const QString kept = filePath + QStringLiteral(".corrupt");
    QFile::remove(kept);
    if (!QFile::copy(filePath, kept)) {
        qWarning() << "ZqKeyValueSettings: could not keep the unreadable file as" << kept;
        return false;
    }
    corruptFilePending = false;
    return true;
}

bool ZqKeyValueSettings::Save()
{
    QMutexLocker locker(&mutex);
    if (filePath.isEmpty())
        return false;
    // Never overwrite the only copy of a file we could not read.
    if (corruptFilePending && QFile::exists(filePath) && !_keepCorruptFile())
        return false;
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        logCantOpen(filePath);
        return false;
    }
    // commit() alone can report success when only the last buffered write
    // failed (a full disk); flush() reports it.
    if (!_write(file) || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool ZqKeyValueSettings::SaveTo(QString path)
{
    QMutexLocker locker(&mutex);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        logCantOpen(path);
        return false;
    }
    const bool written = _write(file) && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        qWarning() << "ZqKeyValueSettings: writing" << path << "failed:" << file.errorString();
        return false;
    }
    return true;
}

bool ZqKeyValueSettings::LoadFrom(QString path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        logCantOpen(path);
        return false;
    }
    QDataStream stream(&file);
    stream.setVersion(kStreamVersion);
    QMap<QString, QByteArray> loaded;
    quint32 count = 0;
    stream >> count;
    // The count is checked against the stream, entry by entry, never
    // trusted for an allocation.
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        QString key;
        QByteArray value;
        stream >> key >> value;
        if (stream.status() == QDataStream::Ok)
            loaded.insert(key, value);
    }
    file.close();
    if (stream.status() != QDataStream::Ok) {
        qWarning() << "ZqKeyValueSettings: unreadable content in" << path;
        entries.clear();
        if (!filePath.isEmpty() && path == filePath)
            corruptFilePending = true;
        return false;
    }
    entries = loaded;
    if (path == filePath)
        corruptFilePending = false;
    return true;
}

void ZqKeyValueSettings::ReLoad()
{
    // A memory-only store has no file to read: nothing to open, nothing to report.
    if (!filePath.isEmpty())
        LoadFrom(filePath);
}

bool ZqKeyValueSettings::LoadFrom(const ZqKeyValueSettings* other)
{
    if (!other)
        return false;
    entries = other->entries;
    if (autoSave)
        Save();
    return true;
}

QMap<QString, QByteArray> ZqKeyValueSettings::GetAllSettings() const { return entries; }

void ZqKeyValueSettings::PrintSettings()
{
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        qDebug() << "Key: " << it.key();
        qDebug() << "Value: " << it.value();
    }
}

void ZqKeyValueSettings::setValue(QString key, QString value) { SetValue(key, value.toUtf8()); }

QString ZqKeyValueSettings::getValue(QString key)
{
    const QByteArray value = GetValue(key, QByteArray());
    const int end = value.indexOf('\0');
    return QString::fromUtf8(end < 0 ? value : value.left(end));
}

bool ZqKeyValueSettings::valueExists(QString key) { return entries.contains(key); }

void ZqKeyValueSettings::save() { Save(); }

void ZqKeyValueSettings::saveTo(QString file) { SaveTo(file); }

void ZqKeyValueSettings::deleteValue(QString key) { DeleteValue(key); }
