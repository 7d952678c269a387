#include "logger.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QSaveFile>
#include <QTextCodec>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <sys/statvfs.h>

Q_LOGGING_CATEGORY(logDebug, "Debug")
Q_LOGGING_CATEGORY(logInfo, "Info")
Q_LOGGING_CATEGORY(logWarning, "Warning")
Q_LOGGING_CATEGORY(logCritical, "Critical")
Q_LOGGING_CATEGORY(logFatal, "Fatal")

QString Logger::logParentDirectory;
const QString Logger::logDirectoryName = QStringLiteral("logs");
const QString Logger::logFilePrefix = QStringLiteral("log_");
const QString Logger::logErrorFilePrefix = QStringLiteral("errors_");
const QString Logger::logFileExtension = QStringLiteral(".zqlog");
const QString Logger::configFilename = QStringLiteral("config");
std::atomic<int> Logger::configMinimumLogLevel { Logger::configDefaultMinimumLogLevel };
std::unique_ptr<QFile> Logger::currentLogFile;
std::unique_ptr<QFile> Logger::currentLogErrorFile;

namespace {

struct LoggerFiles {
    // Recursive: creating or trimming files logs through the handler while the
    // lock is held.
    QRecursiveMutex mutex;
    qint64 currentSize[2] = { 0, 0 }; // bytes in the current file of each kind
    bool openFailureReported[2] = { false, false };
    bool writeFailureReported[2] = { false, false };

    ~LoggerFiles()
    {
        // Made after Logger's current files, so destroyed before them: messages from
        // later static destructors must not reach those files, nor this lock. Hand
        // them back to Qt's default output.
        QtMessageHandler previous = qInstallMessageHandler(nullptr);
        if (previous != &Logger::messageHandler)
            qInstallMessageHandler(previous);
    }
};

LoggerFiles& files()
{
    static LoggerFiles state;
    return state;
}

// Depth of messageHandler on this thread; a message raised while a line is
// being written goes to standard output only.
thread_local int handlerDepth = 0;

const char* levelLabel(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug    ";
    case QtInfoMsg:
        return "Info     ";
    case QtWarningMsg:
        return "Warning  ";
    case QtCriticalMsg:
        return "Critical ";
    case QtFatalMsg:
        return "Fatal    ";
    }
    return "";
}

const char* kindName(bool error) { return error ? "error" : "log"; }

void reportOnStderr(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void reportOpenFailureOnce(bool error, const QString& text)
{
    bool& reported = files().openFailureReported[error ? 1 : 0];
    if (!reported)
        reportOnStderr(text);
    reported = true;
}

void reportWriteFailureOnce(bool error, const QFile& file)
{
    bool& reported = files().writeFailureReported[error ? 1 : 0];
    if (!reported)
        reportOnStderr(QStringLiteral("Logger: cannot write %1: %2")
                           .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
    reported = true;
}

// A line break inside a message continues it on an indented line, so that a
// message can never forge a line that looks like an entry of its own.
void appendMessage(std::string& line, const QByteArray& utf8Message)
{
    const char* data = utf8Message.constData();
    const size_t size = size_t(utf8Message.size());
    if (!std::memchr(data, '\n', size) && !std::memchr(data, '\r', size)) {
        line.append(data, size);
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c != '\n' && c != '\r') {
            line.push_back(c);
            continue;
        }
        if (c == '\r' && i + 1 < size && data[i + 1] == '\n')
            ++i;
        line.append("\n    ");
    }
}

// A new or empty file on a full disk opens fine, yet every line would be lost.
bool hasFreeSpace(bool error, const QFile& file)
{
    struct statvfs info;
    if (::statvfs(QFile::encodeName(file.fileName()).constData(), &info) != 0 || info.f_bfree > 0)
        return true;
    reportOpenFailureOnce(
        error, QStringLiteral("Logger: no space left for %1").arg(QDir::toNativeSeparators(file.fileName())));
    return false;
}

constexpr int timestampLength = 24; // "yyyy-MM-dd hh:mm:ss.zzz "

// Formatting a local date-time is the handler's main cost; the part up to the
// seconds is made once per second.
void timestampNow(char* out)
{
    struct Cache {
        qint64 second = std::numeric_limits<qint64>::min();
        char prefix[20] = {}; // "yyyy-MM-dd hh:mm:ss."
    };
    thread_local Cache cache;
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != cache.second) {
        const QByteArray text = QDateTime::fromMSecsSinceEpoch(second * 1000)
                                    .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss."))
                                    .toLatin1();
        std::memset(cache.prefix, '0', sizeof cache.prefix);
        std::memcpy(
            cache.prefix, text.constData(), std::min<size_t>(sizeof cache.prefix, size_t(text.size())));
        cache.second = second;
    }
    const int ms = int(msecs - second * 1000);
    std::memcpy(out, cache.prefix, sizeof cache.prefix);
    out[20] = char('0' + ms / 100);
    out[21] = char('0' + ms / 10 % 10);
    out[22] = char('0' + ms % 10);
    out[23] = ' ';
}

