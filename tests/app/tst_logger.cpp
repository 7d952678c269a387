#include "../fulldisk.h"
#include "../testsupport.h"
#include "logger.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 MaxSize = 2000000; // bytes per file
constexpr int MaxFiles = 5; // files per kind

// The lines of a log file from line `from` on, each without its timestamp.
QStringList entries(const QString& path, int from = 0)
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    QStringList lines = QString::fromUtf8(fileBytes(path)).split('\n', Qt::SkipEmptyParts).mid(from);
    for (QString& line : lines)
        line.remove(stamp);
    return lines;
}

// Sends one standard stream (1 or 2) to a temporary file until taken back.
class Capture {
public:
    explicit Capture(int fd)
        : m_fd(fd)
    {
        m_file.open();
        std::fflush(nullptr);
        m_saved = ::dup(m_fd);
        ::dup2(m_file.handle(), m_fd);
    }
    ~Capture() { take(); }
    QByteArray take()
    {
        std::fflush(nullptr);
        if (m_saved >= 0)
            ::dup2(m_saved, m_fd), ::close(m_saved);
        m_saved = -1;
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    int m_fd;
    int m_saved = -1;
    QTemporaryFile m_file;
};

// Messages through the logger's handler with standard output captured; Qt Test's handler is put back.
struct Logging : Capture {
    Logging()
        : Capture(1)
    {
    }
    ~Logging() { qInstallMessageHandler(m_previous); }
    QtMessageHandler m_previous = qInstallMessageHandler(Logger::messageHandler);
};

} // namespace

