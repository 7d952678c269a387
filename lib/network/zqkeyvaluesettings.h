#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

// A dictionary from text keys to byte values, kept in one file or, with an
// empty path, in memory only. The file is the data-stream (version 16) form
// of the map: a 32-bit count, then the entries from the greatest key down.
class ZqKeyValueSettings : public QObject {
    Q_OBJECT
public:
    // Creates the file (holding the empty map) when it does not exist, then
    // loads it. An unreadable file is kept as "<file>.corrupt" before the
    // store first overwrites it.
    ZqKeyValueSettings(QString filePath, bool autoSave, QObject* parent = nullptr);
    // Memory only: nothing is ever written.
    explicit ZqKeyValueSettings(bool autoSave, QObject* parent = nullptr);
    // Saves whatever autoSave is.
    ~ZqKeyValueSettings() override;

    void SetValue(QString key, QByteArray value);
    // False when the key was present (nothing changes).
    bool SetIfNotExist(QString key, QByteArray value);
    QByteArray GetValue(QString key, QByteArray defaultValue) const;
    void DeleteValue(QString key);
    void DeleteAll();

    // Atomic: on any failure the old file stays. False for a memory-only store.
    bool Save();
    // Plain, not atomic write; false on any open, write, flush or close failure.
    bool SaveTo(QString path);
    // False when the file cannot be opened (map unchanged) or its content is
    // unreadable (map empty). Never saves.
    bool LoadFrom(QString path);
    // LoadFrom the store's own file; nothing for a memory-only store.
    void ReLoad();
    // Copies the other store's map; false for null.
    bool LoadFrom(const ZqKeyValueSettings* other);

    QMap<QString, QByteArray> GetAllSettings() const;
    void PrintSettings();

    Q_INVOKABLE void setValue(QString key, QString value);
    // The value up to its first zero byte, as UTF-8; "" for an absent key.
    Q_INVOKABLE QString getValue(QString key);
    Q_INVOKABLE bool valueExists(QString key);
    Q_INVOKABLE void save();
    Q_INVOKABLE void saveTo(QString file);
    Q_INVOKABLE void deleteValue(QString key);

signals:
    void filePathChanged();

private:
    bool _write(QIODevice& device) const;
    bool _keepCorruptFile();

    QMap<QString, QByteArray> entries;
    QString filePath;
    bool autoSave;
    QMutex mutex;
    // The file at filePath could not be read; copy it aside before overwriting.
    bool corruptFilePending = false;
};
