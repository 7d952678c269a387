#include "logger.h"
#include "outputcapture.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

namespace {

const QRegularExpression linePattern(
    QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} "
                   "(Debug    |Info     |Warning  |Critical |Fatal    )([^:]+): (.*)$"));

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
}

// Messages through the logger's handler; Qt Test's own is put back afterwards.
class HandlerInstalled
{
public:
    HandlerInstalled() { m_previous = qInstallMessageHandler(Logger::messageHandler); }
    ~HandlerInstalled() { qInstallMessageHandler(m_previous); }

private:
    QtMessageHandler m_previous;
};

} // namespace

class tst_Logger : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void defaultState();
    void lineHasTimestampLabelAndCategory_data();
    void lineHasTimestampLabelAndCategory();
    void missingFolderIsCreatedWithParents();
    void configIsParsed_data();
    void configIsParsed();
    void missingConfigIsCreated();
    void routingFollowsMinimumLevel_data();
    void routingFollowsMinimumLevel();
    void smallNewestFileIsContinuedAndOldestRemoved();
    void fullNewestFileStartsNewOne_data();
    void fullNewestFileStartsNewOne();
    void currentFileSurvivesClockSetBack();
    void prefixMatchIsCaseSensitive();
    void openFailureIsReportedOnceOnStderr();
    void concurrentLinesStayWhole();

private:
    QString logDir() const { return m_dir->filePath(QStringLiteral("logs")); }
    QString currentPath(bool error) const { return logDir() + QLatin1Char('/') + Logger::currentFileName(error); }
    QStringList filesOfKind(const QString &prefix) const;
    void makeLogFiles(const QString &prefix, const QStringList &stamps, qint64 newestSize);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Logger::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    Logger::logParentDirectory = m_dir->path();
    Logger::configMinimumLogLevel = Logger::configDefaultMinimumLogLevel;
}

void tst_Logger::cleanup()
{
    Logger::logParentDirectory.clear();
    m_dir.reset();
}

QStringList tst_Logger::filesOfKind(const QString &prefix) const
{
    QStringList result;
    const QStringList entries = QDir(logDir()).entryList(QDir::Files, QDir::Name);
    for (const QString &entry : entries) {
        if (entry.startsWith(prefix))
            result.append(entry);
    }
    return result;
}

void tst_Logger::makeLogFiles(const QString &prefix, const QStringList &stamps, qint64 newestSize)
{
    QVERIFY(QDir().mkpath(logDir()));
    for (int i = 0; i < stamps.size(); ++i) {
        const QByteArray content = i + 1 == stamps.size() ? QByteArray(int(newestSize), 'x') : QByteArray("old\n");
        writeFile(logDir() + QLatin1Char('/') + prefix + stamps.at(i) + QStringLiteral(".zqlog"), content);
    }
}

void tst_Logger::defaultState()
{
    QCOMPARE(Logger::logDirectoryName, QStringLiteral("logs"));
    QCOMPARE(Logger::logFilePrefix, QStringLiteral("log_"));
    QCOMPARE(Logger::logErrorFilePrefix, QStringLiteral("errors_"));
    QCOMPARE(Logger::logFileExtension, QStringLiteral(".zqlog"));
    QCOMPARE(Logger::configFilename, QStringLiteral("config"));
    QCOMPARE(Logger::configDefaultMinimumLogLevel, 1);
    QCOMPARE(Logger::getLogDirectory().absolutePath(), logDir());
    QCOMPARE(Logger::msgTypeToLogLevel(QtDebugMsg), 0);
    QCOMPARE(Logger::msgTypeToLogLevel(QtInfoMsg), 1);
    QCOMPARE(Logger::msgTypeToLogLevel(QtWarningMsg), 2);
    QCOMPARE(Logger::msgTypeToLogLevel(QtCriticalMsg), 3);
    QCOMPARE(Logger::msgTypeToLogLevel(QtFatalMsg), 4);
}

void tst_Logger::lineHasTimestampLabelAndCategory_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("expectedCategory");
    QTest::newRow("debug") << int(QtDebugMsg) << QByteArray("default") << "Debug    " << "default";
    QTest::newRow("info") << int(QtInfoMsg) << QByteArray("default") << "Info     " << "default";
    QTest::newRow("warning") << int(QtWarningMsg) << QByteArray("qml") << "Warning  " << "qml";
    QTest::newRow("critical") << int(QtCriticalMsg) << QByteArray("default") << "Critical " << "default";
    QTest::newRow("fatal") << int(QtFatalMsg) << QByteArray("Fatal") << "Fatal    " << "Fatal";
    QTest::newRow("no category") << int(QtInfoMsg) << QByteArray() << "Info     " << "default";
}

