#include "guitest.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QSettings>
#include <QStandardPaths>

#include <csignal>
#include <memory>

// The real window under Xvfb: screenshots of the splash and the home screen, and the
// window geometry across a restart of the application binary. No window manager runs,
// so the window moves exactly as xdotool asks.
class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void splashAndHomeScreenshots();
    void geometryPersistsAcrossRestart();

private:
    bool startApplication(QProcess &process);
    bool quitApplication(QProcess &process);
};

// What xdotool writes, "" when it gives nothing within the time.
static QString xdotool(const QStringList &arguments, int timeoutMs = 5000)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The process's visible main window (the splash has another title).
static QString findWindow(const QProcess &process)
{
    return xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--pid"), QString::number(process.processId()), QStringLiteral("--name"),
                    QStringLiteral("^Gelvantrium$")},
                   30000).section(QLatin1Char('\n'), 0, 0);
}

static QRect geometryOf(const QString &window)
{
    QHash<QString, int> values; // from lines like "WIDTH=1100"
    const QString shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QString &line : shell.split(QLatin1Char('\n')))
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
    return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                 values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
}

void tst_Window::initTestCase()
{
    QVERIFY(GuiTest::setUpApplication());
}

void tst_Window::splashAndHomeScreenshots()
{
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("openFilePath"), QString());

    // The splash on its own: in the application it shows only while the screens load.
    QQmlComponent splashComponent(&engine, QUrl(QStringLiteral("qrc:/components/screen/ScreenSplash.qml")));
    std::unique_ptr<QObject> splashObject(splashComponent.create());
    QVERIFY2(splashObject, qPrintable(splashComponent.errorString()));
    auto *splash = qobject_cast<QQuickWindow *>(splashObject.get());
    QVERIFY(splash && QTest::qWaitForWindowExposed(splash));
    const QImage splashImage = GuiTest::saveScreenshot(splash, QStringLiteral("splash.png"));
    QCOMPARE(splashImage.size() / splash->devicePixelRatio(), QSize(400, 400));
    const QColor centre = splashImage.pixelColor(splashImage.width() / 2, splashImage.height() * 3 / 4);
    QVERIFY2(centre.alpha() == 255, "the splash artwork is missing");
    splashObject.reset();

    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    QVERIFY(!engine.rootObjects().isEmpty());
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    QVERIFY(window);
    QTRY_VERIFY_WITH_TIMEOUT(window->property("initialLoadDone").toBool(), 20000);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QImage home = GuiTest::saveScreenshot(window, QStringLiteral("home.png"));
    QCOMPARE(home.size() / window->devicePixelRatio(), window->size());
    // The sidebar's colour at the bottom left.
    QCOMPARE(home.pixelColor(5, home.height() - 5), QColor(QStringLiteral("#424241")));

    // The names the interface uses resolve to the fetched faces, not a fallback, and so
    // do texts the interface does not style itself.
    QCOMPARE(QFontInfo(QFont(QStringLiteral("Assistant Regular"))).family(), QStringLiteral("Assistant"));
    QCOMPARE(QFontInfo(QGuiApplication::font()).family(), QStringLiteral("Assistant"));
    for (const char *family : {"Assistant Light", "Assistant ExtraLight"})
        QVERIFY2(QFontDatabase().families().contains(QLatin1String(family)), family);
}

bool tst_Window::startApplication(QProcess &process)
{
    process.setProgram(QStringLiteral(GELV_APP_BINARY));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    return process.waitForStarted(10000);
}

// SIGTERM is the application's quit request: with no open document the window closes
// and the settings are written as on any quit.
bool tst_Window::quitApplication(QProcess &process)
{
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void tst_Window::geometryPersistsAcrossRestart()
{
    QFile::remove(QSettings().fileName());
    const QRect moved(123, 77, 1100, 700);

    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is needed to move the window");

    QProcess first;
    QVERIFY(startApplication(first));
    const QString window = findWindow(first);
    QVERIFY2(!window.isEmpty(), "the application window did not appear");
    xdotool({QStringLiteral("windowsize"), window, QString::number(moved.width()), QString::number(moved.height())});
    xdotool({QStringLiteral("windowmove"), window, QString::number(moved.x()), QString::number(moved.y())});
    QTRY_COMPARE_WITH_TIMEOUT(geometryOf(window), moved, 5000);
    QTest::qWait(300); // let the application see its new geometry
    QVERIFY2(quitApplication(first), "the application did not quit cleanly");

    QSettings stored(QSettings().fileName(), QSettings::IniFormat);
    stored.beginGroup(QStringLiteral("ApplicationWindow"));
    QCOMPARE(QRect(stored.value(QStringLiteral("x")).toInt(), stored.value(QStringLiteral("y")).toInt(),
                   stored.value(QStringLiteral("width")).toInt(), stored.value(QStringLiteral("height")).toInt()),
             moved);

    QProcess second;
    QVERIFY(startApplication(second));
    const QString again = findWindow(second);
    QVERIFY2(!again.isEmpty(), "the application window did not appear after the restart");
    QCOMPARE(geometryOf(again), moved);
    QVERIFY(quitApplication(second));
}

GELV_GUI_TEST_MAIN(tst_Window)

#include "tst_window.moc"
