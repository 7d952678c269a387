#include "guitest.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QSettings>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <memory>

// The real window under Xvfb: screenshots of the splash and the home screen, and the
// window geometry across a restart of the application binary. No window manager runs,
// so X requests apply as made.
class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void splashAndHomeScreenshots();
    void geometryPersistsAcrossRestart();

private:
    bool startApplication(QProcess &process);
    bool quitApplication(QProcess &process);
    Window findWindow(qint64 pid, int timeoutMs);
    QRect geometryOf(Window window);

    Display *m_display = nullptr;
};

// Windows come and go while the test looks at them; a request on a vanished one is no error.
static int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

void tst_Window::initTestCase()
{
    QVERIFY(GuiTest::setUpApplication());
    m_display = XOpenDisplay(nullptr);
    QVERIFY2(m_display, "no X display (run under Xvfb)");
    XSetErrorHandler(ignoreXError);
}

void tst_Window::cleanupTestCase()
{
    if (m_display)
        XCloseDisplay(m_display);
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

// The mapped main window of the process (the splash has another title).
Window tst_Window::findWindow(qint64 pid, int timeoutMs)
{
    const Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
    QElapsedTimer timer;
    timer.start();
    for (; timer.elapsed() < timeoutMs; QTest::qWait(50)) {
        Window root, parent, *children = nullptr, found = 0;
        unsigned int count = 0;
        XSync(m_display, False);
        if (!XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count))
            continue;
        for (unsigned int i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(m_display, children[i], &attributes) || attributes.map_state != IsViewable)
                continue;
            char *name = nullptr;
            const bool titled = XFetchName(m_display, children[i], &name) && name && qstrcmp(name, "Gelvantrium") == 0;
            if (name)
                XFree(name);
            Atom type;
            int format;
            unsigned long items = 0, after = 0;
            unsigned char *data = nullptr;
            if (XGetWindowProperty(m_display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                                   &after, &data) == Success && data) {
                if (titled && items == 1 && static_cast<qint64>(*reinterpret_cast<unsigned long *>(data)) == pid)
                    found = children[i];
                XFree(data);
            }
        }
        if (children)
            XFree(children);
        if (found)
            return found;
    }
    return 0;
}

QRect tst_Window::geometryOf(Window window)
{
    XWindowAttributes attributes;
    XGetWindowAttributes(m_display, window, &attributes);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return QRect(x, y, attributes.width, attributes.height);
}

void tst_Window::geometryPersistsAcrossRestart()
{
    QFile::remove(QSettings().fileName());
    const QRect moved(123, 77, 1100, 700);

    QProcess first;
    QVERIFY(startApplication(first));
    const Window window = findWindow(first.processId(), 30000);
    QVERIFY2(window, "the application window did not appear");
    XMoveResizeWindow(m_display, window, moved.x(), moved.y(), moved.width(), moved.height());
    XSync(m_display, False);
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
    const Window again = findWindow(second.processId(), 30000);
    QVERIFY2(again, "the application window did not appear after the restart");
    QCOMPARE(geometryOf(again), moved);
    QVERIFY(quitApplication(second));
}

GELV_GUI_TEST_MAIN(tst_Window)

#include "tst_window.moc"