void tst_Logger::lineHasTimestampLabelAndCategory()
{
    QFETCH(int, type);
    QFETCH(QByteArray, category);
    QFETCH(QString, label);
    QFETCH(QString, expectedCategory);
    QVERIFY(Logger::initialization());
    QMessageLogContext context(nullptr, 0, nullptr, category.isNull() ? nullptr : category.constData());
    const QString message = QStringLiteral("Grüße: 100% done");
    QVERIFY(Logger::writeLogLine(QtMsgType(type), QStringLiteral("2024-03-05 14:07:09.042 "), context, message, false));

    const QStringList lines = readLines(currentPath(false));
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.last(), QStringLiteral("2024-03-05 14:07:09.042 ") + label + expectedCategory + QStringLiteral(": ") + message);
    // And through the handler, with its own clock.
    OutputCapture out(1);
    Logger::messageHandler(QtMsgType(type), context, message);
    QCOMPARE(out.take(), message.toLocal8Bit() + '\n');
    const QRegularExpressionMatch match = linePattern.match(readLines(currentPath(false)).last());
    QVERIFY2(match.hasMatch(), qPrintable(readLines(currentPath(false)).last()));
    QCOMPARE(match.captured(1), label);
    QCOMPARE(match.captured(2), expectedCategory);
    QCOMPARE(match.captured(3), message);
}

// A first run used to get no log files: only the last folder level was created.
void tst_Logger::missingFolderIsCreatedWithParents()
{
    Logger::logParentDirectory = m_dir->filePath(QStringLiteral("share/Veltrisan/Gelvantrium"));
    QVERIFY(Logger::initialization());
    QVERIFY(QFileInfo(Logger::getLogDirectory().absolutePath()).isDir());
    QCOMPARE(Logger::getLogFiles(false).size(), 1);
    QCOMPARE(Logger::getLogFiles(true).size(), 1);
    QVERIFY(Logger::getLogFiles(false).constFirst().endsWith(QStringLiteral(".zqlog")));
    QVERIFY(QFile::exists(Logger::getLogDirectory().filePath(QStringLiteral("config"))));
}

void tst_Logger::configIsParsed_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("complaint");
    QTest::addColumn<QByteArray>("contentAfter");
    QTest::newRow("3") << QByteArray("3") << 3 << QString() << QByteArray("3");
    QTest::newRow("blanks around 2") << QByteArray(" 2 \n") << 2 << QString() << QByteArray(" 2 \n");
    QTest::newRow("0") << QByteArray("0\n") << 0 << QString() << QByteArray("0\n");
    QTest::newRow("4") << QByteArray("4\nrest\n") << 4 << QString() << QByteArray("4\nrest\n");
    QTest::newRow("7") << QByteArray("7") << 1 << "Invalid minimum log level" << QByteArray("1\n");
    QTest::newRow("-1") << QByteArray("-1") << 1 << "Invalid minimum log level" << QByteArray("1\n");
    QTest::newRow("x") << QByteArray("x") << 1 << "Failed to read minimum log level" << QByteArray("1\n");
    QTest::newRow("empty") << QByteArray() << 1 << "Failed to read minimum log level" << QByteArray("1\n");
    QTest::newRow("hex") << QByteArray("0x2") << 1 << "Failed to read minimum log level" << QByteArray("1\n");
}

void tst_Logger::configIsParsed()
{
    QFETCH(QByteArray, content);
    QFETCH(int, level);
    QFETCH(QString, complaint);
    QFETCH(QByteArray, contentAfter);
    QVERIFY(QDir().mkpath(logDir()));
    const QString configPath = logDir() + QStringLiteral("/config");
    writeFile(configPath, content);
    Logger::configMinimumLogLevel = 4;

    HandlerInstalled handler;
    QVERIFY(Logger::initialization());
    QCOMPARE(Logger::configMinimumLogLevel.load(), level);
    QFile config(configPath);
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), contentAfter);

    const QStringList errors = readLines(currentPath(true));
    if (complaint.isEmpty()) {
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.constFirst().endsWith(QStringLiteral("Critical default: ") + complaint), qPrintable(errors.constFirst()));
    }
}

void tst_Logger::missingConfigIsCreated()
{
    HandlerInstalled handler;
    QVERIFY(Logger::initialization());
    QFile config(logDir() + QStringLiteral("/config"));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), QByteArray("1\n"));
    const QStringList errors = readLines(currentPath(true));
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors.constFirst().endsWith(QStringLiteral("Failed to open log config file for reading")));
    const QStringList general = readLines(currentPath(false));
    QVERIFY(general.last().endsWith(QStringLiteral("Info     default: Created new log config file with default values")));
}

