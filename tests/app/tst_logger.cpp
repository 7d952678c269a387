#include "logger.h"
#include "outputcapture.h"
#include "../fulldisk.h"

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

// The message part of each line.
QStringList messages(const QStringList &lines)
{
    QStringList result;
    for (const QString &line : lines)
        result.append(linePattern.match(line).captured(3));
    return result;
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

    QString logDir() const { return m_dir->filePath(QStringLiteral("logs")); }
    QString logPath(const QString &name) const { return logDir() + QLatin1Char('/') + name; }
    QString currentPath(bool error) const { return logPath(Logger::currentFileName(error)); }

    QStringList filesOfKind(const QString &prefix) const
    {
        return QDir(logDir()).entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::CaseSensitive, QDir::Name);
    }

    // Old files of a few bytes, the newest of newestSize bytes, and files
    // that rotation must leave alone: the prefixes match case-sensitively.
    const QStringList strangers{"LOG_2024-01-01_00-00-00-000.zqlog", "ERRORS_2024-01-01_00-00-00-000.zqlog",
                                "catalog_2024.zqlog"};
    void makeLogFiles(const QStringList &names, qint64 newestSize)
    {
        QVERIFY(QDir().mkpath(logDir()));
        for (const QString &name : strangers + names)
            writeFile(logPath(name), name == names.last() ? QByteArray(int(newestSize), 'x') : QByteArray("old\n"));
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        Logger::logParentDirectory = m_dir->path();
        Logger::configMinimumLogLevel = Logger::configDefaultMinimumLogLevel;
    }

    void cleanup()
    {
        Logger::logParentDirectory.clear();
        m_dir.reset();
    }

    void lineHasTimestampLabelAndCategory_data()
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
    void lineHasTimestampLabelAndCategory()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, category);
        QFETCH(QString, label);
        QFETCH(QString, expectedCategory);
        QVERIFY(Logger::initialization());
        Logger::configMinimumLogLevel = 0;
        QMessageLogContext context(nullptr, 0, nullptr, category.isNull() ? nullptr : category.constData());
        const QString message = QStringLiteral("Grüße: 100% done");
        OutputCapture out(1);
        Logger::messageHandler(QtMsgType(type), context, message);
        QCOMPARE(out.take(), message.toLocal8Bit() + '\n');
        const QString line = readLines(currentPath(false)).last();
        const QRegularExpressionMatch match = linePattern.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(1) + match.captured(2) + ": " + match.captured(3), label + expectedCategory + ": " + message);
    }

    // A first run used to get no log files: only the last folder level was created.
    void missingFolderIsCreatedWithParents()
    {
        Logger::logParentDirectory = m_dir->filePath(QStringLiteral("share/Veltrisan/Gelvantrium"));
        QVERIFY(Logger::initialization());
        QCOMPARE(Logger::getLogFiles(false).size(), 1);
        QCOMPARE(Logger::getLogFiles(true).size(), 1);
        QVERIFY(QFile::exists(Logger::getLogDirectory().filePath(QStringLiteral("config"))));
    }

    void configIsParsed_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("blanks around 2") << QByteArray(" 2 \n") << 2 << QString();
        QTest::newRow("0") << QByteArray("0\n") << 0 << QString();
        QTest::newRow("4") << QByteArray("4") << 4 << QString();
        QTest::newRow("5") << QByteArray("5") << 1 << "Invalid minimum log level";
        QTest::newRow("-1") << QByteArray("-1") << 1 << "Invalid minimum log level";
        QTest::newRow("x") << QByteArray("x") << 1 << "Failed to read minimum log level";
        // Regression: every first start printed a complaint.
        QTest::newRow("missing file, nothing said") << QByteArray() << 1 << QString();
    }
    // A bad or missing file is replaced by the default one; a bad one with a complaint in the error log.
    void configIsParsed()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, level);
        QFETCH(QString, complaint);
        QVERIFY(QDir().mkpath(logDir()));
        if (!content.isNull())
            writeFile(logPath(QStringLiteral("config")), content);
        Logger::configMinimumLogLevel = 4;

        HandlerInstalled handler;
        QVERIFY(Logger::initialization());
        QCOMPARE(Logger::configMinimumLogLevel.load(), level);
        QFile config(logPath(QStringLiteral("config")));
        QVERIFY(config.open(QIODevice::ReadOnly));
        QCOMPARE(config.readAll(), complaint.isEmpty() && !content.isNull() ? content : QByteArray("1\n"));
        const QStringList errors = readLines(currentPath(true));
        QCOMPARE(errors.size(), complaint.isEmpty() ? 0 : 1);
        QCOMPARE(readLines(currentPath(false)).filter("Created new log config file").size(),
            complaint.isEmpty() ? 0 : 1);
        if (!complaint.isEmpty())
            QVERIFY2(errors.constFirst().endsWith("Critical default: " + complaint), qPrintable(errors.constFirst()));
    }

    void routingFollowsMinimumLevel_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<QStringList>("inGeneral");
        QTest::newRow("0 debug") << 0 << QStringList{"d", "i", "w", "c", "f"};
        QTest::newRow("2 warning") << 2 << QStringList{"w", "c", "f"};
        QTest::newRow("4 fatal") << 4 << QStringList{"f"};
    }
    void routingFollowsMinimumLevel()
    {
        QFETCH(int, minimum);
        QFETCH(QStringList, inGeneral);
        QVERIFY(QDir().mkpath(logDir()));
        writeFile(logPath(QStringLiteral("config")), QByteArray::number(minimum) + '\n');
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
        QCOMPARE(messages(readLines(currentPath(false)).mid(generalBefore)), inGeneral);
        QCOMPARE(messages(readLines(currentPath(true))), (QStringList{"c", "f"}));
    }

    // Files are kept below 2,000,000 bytes each and 5 of a kind.
    void rotation_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("existing");
        QTest::addColumn<bool>("newestFull");
        QTest::newRow("log, 7 files, newest has room") << "log_" << 7 << false;
        QTest::newRow("log, 7 files, newest full") << "log_" << 7 << true;
        QTest::newRow("errors, 7 files, newest full") << "errors_" << 7 << true;
        QTest::newRow("log, 1 file, newest full") << "log_" << 1 << true;
    }
    void rotation()
    {
        QFETCH(QString, prefix);
        QFETCH(int, existing);
        QFETCH(bool, newestFull);
        const bool error = prefix == QLatin1String("errors_");
        QStringList names;
        for (int i = 0; i < existing; ++i)
            names.append(prefix + QStringLiteral("2024-01-0%1_00-00-00-000.zqlog").arg(i + 1));
        makeLogFiles(names, newestFull ? Logger::maxLogFileSize : Logger::maxLogFileSize - 1);

        OutputCapture out(1);
        {
            HandlerInstalled handler;
            QVERIFY(Logger::initialization());
        }
        const QByteArray said = out.take();
        const QString current = Logger::currentFileName(error);
        // Regression: file names were written in quotes.
        if (existing == 7)
            QVERIFY(said.contains(
                "static bool Logger::verifyFiles(bool) Removed log file: " + names.first().toUtf8() + '\n'));
        QStringList expected = names;
        if (newestFull) {
            QVERIFY(said.contains(
                " using new " + QByteArray(error ? "error" : "log") + " file: " + current.toUtf8() + '\n'));
            QVERIFY(QRegularExpression("^" + prefix + "\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}-\\d{3}\\.zqlog$")
                        .match(current).hasMatch());
            QVERIFY(!names.contains(current));
            expected.append(current);
        } else {
            QCOMPARE(current, names.last());
        }
        QCOMPARE(filesOfKind(prefix), expected.mid(qMax(0, expected.size() - Logger::maxLogFiles)));
        QVERIFY(Logger::initialization());
        QCOMPARE(Logger::currentFileName(error), current);
        for (const QString &name : strangers)
            QVERIFY2(QFile::exists(logPath(name)), qPrintable(name));
    }

    // A new file named after a clock that was set back sorts first; it must not be trimmed.
    void currentFileSurvivesClockSetBack()
    {
        QStringList names;
        for (int i = 0; i < 6; ++i)
            names.append(QStringLiteral("log_2999-01-0%1_00-00-00-000.zqlog").arg(i + 1));
        makeLogFiles(names, Logger::maxLogFileSize);

        QVERIFY(Logger::createNewLogFile(false));
        const QString current = Logger::currentFileName(false);
        const QStringList files = filesOfKind(QStringLiteral("log_"));
        QCOMPARE(files.size(), Logger::maxLogFiles);
        QCOMPARE(files.constFirst(), current);
        QVERIFY(!names.contains(current));

        HandlerInstalled handler;
        qInfo("still written");
        QVERIFY(readLines(logPath(current)).last().endsWith(QStringLiteral(": still written")));
    }

    // Regression: a line break in a message wrote a line that read as an entry of its own.
    void lineBreaksCannotForgeEntries()
    {
        QVERIFY(Logger::initialization());
        const int before = readLines(currentPath(false)).size();
        {
            OutputCapture out(1);
            HandlerInstalled handler;
            qWarning("first\n2024-01-01 00:00:00.000 Critical default: forged\r\nthird\rfourth");
        }
        const QStringList lines = readLines(currentPath(false)).mid(before);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(messages(lines.mid(0, 1)), QStringList{"first"});
        QCOMPARE(lines.mid(1),
            (QStringList {
                "    2024-01-01 00:00:00.000 Critical default: forged", "    third", "    fourth" }));
    }

    // Regression: the size limit was checked only at start, so one run could grow a file without end.
    void fullFileIsReplacedDuringRun()
    {
        QVERIFY(Logger::initialization());
        const QString first = Logger::currentFileName(false);
        const QByteArray padding(1000, 'p');
        {
            OutputCapture out(1);
            HandlerInstalled handler;
            for (int i = 0; i < 2100; ++i)
                qInfo("%04d %s", i, padding.constData());
        }
        const QString second = Logger::currentFileName(false);
        QVERIFY(second != first);
        const qint64 firstSize = QFileInfo(logPath(first)).size();
        QVERIFY2(firstSize >= Logger::maxLogFileSize && firstSize < Logger::maxLogFileSize + 1100,
                 qPrintable(QString::number(firstSize)));
        const QStringList continued = messages(readLines(logPath(second)));
        QCOMPARE(messages(readLines(logPath(first))).last().left(4).toInt() + 1,
            continued.constFirst().left(4).toInt());
        QCOMPARE(continued.constLast().left(4), QStringLiteral("2099"));
    }

    // Regression: on a full disk initialization() succeeded with empty files, the
    // config was cut to nothing when rewritten, and no lost line was reported.
    void fullDiskIsReported()
    {
        std::unique_ptr<FullDisk> disk(new FullDisk(m_dir->path()));
        if (!disk->mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        QVERIFY(QDir().mkpath(logDir()));
        writeFile(logPath(QStringLiteral("config")), "x");
        QVERIFY(disk->fill(0));
        QByteArray reports;
        {
            OutputCapture err(2);
            OutputCapture out(1);
            HandlerInstalled handler;
            QVERIFY(!Logger::initialization());
            qCritical("lost");
            qCritical("lost again");
            reports = err.take();
        }
        QFile config(logPath(QStringLiteral("config")));
        QVERIFY(config.open(QIODevice::ReadOnly));
        QCOMPARE(config.readAll(), QByteArray("x"));
        const QStringList lines = QString::fromLocal8Bit(reports).trimmed().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4); // once per kind, not per line
        for (const char *kind : {"/logs/log_", "/logs/errors_"}) {
            QCOMPARE(lines.filter("Logger: no space left for ").filter(kind).size(), 1);
            QCOMPARE(lines.filter("Logger: cannot write ").filter(kind).size(), 1);
        }
        // Let go of the files so that the small disk can be unmounted.
        QTemporaryDir elsewhere;
        Logger::logParentDirectory = elsewhere.path();
        QVERIFY(Logger::initialization());
        disk.reset();
    }

    void openFailureIsReportedOnceOnStderr()
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
        QVERIFY(out.take().contains("lost line\n"));
        const QList<QByteArray> reports = err.take().trimmed().split('\n');
        QCOMPARE(reports.size(), 2); // one per kind, not one per attempt or line
        QVERIFY(reports.at(0).startsWith("Logger: cannot open ") && reports.at(0).contains("/logs/log_"));
        QVERIFY(reports.at(1).contains("/logs/errors_"));

        QVERIFY(QFile::remove(logDir()));
        QVERIFY(Logger::initialization());
    }

    void concurrentLinesStayWhole()
    {
        QVERIFY(Logger::initialization());
        const int generalBefore = readLines(currentPath(false)).size();
        constexpr int threadCount = 4;
        constexpr int linesPerThread = 4000; // all in one file: below the 2,000,000-byte limit
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
            const QRegularExpressionMatch parts = body.match(linePattern.match(line).captured(3));
            QVERIFY2(parts.hasMatch(), qPrintable(line));
            QCOMPARE(parts.captured(2).toInt(), next[parts.captured(1).toInt()]++);
        }
    }
};

QTEST_GUILESS_MAIN(tst_Logger)
#include "tst_logger.moc"
