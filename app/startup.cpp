#include "startup.h"

#include <QColor>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>

#ifdef GELV_HAVE_X11
#include <X11/Xlib.h>
#endif

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int terminationPipe[2] = { -1, -1 };

void onTerminationSignal(int)
{
    const char byte = 1;
    if (::write(terminationPipe[1], &byte, 1) < 0) {
        // Nothing safe to do inside a signal handler.
    }
}

} // namespace

namespace Startup {

QString openFilePath(const QStringList& arguments)
{
    // An empty argument names no file; made absolute it would name the
    // current folder.
    if (arguments.size() < 2 || arguments.at(1).isEmpty())
        return QString();
    QString path = arguments.at(1);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // "file:///" + a relative name would name a file in the root folder.
    path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    path.replace(QLatin1Char('%'), QLatin1String("%25"));
    path.replace(QLatin1Char('#'), QLatin1String("%23"));
    path.replace(QLatin1Char('?'), QLatin1String("%3F"));
    return QStringLiteral("file:///") + path;
}

QUrl rootQmlUrl(const QString& overridePath)
{
    if (!overridePath.isEmpty())
        return QUrl::fromLocalFile(QDir::current().absoluteFilePath(overridePath));
    return QUrl(QStringLiteral("qrc:/main.qml"));
}

void quitOnTermination(QCoreApplication* app)
{
    if (terminationPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, terminationPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char bytes[16];
        while (::read(terminationPipe[0], bytes, sizeof bytes) > 0) { }
        qInfo() << "Quitting on SIGTERM; unsaved changes are discarded";
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Reset to the default at once: a second SIGTERM ends a process that is stuck.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGTERM, &action, nullptr);
}

bool disableWebSandboxForRoot()
{
    if (::geteuid() != 0)
        return false;
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    return true;
}

void limitTextureAtlas()
{
    for (const char* name : { "QSG_ATLAS_WIDTH", "QSG_ATLAS_HEIGHT" }) {
        if (!qEnvironmentVariableIsSet(name))
            qputenv(name, "512");
    }
}

quint32 backgroundPixel(const QColor& color, quint32 redMask, quint32 greenMask, quint32 blueMask, int depth)
{
    const auto channel = [](int value, quint32 mask) -> quint32 {
        if (mask == 0)
            return 0;
        int shift = 0;
        while (!(mask >> shift & 1u))
            ++shift;
        const quint32 maximum = mask >> shift;
        return quint32((quint64(value) * maximum + 127) / 255) << shift;
    };
    const quint32 all = depth >= 32 ? 0xffffffffu : (1u << depth) - 1u;
    const quint32 alpha = all & ~(redMask | greenMask | blueMask);
    return channel(color.red(), redMask) | channel(color.green(), greenMask) | channel(color.blue(), blueMask)
        | alpha;
}

void showBackgroundUntilFirstFrame(QWindow* window, const QColor& color)
{
#ifdef GELV_HAVE_X11
    if (!window || window->isVisible() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    window->create();
    // A connection of our own: Qt's is not reachable through public API. Synced
    // before returning, so the change is made before Qt maps the window.
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    const auto id = static_cast<::Window>(window->winId());
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, id, &attributes) && attributes.visual) {
        XSetWindowBackground(display, id,
            backgroundPixel(color, quint32(attributes.visual->red_mask),
                quint32(attributes.visual->green_mask), quint32(attributes.visual->blue_mask),
                attributes.depth));
    }
    XSync(display, False);
    XCloseDisplay(display);
#else
    Q_UNUSED(window)
    Q_UNUSED(color)
#endif
}

bool protectSettingsFile(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)
        || !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    QFile file(path);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.close();
    }
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace Startup
