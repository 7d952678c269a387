#pragma once

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <string>

// Categories for the category macros (qCInfo(logInfo) and so on).
Q_DECLARE_LOGGING_CATEGORY(logDebug)
Q_DECLARE_LOGGING_CATEGORY(logInfo)
Q_DECLARE_LOGGING_CATEGORY(logWarning)
Q_DECLARE_LOGGING_CATEGORY(logCritical)
Q_DECLARE_LOGGING_CATEGORY(logFatal)

// The process-wide Qt message handler: every message goes to standard output,
// to the general log when its level reaches the minimum from the "config" file,
// and to the error log when it is critical or fatal. All state is static; an
// instance (as QML creates one) only repeats the start-up work.
//
// Safe to call from any thread: one lock covers writing a line and swapping
// the current files, and the minimum level is atomic.
class Logger : public QObject {
    Q_OBJECT
public:
    enum LogLevel { Debug = 0, Info = 1, Warning = 2, Critical = 3, Fatal = 4 };

    explicit Logger(QObject* parent = nullptr);

    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    // Opens (or keeps) both log files and reads "config". True when both files
    // are open for writing.
    Q_INVOKABLE static bool initialization();

    // Keeps the current file of the kind while it is below maxLogFileSize,
    // otherwise starts a new one; then trims the kind to maxLogFiles files.
    // False when no file of the kind could be opened or its disk is full.
    // Writing a line starts a new file too once the current one reaches
    // maxLogFileSize; a failed write is reported once on stderr.
    static bool createNewLogFile(bool error);
    static bool getConfig();
    // Writes "config" with the default level, atomically.
    static bool createDefaultConfig();
    // Removes the oldest files of the kind until maxLogFiles remain; never the current one.
    static bool verifyFiles(bool error);
    // Writes one line to the current file of the kind (error: the error log).
    // False when the kind has no open file or the write failed.
    static bool writeLogLine(QtMsgType type, const QString& timestamp, const QMessageLogContext& context,
        const QString& message, bool error);
    static QDir getLogDirectory();
    static QStringList getLogFiles(bool error);
    static int msgTypeToLogLevel(QtMsgType type);

    // Set by main before initialization(); while empty no file is written.
    static QString logParentDirectory;
    static const QString logDirectoryName;
    static const QString logFilePrefix;
    static const QString logErrorFilePrefix;
    static const QString logFileExtension;
    static const QString configFilename;

    static std::atomic<int> configMinimumLogLevel;
    static constexpr int configDefaultMinimumLogLevel = 1;
    static constexpr qint64 maxLogFileSize = 2000000;
    static constexpr int maxLogFiles = 5;

    // Name (not path) of the file currently written for the kind, or "".
    static QString currentFileName(bool error);

private:
    // The open general and error log files; swapped and written under the logger's lock.
    static std::unique_ptr<QFile> currentLogFile;
    static std::unique_ptr<QFile> currentLogErrorFile;

    static std::unique_ptr<QFile>& currentFile(bool error);
    static const std::string& formatLine(QtMsgType type, const char* timestamp, int timestampSize,
        const QMessageLogContext& context, const QByteArray& utf8Message);
    static bool writeFormattedLine(const std::string& line, bool error);
};
