#include "buildconfig.h"
#include "interfacefont.h"
#include "registertypes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSettings>
#include <QtTest>
#include <QtWebEngine>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <memory>

#if __has_include("updatehelper.h")
#include "updatehelper.h"
#define GELV_TEST_HAVE_UPDATER
#endif

// The real window under Xvfb: screenshots of the splash and the home screen (kept in
// the build's test-output folder), and the window geometry across a restart of the
// application binary. No window manager runs, so X requests apply as made.
class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void splashAndHomeScreenshots();
    void interfaceFontResolves();
    void geometryPersistsAcrossRestart();
    void storedPositionOffScreenComesBack_data();
    void storedPositionOffScreenComesBack();

private:
    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;
    };
    bool startApplication(QProcess &process);
    bool quitApplication(QProcess &process);
    Window findWindow(qint64 pid, int timeoutMs);
    Geometry geometryOf(Window window);
    static QString outputPath(const QString &name);

    Display *m_display = nullptr;
};

// Windows come and go while the test looks at them; a request on a vanished one is no error.
static int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

void tst_Window::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(GELV_ORGANISATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    registerQmlTypes();
    QVERIFY(installInterfaceFont());
#ifdef GELV_TEST_HAVE_UPDATER
    UpdateHelper::definitionsURL = QStringLiteral("https://127.0.0.1:9/updates.json");
#endif
    QVERIFY(QDir().mkpath(QStringLiteral(GELV_TEST_OUTPUT_DIR)));
    m_display = XOpenDisplay(nullptr);
    QVERIFY2(m_display, "no X display (run under Xvfb)");
    XSetErrorHandler(ignoreXError);
}

void tst_Window::cleanupTestCase()
{
    if (m_display)
        XCloseDisplay(m_display);
}

QString tst_Window::outputPath(const QString &name)
{
    return QStringLiteral(GELV_TEST_OUTPUT_DIR "/") + name;
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
    QVERIFY(splash);
    QVERIFY(splash->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    const QImage splashImage = splash->grabWindow();
    QVERIFY(!splashImage.isNull());
    QVERIFY(splashImage.save(outputPath(QStringLiteral("splash.png"))));
    QCOMPARE(splashImage.size() / splash->devicePixelRatio(), QSize(400, 400));
    const QColor centre = splashImage.pixelColor(splashImage.width() / 2, splashImage.height() * 3 / 4);
    QVERIFY2(centre.alpha() == 255, "the splash artwork is missing");
    splashObject.reset();

    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    QVERIFY(!engine.rootObjects().isEmpty());
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    QVERIFY(window);
    auto *startSplash = window->property("splashWindow").value<QQuickWindow *>();
    QVERIFY(startSplash);
    QVERIFY(startSplash->isVisible());
    QVERIFY(!window->isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(window->property("initialLoadDone").toBool(), 20000);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(!startSplash->isVisible());
    QSignalSpy frames(window, &QQuickWindow::frameSwapped);
    QVERIFY(frames.wait(5000));
    const QImage home = window->grabWindow();
    QVERIFY(!home.isNull());
    QVERIFY(home.save(outputPath(QStringLiteral("home.png"))));
    QCOMPARE(home.size() / window->devicePixelRatio(), window->size());
    // The window's own colour around the screens, the sidebar's at its bottom left.
    QCOMPARE(window->color(), QColor(QStringLiteral("#2b2b2b")));
    QCOMPARE(home.pixelColor(5, home.height() - 5), QColor(QStringLiteral("#424241")));
}

void tst_Window::interfaceFontResolves()
{
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("openFilePath"), QString());
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    QVERIFY(!engine.rootObjects().isEmpty());
    QTRY_VERIFY(QFontDatabase().families().contains(QStringLiteral("Assistant")));
    // The name the interface uses resolves to the fetched face, not a fallback.
    QCOMPARE(QFontInfo(QFont(QStringLiteral("Assistant Regular"))).family(), QStringLiteral("Assistant"));
    QVERIFY(QFontDatabase().families().contains(QStringLiteral("Assistant Light")));
    // Texts the interface does not style itself use the family too.
    QCOMPARE(QFontInfo(QGuiApplication::font()).family(), QStringLiteral("Assistant"));
    QVERIFY(QFontDatabase().families().contains(QStringLiteral("Assistant ExtraLight")));
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

Window tst_Window::findWindow(qint64 pid, int timeoutMs)
{
    const Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        Window root, parent;
        Window *children = nullptr;
        unsigned int count = 0;
        XSync(m_display, False);
        if (XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count)) {
            for (unsigned int i = 0; i < count; ++i) {
                XWindowAttributes attributes;
                if (!XGetWindowAttributes(m_display, children[i], &attributes) || attributes.map_state != IsViewable)
                    continue;
                char *name = nullptr;
                const bool titled = XFetchName(m_display, children[i], &name) && name
                        && qstrcmp(name, "Gelvantrium") == 0;
                if (name)
                    XFree(name);
                Atom type;
                int format;
                unsigned long items = 0, after = 0;
                unsigned char *data = nullptr;
                qint64 owner = -1;
                if (XGetWindowProperty(m_display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                                       &items, &after, &data) == Success && data) {
                    if (items == 1)
                        owner = static_cast<qint64>(*reinterpret_cast<unsigned long *>(data));
                    XFree(data);
                }
                if (titled && owner == pid) {
                    const Window found = children[i];
                    XFree(children);
                    return found;
                }
            }
            if (children)
                XFree(children);
        }
        QTest::qWait(50);
    }
    return 0;
}