void tst_Logger::routingFollowsMinimumLevel_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<QStringList>("inGeneral");
    QTest::newRow("0 debug") << 0 << QStringList{"d", "i", "w", "c", "f"};
    QTest::newRow("1 info") << 1 << QStringList{"i", "w", "c", "f"};
    QTest::newRow("2 warning") << 2 << QStringList{"w", "c", "f"};
    QTest::newRow("3 critical") << 3 << QStringList{"c", "f"};
    QTest::newRow("4 fatal") << 4 << QStringList{"f"};
}

void tst_Logger::routingFollowsMinimumLevel()
{
    QFETCH(int, minimum);
    QFETCH(QStringList, inGeneral);
    QVERIFY(QDir().mkpath(logDir()));
    writeFile(logDir() + QStringLiteral("/config"), QByteArray::number(minimum) + '\n');
    QVERIFY(Logger::initialization());
    const int generalBefore = readLines(currentPath(false)).size();

    OutputCapture out(1);
    {
        HandlerInstalled handler;
        qDebug("d");
        qInfo("i");
        qWarning("w");
        qCritical("c");
        // qFatal would end the process after the handler; call the handler alone.
        Logger::messageHandler(QtFatalMsg, QMessageLogContext(nullptr, 0, nullptr, "default"), QStringLiteral("f"));
    }
    QCOMPARE(out.take(), QByteArray("d\ni\nw\nc\nf\n"));

    QStringList general;
    for (const QString &line : readLines(currentPath(false)).mid(generalBefore))
        general.append(linePattern.match(line).captured(3));
    QCOMPARE(general, inGeneral);
    QStringList errors;
    for (const QString &line : readLines(currentPath(true)))
        errors.append(linePattern.match(line).captured(3));
    QCOMPARE(errors, (QStringList{"c", "f"}));
}

void tst_Logger::smallNewestFileIsContinuedAndOldestRemoved()
{
    const QStringList stamps{"2024-01-01_00-00-00-000", "2024-01-02_00-00-00-000", "2024-01-03_00-00-00-000",
                             "2024-01-04_00-00-00-000", "2024-01-05_00-00-00-000", "2024-01-06_00-00-00-000",
                             "2024-01-07_00-00-00-000"};
    makeLogFiles(QStringLiteral("log_"), stamps, Logger::maxLogFileSize - 1);
    QVERIFY(Logger::initialization());
    QCOMPARE(Logger::currentFileName(false), QStringLiteral("log_2024-01-07_00-00-00-000.zqlog"));
    QStringList expected;
    for (const QString &stamp : stamps.mid(2))
        expected.append(QStringLiteral("log_") + stamp + QStringLiteral(".zqlog"));
    QCOMPARE(filesOfKind(QStringLiteral("log_")), expected);

    // A second start-up keeps the same file.
    QVERIFY(Logger::initialization());
    QCOMPARE(Logger::currentFileName(false), QStringLiteral("log_2024-01-07_00-00-00-000.zqlog"));
}

void tst_Logger::fullNewestFileStartsNewOne_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("error");
    QTest::addColumn<int>("existing");
    QTest::newRow("log, 7 files") << "log_" << false << 7;
    QTest::newRow("errors, 7 files") << "errors_" << true << 7;
    QTest::newRow("log, 1 file") << "log_" << false << 1;
    QTest::newRow("log, 5 files") << "log_" << false << 5;
}

void tst_Logger::fullNewestFileStartsNewOne()
{
    QFETCH(QString, prefix);
    QFETCH(bool, error);
    QFETCH(int, existing);
    QStringList stamps;
    for (int i = 0; i < existing; ++i)
        stamps.append(QStringLiteral("2024-01-0%1_00-00-00-000").arg(i + 1));
    makeLogFiles(prefix, stamps, Logger::maxLogFileSize);

    QVERIFY(Logger::createNewLogFile(error));
    const QString current = Logger::currentFileName(error);
    QVERIFY(!stamps.contains(current.mid(prefix.size(), 23)));
    QVERIFY(QRegularExpression(QStringLiteral("^") + prefix + QStringLiteral("\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}-\\d{3}\\.zqlog$"))
                .match(current).hasMatch());
    const QStringList files = filesOfKind(prefix);
    QCOMPARE(files.size(), qMin(existing + 1, Logger::maxLogFiles));
    QVERIFY(files.contains(current));
    QCOMPARE(files.at(files.size() - 2), prefix + stamps.last() + QStringLiteral(".zqlog"));
}

