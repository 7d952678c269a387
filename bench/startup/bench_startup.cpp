// Process start to the first visible (mapped) window: the application beside
// a bare Qt Quick window that loads the same QML modules. Each process gets
// fresh settings and data folders. Without a display it reruns itself under xvfb-run.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <QDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

constexpr int rounds = 5;
constexpr qint64 giveUpMs = 60000;

class Display
{
public:
    Display()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, 11, "_NET_WM_PID"), nullptr);
        if (atom) {
            m_pidAtom = atom->atom;
            std::free(atom);
        }
    }
    ~Display() { xcb_disconnect(m_connection); }
    bool isValid() const { return !xcb_connection_has_error(m_connection) && m_pidAtom != XCB_ATOM_NONE; }

    // Titles of the viewable top-level windows that belong to pid.
    QStringList visibleWindows(qint64 pid)
    {
        QStringList titles;
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr);
        if (!tree)
            return titles;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        for (int i = 0; i < count; ++i) {
            const xcb_window_t window = children[i];
            xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
            const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
            if (!viewable || property(window, m_pidAtom, XCB_ATOM_CARDINAL).toLongLong() != pid)
                continue;
            titles.append(property(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY).toString());
        }
        std::free(tree);
        return titles;
    }

private:
    QVariant property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
    {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, name, type, 0, 256), nullptr);
        QVariant value;
        if (reply && xcb_get_property_value_length(reply) > 0) {
            const char *data = static_cast<const char *>(xcb_get_property_value(reply));
            if (type == XCB_ATOM_CARDINAL)
                value = qint64(*reinterpret_cast<const quint32 *>(data));
            else
                value = QString::fromUtf8(data, xcb_get_property_value_length(reply));
        }
        std::free(reply);
        return value;
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
};

struct Timing
{
    qint64 firstWindowMs = -1;
    qint64 namedWindowMs = -1;
};

// Starts program and times its first viewable window and the one titled title.
Timing measure(Display &display, const QString &program, const QString &title)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "HOME"}) {
        const QString path = home.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        environment.insert(QString::fromLatin1(name), path);
    }
    environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    Timing timing;
    QElapsedTimer timer;
    timer.start();
    process.start(program, QStringList());
    if (!process.waitForStarted(10000))
        return timing;
    while (timer.elapsed() < giveUpMs && process.state() == QProcess::Running) {
        const QStringList windows = display.visibleWindows(process.processId());
        if (!windows.isEmpty() && timing.firstWindowMs < 0)
            timing.firstWindowMs = timer.elapsed();
        if (windows.contains(title)) {
            timing.namedWindowMs = timer.elapsed();
            break;
        }
        QThread::usleep(1000);
    }
    process.kill();
    process.waitForFinished(10000);
    return timing;
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        const QByteArray xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).toLocal8Bit();
        if (xvfbRun.isEmpty()) {
            std::printf("no display and no xvfb-run: skipped\n");
            return 0;
        }
        execl(xvfbRun.constData(), "xvfb-run", "-a", "-s", "-screen 0 1600x1000x24", argv[0], static_cast<char *>(nullptr));
        return 1;
    }
    QCoreApplication app(argc, argv);
    Display display;
    if (!display.isValid()) {
        std::printf("cannot talk to the X server\n");
        return 1;
    }

    std::vector<qint64> appFirst, appMain, floorFirst;
    for (int round = 0; round < rounds; ++round) {
        const Timing floor = measure(display, QStringLiteral(GELV_FLOOR_BINARY), QStringLiteral("Floor"));
        const Timing application = measure(display, QStringLiteral(GELV_APP_BINARY), QStringLiteral("Gelvantrium"));
        if (floor.namedWindowMs < 0 || application.namedWindowMs < 0) {
            std::printf("a window did not appear within %lld ms\n", giveUpMs);
            return 1;
        }
        floorFirst.push_back(floor.namedWindowMs);
        appFirst.push_back(application.firstWindowMs);
        appMain.push_back(application.namedWindowMs);
    }
    const qint64 floorMs = median(floorFirst);
    std::printf("process start to first visible window, median of %d rounds\n", rounds);
    std::printf("  bare Qt Quick window, same modules   %6lld ms\n", floorMs);
    std::printf("  gelvantrium, first window (splash)   %6lld ms  %5.2fx\n", median(appFirst), double(median(appFirst)) / floorMs);
    std::printf("  gelvantrium, main window             %6lld ms  %5.2fx\n", median(appMain), double(median(appMain)) / floorMs);
    return 0;
}