bool localeIsUtf8()
{
    static const bool utf8 = QTextCodec::codecForLocale()->mibEnum() == 106;
    return utf8;
}

} // namespace

Logger::Logger(QObject* parent)
    : QObject(parent)
{
    createNewLogFile(false);
    createNewLogFile(true);
    getConfig();
}

std::unique_ptr<QFile>& Logger::currentFile(bool error)
{
    return error ? currentLogErrorFile : currentLogFile;
}

QString Logger::currentFileName(bool error)
{
    QMutexLocker lock(&files().mutex);
    const std::unique_ptr<QFile>& file = currentFile(error);
    return file ? QFileInfo(file->fileName()).fileName() : QString();
}

void Logger::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    char stamp[timestampLength];
    timestampNow(stamp);
    QMutexLocker lock(&files().mutex);
    ++handlerDepth;
    if (handlerDepth == 1) {
        const bool toErrorLog = type == QtCriticalMsg || type == QtFatalMsg;
        const bool toGeneralLog
            = msgTypeToLogLevel(type) >= configMinimumLogLevel.load(std::memory_order_relaxed);
        if (toErrorLog || toGeneralLog) {
            const QString timestamp = QString::fromLatin1(stamp, timestampLength);
            if (toErrorLog)
                writeLogLine(type, timestamp, context, message, true);
            if (toGeneralLog)
                writeLogLine(type, timestamp, context, message, false);
        }
    }
    QByteArray text = localeIsUtf8() ? message.toUtf8() : message.toLocal8Bit();
    text += '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    --handlerDepth;
}

bool Logger::writeLogLine(QtMsgType type, const QString& timestamp, const QMessageLogContext& context,
    const QString& message, bool error)
{
    try {
        const QByteArray stamp = timestamp.toUtf8();
        return writeFormattedLine(
            formatLine(type, stamp.constData(), stamp.size(), context, message.toUtf8()), error);
    } catch (const std::exception& e) {
        qCritical() << e.what();
        return false;
    }
}

const std::string& Logger::formatLine(QtMsgType type, const char* timestamp, int timestampSize,
    const QMessageLogContext& context, const QByteArray& utf8Message)
{
    // Reused per thread: no allocation per line once it has grown.
    thread_local std::string line;
    const char* category = context.category ? context.category : "default";
    line.clear();
    line.append(timestamp, size_t(timestampSize));
    line.append(levelLabel(type));
    line.append(category);
    line.append(": ", 2);
    appendMessage(line, utf8Message);
    line.push_back('\n');
    return line;
}

bool Logger::writeFormattedLine(const std::string& line, bool error)
{
    QMutexLocker lock(&files().mutex);
    QFile* file = currentFile(error).get();
    if (!file || !file->isOpen())
        return false;
    // Unbuffered: each write reaches the file at once, which is what a flush would do.
    const qint64 written = file->write(line.data(), qint64(line.size()));
    if (written != qint64(line.size())) {
        reportWriteFailureOnce(error, *file);
        return false;
    }
    // The size rule of the start applies during a run too.
    qint64& size = files().currentSize[error ? 1 : 0];
    size += written;
    if (size >= maxLogFileSize)
        createNewLogFile(error);
    return true;
}

bool Logger::initialization()
{
    const bool logOk = createNewLogFile(false);
    const bool errorOk = createNewLogFile(true);
    getConfig();
    return logOk && errorOk;
}

