// Starts the real application under the X server that the test runs in.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class tst_Gelvantrium : public QObject
{
    Q_OBJECT
private slots:
    void startsLogsAndQuitsOnRequest();
    void brokenRootQmlExitsWithMinusOne();

private:
    static QDir logDirectory();
    static QString windowId(QProcess &app, int timeoutMs);
};

QDir tst_Gelvantrium::logDirectory()
{
    // The application's data location: <data home>/<organisation>/<application>.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                + QStringLiteral("/Veltrisan/Gelvantrium/logs"));
}

// The id of the application's visible main window, or "" once the time is up.
QString tst_Gelvantrium::windowId(QProcess &app, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs && app.state() == QProcess::Running) {
        QProcess search;
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                 QStringLiteral("--pid"), QString::number(app.processId()),
                                                 QStringLiteral("--name"), QStringLiteral("^Gelvantrium$")});
        search.waitForFinished(5000);
        const QString found = QString::fromUtf8(search.readAllStandardOutput()).trimmed();
        if (!found.isEmpty())
            return found.section(QLatin1Char('\n'), 0, 0);
        QTest::qWait(200);
    }
    return QString();
}

void tst_Gelvantrium::startsLogsAndQuitsOnRequest()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is needed to see the window");
    QVERIFY2(qEnvironmentVariableIsSet("XDG_DATA_HOME"), "run through tests/isolated.sh");
    QVERIFY(!logDirectory().exists());

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(GELV_APP_BINARY), QStringList());
    QVERIFY2(app.waitForStarted(10000), qPrintable(app.errorString()));

    QVERIFY2(!windowId(app, 60000).isEmpty(), "no visible window named Gelvantrium");

    const QStringList logs = logDirectory().entryList({QStringLiteral("log_*.zqlog")}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QFile log(logDirectory().filePath(logs.constFirst()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray content = log.readAll();
    QVERIFY2(content.contains("Info     default: Created new log config file with default values\n"), content.constData());
    QVERIFY(logDirectory().exists(QStringLiteral("config")));
    QCOMPARE(logDirectory().entryList({QStringLiteral("errors_*.zqlog")}, QDir::Files).size(), 1);

    // The quit request goes through the window's close path, which may first
    // take a step of its own (leaving the home screen); ask until it ends.
    QElapsedTimer timer;
    timer.start();
    while (app.state() == QProcess::Running && timer.elapsed() < 20000) {
        app.terminate();
        app.waitForFinished(1000);
    }
    if (app.state() == QProcess::Running) {
        app.kill();
        app.waitForFinished(5000);
        QFAIL("the application did not quit on request");
    }
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    // Every message also goes to standard output; the folder line is a debug one.
    const QByteArray output = app.readAllStandardOutput();
    const QByteArray dirLine = '"' + QFileInfo(QStringLiteral(GELV_APP_BINARY)).absolutePath().toUtf8() + "\"\n";
    QVERIFY2(output.contains(dirLine), output.constData());
}

void tst_Gelvantrium::brokenRootQmlExitsWithMinusOne()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GELV_ROOT_QML"), QStringLiteral(GELV_TEST_DATA_DIR "/broken.qml"));
    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(QStringLiteral(GELV_APP_BINARY), QStringList());
    QVERIFY(app.waitForStarted(10000));
    QVERIFY(app.waitForFinished(30000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 255); // -1
    QVERIFY2(app.readAll().contains("broken.qml"), "the load error reaches the output");
}

QTEST_GUILESS_MAIN(tst_Gelvantrium)
#include "tst_gelvantrium.moc"
