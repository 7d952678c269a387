// For benchmarks that start the built application in a process of its own under an X
// server and watch its window. Their CMake target comes from gelv_add_app_bench(),
// which defines GELV_APP_BINARY. Include it after Qt's headers: Xlib's macros clash with them.
#pragma once

#include "benchrow.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Without a display, reruns this benchmark under xvfb-run with its first argument; the
// server must not reset between the app starts it times. False when there is no display
// to run on: it has said why, and the benchmark ends as skipped.
inline bool haveDisplay(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        return true;
    if (qEnvironmentVariableIsSet("GELV_BENCH_UNDER_XVFB")) {
        std::printf("no display: skipped\n");
        return false;
    }
    setenv("GELV_BENCH_UNDER_XVFB", "1", 1);
    execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 1600x1000x24 -noreset", argv[0],
        argc > 1 ? argv[1] : nullptr, static_cast<char*>(nullptr));
    std::printf("no display and no xvfb-run: skipped\n");
    return false;
}

// The program measured: this build's, or another build named by GELV_BENCH_APP, against the same floor.
inline QString appBinary()
{
    return qEnvironmentVariableIsEmpty("GELV_BENCH_APP") ? QStringLiteral(GELV_APP_BINARY)
                                                         : qEnvironmentVariable("GELV_BENCH_APP");
}

// An environment whose XDG_CONFIG_HOME, XDG_DATA_HOME and HOME are folders of those names
// in home, and whose XDG_CACHE_HOME is cacheDir (one more such folder when empty).
inline QProcessEnvironment appEnvironment(const QTemporaryDir& home, const QString& cacheDir = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME" }) {
        const QString path = home.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        environment.insert(QString::fromLatin1(name), path);
    }
    const QString cache = cacheDir.isEmpty() ? home.filePath(QStringLiteral("XDG_CACHE_HOME")) : cacheDir;
    QDir().mkpath(cache);
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
    environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    return environment;
}

// Asks the process to end, then ends it. One that has already ended has no pid to signal.
inline void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

inline qint64 rssKiB(qint64 pid) { return procStatusKiB(QString::number(pid), "VmRSS:"); }

// Windows come and go while they are looked at; a request on a vanished one is no error here.
inline int ignoreXError(Display*, XErrorEvent*) { return 0; }

// A connection to the X server that finds the application's window.
class AppWindowDisplay {
public:
    AppWindowDisplay()
        : m_display(XOpenDisplay(nullptr))
    {
        XSetErrorHandler(ignoreXError);
    }
    ~AppWindowDisplay()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    AppWindowDisplay(const AppWindowDisplay&) = delete;
    AppWindowDisplay& operator=(const AppWindowDisplay&) = delete;

    bool ok() const { return m_display != nullptr; }

    // The viewable top-level window titled "Gelvantrium" that pid owns, or 0.
    Window find(qint64 pid)
    {
        const Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
        Window root, parent, *children = nullptr, found = 0;
        unsigned int count = 0;
        if (!XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count))
            return 0;
        for (unsigned int i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(m_display, children[i], &attributes)
                || attributes.map_state != IsViewable)
                continue;
            char* name = nullptr;
            const bool titled
                = XFetchName(m_display, children[i], &name) && name && qstrcmp(name, "Gelvantrium") == 0;
            if (name)
                XFree(name);
            Atom type;
            int format;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            qint64 owner = -1;
            if (XGetWindowProperty(m_display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                    &items, &after, &data)
                    == Success
                && data) {
                if (items == 1)
                    owner = static_cast<qint64>(*reinterpret_cast<unsigned long*>(data));
                XFree(data);
            }
            if (titled && owner == pid)
                found = children[i];
        }
        if (children)
            XFree(children);
        return found;
    }

protected:
    Display* m_display;
};