bool Logger::createNewLogFile(bool error)
{
    try {
        QMutexLocker lock(&files().mutex);
        std::unique_ptr<QFile>& current = currentFile(error);
        if (logParentDirectory.isEmpty()) {
            reportOpenFailureOnce(error,
                QStringLiteral("Logger: no log folder set, %1 lines go to standard output only")
                    .arg(QLatin1String(kindName(error))));
            return false;
        }
        const QDir dir = getLogDirectory();
        // A file left in another folder (the parent was changed) is not this folder's current file.
        if (current && QFileInfo(current->fileName()).absolutePath() != dir.absolutePath())
            current.reset();

        if (!current && dir.exists()) {
            const QStringList existing = getLogFiles(error);
            if (!existing.isEmpty()) {
                auto newest = std::make_unique<QFile>(dir.filePath(existing.last()));
                if (newest->open(QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered))
                    current = std::move(newest);
            }
        }

        if (current && current->isOpen() && current->size() < maxLogFileSize) {
            files().currentSize[error ? 1 : 0] = current->size();
            qDebug() << "static bool Logger::createNewLogFile(bool)"
                     << "using current" << kindName(error) << "file";
            verifyFiles(error);
            return hasFreeSpace(error, *current);
        }

        const QString name = (error ? logErrorFilePrefix : logFilePrefix)
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss-zzz"))
            + logFileExtension;
        if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
            qDebug() << "Failed to create log file directory";

        auto file = std::make_unique<QFile>(dir.filePath(name));
        if (!file->open(QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered)) {
            // Keep writing to the old file, if any, rather than losing lines.
            reportOpenFailureOnce(error,
                QStringLiteral("Logger: cannot open %1: %2")
                    .arg(QDir::toNativeSeparators(file->fileName()), file->errorString()));
            return false;
        }
        files().openFailureReported[error ? 1 : 0] = false;
        files().writeFailureReported[error ? 1 : 0] = false;
        files().currentSize[error ? 1 : 0] = 0;
        current = std::move(file);
        qDebug().noquote() << "static bool Logger::createNewLogFile(bool)"
                           << " using new" << kindName(error) << "file: " + name;
        verifyFiles(error);
        return hasFreeSpace(error, *current);
    } catch (const std::exception& e) {
        qCritical() << e.what();
        return false;
    }
}

bool Logger::getConfig()
{
    if (logParentDirectory.isEmpty())
        return false;
    try {
        QFile config(getLogDirectory().filePath(configFilename));
        if (!config.open(QIODevice::ReadOnly | QIODevice::Text)) {
            qCritical() << "Failed to open log config file for reading";
            return createDefaultConfig();
        }
        const QString line = QString::fromUtf8(config.readLine()).simplified();
        config.close();
        bool isNumber = false;
        const int level = line.toInt(&isNumber, 10);
        if (!isNumber) {
            qCritical() << "Failed to read minimum log level";
            return createDefaultConfig();
        }
        if (level < Debug || level > Fatal) {
            qCritical() << "Invalid minimum log level";
            return createDefaultConfig();
        }
        configMinimumLogLevel.store(level);
        qDebug() << "Read config  |  minimumLogLevel =" << level;
        return true;
    } catch (const std::exception& e) {
        qCritical() << "Failed to parse log config file" << e.what();
        return false;
    }
}

bool Logger::createDefaultConfig()
{
    if (logParentDirectory.isEmpty())
        return false;
    try {
        // Whatever was wrong with the file, the level falls back to the default.
        configMinimumLogLevel.store(configDefaultMinimumLogLevel);
        // Replaced atomically: on a full disk the old file stays rather than an empty one.
        QSaveFile config(getLogDirectory().filePath(configFilename));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Text)) {
            qCritical() << "Failed to open log config file for writing";
            return false;
        }
        const QByteArray content = QByteArray::number(configDefaultMinimumLogLevel) + '\n';
        if (config.write(content) != content.size() || !config.flush() || !config.commit()) {
            qCritical() << "Failed to write log config file" << config.errorString();
            return false;
        }
        qInfo() << "Created new log config file with default values";
        return true;
    } catch (const std::exception& e) {
        qCritical() << "Failed to write log config file" << e.what();
        return false;
    }
}

bool Logger::verifyFiles(bool error)
{
    try {
        QMutexLocker lock(&files().mutex);
        if (logParentDirectory.isEmpty())
            return false;
        QStringList existing = getLogFiles(error);
        // The current file is never a candidate: after the clock was set back
        // it may sort before older files.
        const bool hasCurrent = existing.removeAll(currentFileName(error)) > 0;
        const int othersKept = maxLogFiles - (hasCurrent ? 1 : 0);
        const QDir dir = getLogDirectory();
        while (existing.size() > othersKept) {
            const QString name = existing.takeFirst();
            if (QFile::remove(dir.filePath(name)))
                qDebug().noquote() << "static bool Logger::verifyFiles(bool)"
                                   << "Removed log file: " + name;
        }
        return true;
    } catch (const std::exception& e) {
        qCritical() << e.what();
        return false;
    }
}

QDir Logger::getLogDirectory() { return QDir(QDir(logParentDirectory).absoluteFilePath(logDirectoryName)); }

QStringList Logger::getLogFiles(bool error)
{
    const QString& prefix = error ? logErrorFilePrefix : logFilePrefix;
    const QStringList entries
        = getLogDirectory().entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    QStringList result;
    for (const QString& entry : entries) {
        // QDir's name filters ignore case; "LOG_x" is not ours.
        if (entry.startsWith(prefix, Qt::CaseSensitive))
            result.append(entry);
    }
    return result;
}

int Logger::msgTypeToLogLevel(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return Debug;
    case QtInfoMsg:
        return Info;
    case QtWarningMsg:
        return Warning;
    case QtCriticalMsg:
        return Critical;
    case QtFatalMsg:
        return Fatal;
    }
    return Debug;
}