class tst_Logger : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString logPath(const QString& name = {}) const { return Logger::logParentDirectory + "/logs/" + name; }
    QString currentPath(bool error) const { return logPath(Logger::currentFileName(error)); }
    QStringList filesOfKind(const QString& prefix) const
    {
        return QDir(logPath()).entryList({ prefix + '*' }, QDir::Files | QDir::CaseSensitive, QDir::Name);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        // Regression: a first run got no log files when more than the last folder level was missing.
        Logger::logParentDirectory = m_dir->filePath(QStringLiteral("share/Veltrisan/Gelvantrium"));
        Logger::configMinimumLogLevel = 1;
    }

    void cleanup()
    {
        Logger::logParentDirectory.clear();
        m_dir.reset();
    }

    // A bad or missing file is replaced by the default one, with a complaint in the error log.
    // Lines reach the general log from the minimum level on, the error log from Critical on.
    void configSetsTheMinimumLevel_data()
    {
        // content: null: no file
        columns<QByteArray, int, QString>("content", "level", "complaint");
        QTest::newRow("0 with blanks") << QByteArray(" 0 \n") << 0 << QString();
        QTest::newRow("2") << QByteArray("2") << 2 << QString();
        QTest::newRow("4") << QByteArray("4") << 4 << QString();
        QTest::newRow("5") << QByteArray("5") << 1 << "Invalid minimum log level";
        QTest::newRow("-1") << QByteArray("-1") << 1 << "Invalid minimum log level";
        QTest::newRow("x") << QByteArray("x") << 1 << "Failed to read minimum log level";
        // A first start too: the lines go to the files just opened.
        QTest::newRow("missing file") << QByteArray() << 1 << "Failed to open log config file for reading";
    }
    void configSetsTheMinimumLevel()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, level);
        QFETCH(QString, complaint);
        QVERIFY(QDir().mkpath(logPath()));
        if (!content.isNull())
            QVERIFY(writeFile(logPath("config"), content));
        Logger::configMinimumLogLevel = 4;
        Logging logging;
        QVERIFY(Logger::initialization());
        logging.take();
        QCOMPARE(Logger::configMinimumLogLevel.load(), level);
        QCOMPARE(fileBytes(logPath("config")),
            complaint.isEmpty() && !content.isNull() ? content : QByteArray("1\n"));
        const QStringList said
            = complaint.isEmpty() ? QStringList() : QStringList { "Critical default: " + complaint };
        QCOMPARE(entries(currentPath(true)), said);
        const QStringList general = entries(currentPath(false));
        QCOMPARE(general.filter("log config file"),
            said.isEmpty()
                ? QStringList()
                : QStringList { "Info     default: Created new log config file with default values" });

        const QtMsgType types[] = { QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg, QtFatalMsg };
        const char* categories[] = { "default", nullptr, "qml", "default", "Fatal" };
        const QStringList texts { "d", "Grüße: 100% done", "w", "c", "f" };
        const QStringList expected { "Debug    default: d", "Info     default: Grüße: 100% done",
            "Warning  qml: w", "Critical default: c", "Fatal    Fatal: f" };
        Capture out(1);
        // qFatal would end the process after the handler: the handler is called alone.
        for (int i = 0; i < 5; ++i)
            Logger::messageHandler(
                types[i], QMessageLogContext(nullptr, 0, nullptr, categories[i]), texts[i]);
        QCOMPARE(out.take(), (texts.join('\n') + '\n').toLocal8Bit());
        QCOMPARE(entries(currentPath(false), general.size()), expected.mid(level));
        QCOMPARE(entries(currentPath(true)), said + expected.mid(3));
    }

    // Files are kept below 2,000,000 bytes each and 5 of a kind; the prefixes match case-sensitively.
    void rotation_data()
    {
        columns<QString, int, bool>("prefix", "existing", "newestFull");
        QTest::newRow("log, 7 files, newest has room") << "log_" << 7 << false;
        QTest::newRow("log, 7 files, newest full") << "log_" << 7 << true;
        QTest::newRow("errors, 7 files, newest full") << "errors_" << 7 << true;
        QTest::newRow("log, 1 file, newest full") << "log_" << 1 << true;
        // A new file named after a clock that was set back sorts first; it must not be trimmed.
        QTest::newRow("log, 6 files from the future") << "log_" << -6 << true;
    }
    void rotation()
    {
        QFETCH(QString, prefix);
        QFETCH(int, existing);
        QFETCH(bool, newestFull);
        const bool error = prefix == QLatin1String("errors_");
        const QStringList strangers { "LOG_2024-01-01_00-00-00-000.zqlog",
            "ERRORS_2024-01-01_00-00-00-000.zqlog", "catalog_2024.zqlog" };
        QStringList names;
        for (int i = 0; i < qAbs(existing); ++i)
            names.append(prefix
                + QStringLiteral("%1-01-0%2_00-00-00-000.zqlog").arg(existing < 0 ? 2999 : 2024).arg(i + 1));
        QVERIFY(QDir().mkpath(logPath()));
        // A missing config would be reported into the nearly full file.
        QVERIFY(writeFile(logPath("config"), "1\n"));
        for (const QString& name : strangers + names)
            QVERIFY(writeFile(
                logPath(name), name == names.last() ? QByteArray(int(MaxSize - !newestFull), 'x') : "old\n"));

        Logging logging;
        QVERIFY(Logger::initialization());
        const QByteArray said = logging.take();
        const QString current = Logger::currentFileName(error);
        // Regression: file names were written in quotes.
        if (names.size() + newestFull > MaxFiles)
            QVERIFY(said.contains(
                "static bool Logger::verifyFiles(bool) Removed log file: " + names.first().toUtf8() + '\n'));
        QStringList kept = names.mid(qMax(0, names.size() - MaxFiles + newestFull));
        if (newestFull) {
            QVERIFY(said.contains(
                " using new " + QByteArray(error ? "error" : "log") + " file: " + current.toUtf8() + '\n'));
            QVERIFY(
                QRegularExpression("^" + prefix + "\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d-\\d{3}\\.zqlog$")
                    .match(current)
                    .hasMatch());
            kept.insert(existing < 0 ? 0 : kept.size(), current);
        } else {
            QCOMPARE(current, names.last());
        }
        QCOMPARE(filesOfKind(prefix), kept);
        QVERIFY(Logger::initialization());
        QCOMPARE(Logger::currentFileName(error), current);
        for (const QString& name : strangers)
            QVERIFY2(QFile::exists(logPath(name)), qPrintable(name));
        qCritical("still written");
        QVERIFY(entries(logPath(current)).last().endsWith(QStringLiteral("Critical default: still written")));
    }

    // Regression: a line break in a message wrote a line that read as an entry of its own.
    void lineBreaksCannotForgeEntries()
    {
        QVERIFY(Logger::initialization());
        const int before = entries(currentPath(false)).size();
        {
            Logging logging;
            qWarning("first\n2024-01-01 00:00:00.000 Critical default: forged\r\nthird\rfourth");
        }
        QCOMPARE(entries(currentPath(false), before),
            (QStringList { "Warning  default: first", "    2024-01-01 00:00:00.000 Critical default: forged",
                "    third", "    fourth" }));
    }

    // Regression: the size limit was checked only at start, so one run could grow a file without end.
    // Lines from several threads stay whole and in order, also across the change of file.
    void fullFileIsReplacedDuringRun()
    {
        QVERIFY(Logger::initialization());
        const QString first = Logger::currentFileName(false);
        {
            Logging logging;
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t)
                threads.emplace_back([t] {
                    for (int i = 0; i < 600; ++i)
                        qInfo("thread %d line %d %s", t, i, QByteArray(1000, 'p').constData());
                });
            for (std::thread& thread : threads)
                thread.join();
        }
        const QString second = Logger::currentFileName(false);
        QVERIFY(second != first);
        const qint64 firstSize = QFileInfo(logPath(first)).size();
        QVERIFY2(firstSize >= MaxSize && firstSize < MaxSize + 1100, qPrintable(QString::number(firstSize)));
        const QStringList lines = (entries(logPath(first)) + entries(logPath(second))).filter("thread ");
        QCOMPARE(lines.size(), 2400);
        QVector<int> next(4, 0);
        const QRegularExpression body(QStringLiteral("^Info     default: thread (\\d) line (\\d+) p{1000}$"));
        for (const QString& line : lines) {
            const QRegularExpressionMatch parts = body.match(line);
            QVERIFY2(parts.hasMatch(), qPrintable(line));
            QCOMPARE(parts.captured(2).toInt(), next[parts.captured(1).toInt()]++);
        }
    }

    // Regression: on a full disk initialization() succeeded with empty files, the config was cut
    // to nothing when rewritten, and no lost line was reported. Each kind is reported once.
    void lostLinesAreReportedOnce_data()
    {
        columns<QStringList>("reports");
        QTest::newRow("full disk") << QStringList { "Logger: cannot write errors_",
            "Logger: cannot write log_", "Logger: no space left for errors_",
            "Logger: no space left for log_" };
        // A plain file where the folder should be: neither folder nor files can be made.
        QTest::newRow("file for folder")
            << QStringList { "Logger: cannot open errors_", "Logger: cannot open log_" };
    }
    void lostLinesAreReportedOnce()
    {
        QFETCH(QStringList, reports);
        const bool full = QTest::currentDataTag() == QLatin1String("full disk");
        GELV_FULL_DISK(disk, full, m_dir->path());
        QVERIFY(QDir().mkpath(full ? logPath() : Logger::logParentDirectory));
        QVERIFY(writeFile(full ? logPath("config") : logPath().chopped(1), "x"));
        if (disk)
            QVERIFY(disk->fill(0));
        Capture err(2);
        {
            Logging logging;
            QVERIFY(!Logger::initialization());
            QVERIFY(!Logger::initialization());
            qWarning("lost line");
            qCritical("lost error");
            QVERIFY(logging.take().contains("lost line\n"));
        }
        QStringList said = QString::fromLocal8Bit(err.take()).trimmed().split('\n');
        said.replaceInStrings(QRegularExpression("^(Logger: [a-z ]+ )\\S*/logs/(log_|errors_).*$"), "\\1\\2");
        said.sort();
        QCOMPARE(said, reports);
        QCOMPARE(fileBytes(logPath("config")), QByteArray(full ? "x" : ""));
        // Logging resumes elsewhere, and lets go of the files so that the small disk can be unmounted.
        QTemporaryDir elsewhere;
        Logger::logParentDirectory = elsewhere.path();
        QVERIFY(Logger::initialization());
    }
};

QTEST_GUILESS_MAIN(tst_Logger)
#include "tst_logger.moc"