// A new file named after a clock that was set back sorts first; it must not be trimmed.
void tst_Logger::currentFileSurvivesClockSetBack()
{
    QStringList stamps;
    for (int i = 0; i < 6; ++i)
        stamps.append(QStringLiteral("2999-01-0%1_00-00-00-000").arg(i + 1));
    makeLogFiles(QStringLiteral("log_"), stamps, Logger::maxLogFileSize);

    QVERIFY(Logger::createNewLogFile(false));
    const QString current = Logger::currentFileName(false);
    QVERIFY(!current.startsWith(QStringLiteral("log_2999")));
    QVERIFY(QFile::exists(logDir() + QLatin1Char('/') + current));
    const QStringList files = filesOfKind(QStringLiteral("log_"));
    QCOMPARE(files.size(), Logger::maxLogFiles);
    QCOMPARE(files.constFirst(), current);

    HandlerInstalled handler;
    qInfo("still written");
    QVERIFY(readLines(logDir() + QLatin1Char('/') + current).last().endsWith(QStringLiteral(": still written")));
}

void tst_Logger::prefixMatchIsCaseSensitive()
{
    QVERIFY(QDir().mkpath(logDir()));
    const QStringList strangers{"LOG_2024-01-01_00-00-00-000.zqlog", "Log_2024-01-02_00-00-00-000.zqlog",
                                "ERRORS_2024-01-01_00-00-00-000.zqlog", "catalog_2024.zqlog"};
    for (const QString &name : strangers)
        writeFile(logDir() + QLatin1Char('/') + name, "keep\n");
    for (int i = 0; i < 8; ++i)
        writeFile(logDir() + QStringLiteral("/log_2024-02-0%1_00-00-00-000.zqlog").arg(i + 1), "x\n");

    QCOMPARE(Logger::getLogFiles(false).size(), 8);
    QVERIFY(Logger::getLogFiles(true).isEmpty());
    QVERIFY(Logger::initialization());
    QCOMPARE(Logger::currentFileName(false), QStringLiteral("log_2024-02-08_00-00-00-000.zqlog"));
    for (const QString &name : strangers)
        QVERIFY2(QFile::exists(logDir() + QLatin1Char('/') + name), qPrintable(name));
    QCOMPARE(filesOfKind(QStringLiteral("log_")).size(), Logger::maxLogFiles);
}

void tst_Logger::openFailureIsReportedOnceOnStderr()
{
    // A plain file where the folder should be: neither folder nor files can be made.
    writeFile(logDir(), "not a folder");
    OutputCapture err(2);
    OutputCapture out(1);
    QVERIFY(!Logger::initialization());
    QVERIFY(!Logger::initialization());
    {
        HandlerInstalled handler;
        qWarning("lost line");
        qCritical("lost error");
    }
    QVERIFY(!Logger::writeLogLine(QtWarningMsg, QStringLiteral("t "), QMessageLogContext(), QStringLiteral("x"), false));
    const QByteArray printed = out.take();
    QVERIFY(printed.contains("lost line\n"));
    const QList<QByteArray> reports = err.take().trimmed().split('\n');
    QCOMPARE(reports.size(), 2); // one per kind, not one per attempt or line
    QVERIFY(reports.at(0).startsWith("Logger: cannot open "));
    QVERIFY(reports.at(0).contains("/logs/log_"));
    QVERIFY(reports.at(1).contains("/logs/errors_"));

    QVERIFY(QFile::remove(logDir()));
    QVERIFY(Logger::initialization());
}

void tst_Logger::concurrentLinesStayWhole()
{
    QVERIFY(Logger::initialization());
    const int generalBefore = readLines(currentPath(false)).size();
    constexpr int threadCount = 4;
    constexpr int linesPerThread = 25000;
    {
        OutputCapture out(1);
        HandlerInstalled handler;
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < linesPerThread; ++i)
                    qInfo("thread %d line %d padding to make the line a little longer", t, i);
            });
        }
        for (std::thread &thread : threads)
            thread.join();
    }
    const QStringList lines = readLines(currentPath(false)).mid(generalBefore);
    QCOMPARE(lines.size(), threadCount * linesPerThread);
    QVector<int> next(threadCount, 0);
    const QRegularExpression body(QStringLiteral("^thread (\\d) line (\\d+) padding to make the line a little longer$"));
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = linePattern.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const QRegularExpressionMatch parts = body.match(match.captured(3));
        QVERIFY2(parts.hasMatch(), qPrintable(line));
        const int t = parts.captured(1).toInt();
        QCOMPARE(parts.captured(2).toInt(), next[t]++);
    }
}

QTEST_GUILESS_MAIN(tst_Logger)
#include "tst_logger.moc"
