// The real application under the X server the test runs in. No window manager runs,
// so the window moves exactly as xdotool asks.
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What xdotool writes, "" when it gives nothing within the time.
QString xdotool(const QStringList& arguments, int timeoutMs = 5000)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The process's visible main window (the splash has another title).
QString findWindow(const QProcess& process)
{
    return xdotool({ "search", "--sync", "--onlyvisible", "--pid", QString::number(process.processId()),
                       "--name", "^Gelvantrium$" },
        60000)
        .section(QLatin1Char('\n'), 0, 0);
}

QRect geometryOf(const QString& window)
{
    QHash<QString, int> values; // from lines like "WIDTH=1100"
    for (const QString& line : xdotool({ "getwindowgeometry", "--shell", window }).split(QLatin1Char('\n')))
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
}

// SIGTERM is the quit request: with no open document the window closes and settings are written.
bool quit(QProcess& process)
{
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The permission bits of a file or folder, -1 when it is missing.
int modeOf(const QString& path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return int(status.st_mode & 0777);
}

// Starts a build with its root QML replaced by a file of the test data; the test-hooks build obeys.
void startWith(QProcess& app, const char* binary, const char* qml)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GELV_ROOT_QML"), QStringLiteral(GELV_TEST_DATA_DIR "/") + qml);
    environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    app.setProcessEnvironment(environment);
    if (app.processChannelMode() == QProcess::SeparateChannels)
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QString::fromUtf8(binary), QStringList());
}

// True when the process says `text` on standard output within 30 s.
bool says(QProcess& app, const QByteArray& text)
{
    QByteArray output;
    const QDeadlineTimer deadline(30000);
    while (!(output += app.readAllStandardOutput()).contains(text) && !deadline.hasExpired())
        app.waitForReadyRead(100);
    return output.contains(text);
}

} // namespace

class tst_Gelvantrium : public QObject {
    Q_OBJECT
private slots:
    void logsAndKeepsGeometryAcrossRestart();
    void brokenRootQmlExitsWithMinusOne();
    void terminationEndsTheProgramDespiteItsPrompt();
    void webPageShowsWhenRunAsRoot();
};

void tst_Gelvantrium::logsAndKeepsGeometryAcrossRestart()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is needed to see and move the window");
    const QDir logs(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Veltrisan/Gelvantrium/logs"));
    const QString settingsFile
        = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Veltrisan/Gelvantrium.conf");
    const QRect moved(123, 77, 1100, 700);
    // The settings as an earlier version left them: readable by everyone.
    const QString settingsFolder = QFileInfo(settingsFile).absolutePath();
    QVERIFY(QDir().mkpath(settingsFolder));
    QCOMPARE(::chmod(QFile::encodeName(settingsFolder).constData(), 0755), 0);
    {
        QFile stored(settingsFile);
        QVERIFY(stored.open(QIODevice::WriteOnly));
        stored.write("[distributionPassword]\npassword=Abcdefgh12#z\n");
    }
    QCOMPARE(::chmod(QFile::encodeName(settingsFile).constData(), 0644), 0);

    // The shipped program is steered by no test variable.
    QProcess first;
    startWith(first, GELV_APP_BINARY, "broken.qml");
    const QString window = findWindow(first);
    QVERIFY2(!window.isEmpty(), "no visible window named Gelvantrium");
    QCOMPARE(logs.entryList({ QStringLiteral("log_*.zqlog") }, QDir::Files).size(), 1);
    QCOMPARE(logs.entryList({ QStringLiteral("errors_*.zqlog") }, QDir::Files).size(), 1);
    QFile config(logs.filePath(QStringLiteral("config")));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), QByteArray("1\n"));

    // Under load xdotool sometimes moves a window that is still settling to the wrong place: ask again.
    for (int attempt = 1; attempt <= 5 && geometryOf(window) != moved; ++attempt) {
        xdotool({ "windowsize", window, QString::number(moved.width()), QString::number(moved.height()) });
        xdotool({ "windowmove", window, QString::number(moved.x()), QString::number(moved.y()) });
        QTest::qWait(200 * attempt);
    }
    QCOMPARE(geometryOf(window), moved);
    QTest::qWait(300); // let the application see its new geometry
    QVERIFY2(quit(first), "the application did not quit cleanly");
    // Regression: a first start printed a complaint about the missing log
    // config and a bare folder line.
    const QByteArray output = first.readAllStandardOutput();
    QVERIFY2(!output.contains("log config file")
            && !output.contains(QFileInfo(QStringLiteral(GELV_APP_BINARY)).absolutePath().toUtf8()),
        output.constData());

    // They hold the distribution password and the group key: the user's alone, also
    // after the application has rewritten the file.
    QCOMPARE(modeOf(settingsFolder), 0700);
    QCOMPARE(modeOf(settingsFile), 0600);
    QSettings stored(settingsFile, QSettings::IniFormat);
    QVERIFY(stored.contains(QStringLiteral("User/printerModels")));
    stored.beginGroup(QStringLiteral("ApplicationWindow"));
    QCOMPARE(QRect(stored.value("x").toInt(), stored.value("y").toInt(), stored.value("width").toInt(),
                 stored.value("height").toInt()),
        moved);

    QProcess second;
    second.setStandardOutputFile(QProcess::nullDevice());
    startWith(second, GELV_APP_BINARY, "broken.qml");
    const QString again = findWindow(second);
    QVERIFY2(!again.isEmpty(), "the window did not appear after the restart");
    QCOMPARE(geometryOf(again), moved);
    QVERIFY(quit(second));
}

void tst_Gelvantrium::brokenRootQmlExitsWithMinusOne()
{
    QProcess app;
    app.setProcessChannelMode(QProcess::MergedChannels);
    startWith(app, GELV_TESTHOOKS_BINARY, "broken.qml");
    QVERIFY(app.waitForFinished(30000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 255); // -1
    QVERIFY2(app.readAll().contains("broken.qml"), "the load error reaches the output");
}

// Regression: with a save prompt waiting, SIGTERM only showed the prompt and the
// process waited for SIGKILL, holding up service stops and shutdown.
void tst_Gelvantrium::terminationEndsTheProgramDespiteItsPrompt()
{
    QProcess app;
    startWith(app, GELV_TESTHOOKS_BINARY, "refusesclose.qml");
    QVERIFY(says(app, "window shown\n"));
    QVERIFY2(quit(app), "SIGTERM did not end the program");
    const QDir logs(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Veltrisan/Gelvantrium/logs"));
    QFile log(logs.filePath(
        logs.entryList({ QStringLiteral("log_*.zqlog") }, QDir::Files, QDir::Name).constLast()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith("Info     default: Quitting on SIGTERM; unsaved changes are discarded\n"));
}

// Regression: as root, Chromium refused to start without its sandbox turned off,
// and ended the program when Help was first opened.
void tst_Gelvantrium::webPageShowsWhenRunAsRoot()
{
    if (::geteuid() != 0)
        QSKIP("needs to run as root");
    QProcess app;
    startWith(app, GELV_TESTHOOKS_BINARY, "webpage.qml");
    QVERIFY(says(app, "page loaded\n"));
    QVERIFY(quit(app));
}

QTEST_GUILESS_MAIN(tst_Gelvantrium)
#include "tst_gelvantrium.moc"