tst_Window::Geometry tst_Window::geometryOf(Window window)
{
    XWindowAttributes attributes;
    XGetWindowAttributes(m_display, window, &attributes);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

void tst_Window::geometryPersistsAcrossRestart()
{
    QFile::remove(QSettings().fileName());

    QProcess first;
    QVERIFY(startApplication(first));
    const Window window = findWindow(first.processId(), 30000);
    QVERIFY2(window, "the application window did not appear");
    XMoveResizeWindow(m_display, window, 123, 77, 1100, 700);
    XSync(m_display, False);
    QTRY_VERIFY_WITH_TIMEOUT(geometryOf(window).width == 1100 && geometryOf(window).x == 123, 5000);
    QTest::qWait(300); // let the application see its new geometry
    QVERIFY2(quitApplication(first), "the application did not quit cleanly");

    QSettings stored(QSettings().fileName(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("ApplicationWindow/x")).toInt(), 123);
    QCOMPARE(stored.value(QStringLiteral("ApplicationWindow/y")).toInt(), 77);
    QCOMPARE(stored.value(QStringLiteral("ApplicationWindow/width")).toInt(), 1100);
    QCOMPARE(stored.value(QStringLiteral("ApplicationWindow/height")).toInt(), 700);

    QProcess second;
    QVERIFY(startApplication(second));
    const Window again = findWindow(second.processId(), 30000);
    QVERIFY2(again, "the application window did not appear after the restart");
    const Geometry geometry = geometryOf(again);
    QCOMPARE(geometry.x, 123);
    QCOMPARE(geometry.y, 77);
    QCOMPARE(geometry.width, 1100);
    QCOMPARE(geometry.height, 700);
    QVERIFY(quitApplication(second));
}

void tst_Window::storedPositionOffScreenComesBack_data()
{
    // The Xvfb screen is 1600x1000; the window keeps 1280x720.
    QTest::addColumn<int>("storedX");
    QTest::addColumn<int>("storedY");
    QTest::addColumn<int>("expectedX");
    QTest::addColumn<int>("expectedY");
    QTest::newRow("right of the screen") << 1700 << 40 << 320 << 40;
    QTest::newRow("far right (was pushed further off)") << 5000 << 40 << 320 << 40;
    QTest::newRow("left of the screen") << -1300 << 40 << 0 << 40;
    QTest::newRow("below the screen") << 60 << 1200 << 60 << 500;
}

void tst_Window::storedPositionOffScreenComesBack()
{
    QFETCH(int, storedX);
    QFETCH(int, storedY);
    QFETCH(int, expectedX);
    QFETCH(int, expectedY);
    {
        QSettings settings;
        settings.clear();
        settings.setValue(QStringLiteral("ApplicationWindow/x"), storedX);
        settings.setValue(QStringLiteral("ApplicationWindow/y"), storedY);
        settings.setValue(QStringLiteral("ApplicationWindow/width"), 1280);
        settings.setValue(QStringLiteral("ApplicationWindow/height"), 720);
    }
    QProcess process;
    QVERIFY(startApplication(process));
    const Window window = findWindow(process.processId(), 30000);
    QVERIFY2(window, "the application window did not appear");
    const Geometry geometry = geometryOf(window);
    QCOMPARE(geometry.x, expectedX);
    QCOMPARE(geometry.y, expectedY);
    QVERIFY(quitApplication(process));
}

int main(int argc, char *argv[])
{
    QtWebEngine::initialize();
    QApplication app(argc, argv);
    tst_Window test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
