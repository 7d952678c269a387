// Process start until the home screen's first frame is on the screen, beside a
// bare Qt Quick window that loads the same QML modules (the floor), then the
// resident memory of each when idle. A frame counts once the window shows the
// home sidebar's colour at its bottom left corner (the floor paints the same
// colour). Until then the window is also checked for black, which it must never
// show: its first visible frame is its background or its content. Cold: every start gets empty cache folders,
// as a first run; warm: the caches of an earlier start are kept, as on every later run.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

// After Qt's headers: Xlib defines macros that clash with names in them.
#include "appwindow.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Rounds of the median; bench_homescreen [rounds] asks for more on a busy machine.
int rounds = 5;
constexpr qint64 giveUpMs = 60000;
constexpr unsigned long sidebarColour = 0x424241;
constexpr int idleMs = 3000;

struct Result {
    qint64 mappedMs = -1; // the window became viewable, painted or not
    qint64 frameMs = -1;
    int blackSamples = 0; // looks of the shown window that found it black
    qint64 blackMs = 0; // from the first to the last of them
    qint64 rssKiB = -1; // the process itself
    qint64 totalRssKiB = -1; // with its child processes (the web engine's)
};

class XScreenProbe : public AppWindowDisplay {
public:
    enum class Look { Unknown, Black, Other, Sidebar };

    // The sidebar's corner decides the first frame; black there and in the middle is
    // an unpainted window (nothing of the interface is black).
    Look look(Window window)
    {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, window, &attributes) || attributes.height < 10)
            return Look::Unknown;
        const long corner = pixel(window, 5, attributes.height - 5);
        if (corner < 0)
            return Look::Unknown;
        if (corner == long(sidebarColour))
            return Look::Sidebar;
        if (corner == 0 && pixel(window, attributes.width / 2, attributes.height / 2) == 0)
            return Look::Black;
        return Look::Other;
    }

private:
    long pixel(Window window, int x, int y)
    {
        XImage* image = XGetImage(m_display, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return -1;
        const long value = long(XGetPixel(image, 0, 0) & 0xffffff);
        XDestroyImage(image);
        return value;
    }
};

qint64 parentOf(const QString& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : -1;
}

qint64 totalRssKiB(qint64 pid)
{
    std::vector<qint64> family { pid };
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (bool grew = true; grew;) {
        grew = false;
        for (const QString& entry : entries) {
            bool number = false;
            const qint64 candidate = entry.toLongLong(&number);
            if (!number || std::find(family.begin(), family.end(), candidate) != family.end())
                continue;
            if (std::find(family.begin(), family.end(), parentOf(entry)) != family.end()) {
                family.push_back(candidate);
                grew = true;
            }
        }
    }
    qint64 total = 0;
    for (qint64 member : family)
        total += std::max<qint64>(0, rssKiB(member));
    return total;
}

Result measure(XScreenProbe& screen, const QString& program, const QString& cacheDir, bool withMemory)
{
    QTemporaryDir home;
    QProcess process;
    process.setProcessEnvironment(appEnvironment(home, cacheDir));
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    Result result;
    QElapsedTimer timer;
    timer.start();
    process.start(program, QStringList());
    if (!process.waitForStarted(10000))
        return result;
    Window window = 0;
    qint64 firstBlack = 0;
    while (timer.elapsed() < giveUpMs && process.state() == QProcess::Running) {
        if (!window) {
            window = screen.find(process.processId());
            if (window)
                result.mappedMs = timer.elapsed();
        }
        if (window) {
            const XScreenProbe::Look look = screen.look(window);
            if (look == XScreenProbe::Look::Sidebar) {
                result.frameMs = timer.elapsed();
                break;
            }
            if (look == XScreenProbe::Look::Black) {
                const qint64 now = timer.elapsed();
                if (result.blackSamples++ == 0)
                    firstBlack = now;
                result.blackMs = now - firstBlack;
            }
        }
        QThread::usleep(500);
    }
    if (withMemory && result.frameMs >= 0) {
        QThread::msleep(idleMs);
        result.rssKiB = rssKiB(process.processId());
        result.totalRssKiB = totalRssKiB(process.processId());
    }
    stop(process);
    return result;
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (!haveDisplay(argc, argv))
        return 0;
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::atoi(argv[1]) > 0)
        rounds = std::atoi(argv[1]);
    XScreenProbe screen;
    if (!screen.ok()) {
        std::printf("cannot open the X display\n");
        return 1;
    }
    const QString program = appBinary();
    const QString floorBinary = QStringLiteral(GELV_FLOOR_BINARY);

    QTemporaryDir caches;
    const QString appCache = caches.filePath(QStringLiteral("app"));
    const QString floorCache = caches.filePath(QStringLiteral("floor"));
    // One start each fills the warm caches.
    measure(screen, program, appCache, false);
    measure(screen, floorBinary, floorCache, false);

    std::vector<qint64> appCold, floorCold, appWarm, floorWarm, appColdEmpty, appWarmEmpty;
    int coldBlackStarts = 0, warmBlackStarts = 0;
    qint64 coldBlackMs = 0, warmBlackMs = 0;
    Result appMemory, floorMemory;
    for (int i = 0; i < rounds; ++i) {
        const bool last = i == rounds - 1;
        const Result a = measure(screen, program, QString(), false);
        const Result f = measure(screen, floorBinary, QString(), false);
        const Result aw = measure(screen, program, appCache, last);
        const Result fw = measure(screen, floorBinary, floorCache, last);
        if (a.frameMs < 0 || f.frameMs < 0 || aw.frameMs < 0 || fw.frameMs < 0) {
            std::printf("a first frame did not appear within %lld ms\n", giveUpMs);
            return 1;
        }
        appCold.push_back(a.frameMs);
        floorCold.push_back(f.frameMs);
        appWarm.push_back(aw.frameMs);
        appColdEmpty.push_back(a.frameMs - a.mappedMs);
        appWarmEmpty.push_back(aw.frameMs - aw.mappedMs);
        floorWarm.push_back(fw.frameMs);
        coldBlackStarts += a.blackSamples > 0;
        warmBlackStarts += aw.blackSamples > 0;
        coldBlackMs = std::max(coldBlackMs, a.blackMs);
        warmBlackMs = std::max(warmBlackMs, aw.blackMs);
        if (last) {
            appMemory = aw;
            floorMemory = fw;
        }
    }

    const qint64 ac = median(appCold), fc = median(floorCold), aw = median(appWarm), fw = median(floorWarm);
    std::printf("process start to the home screen's first frame, median of %d rounds\n", rounds);
    std::printf("  cold caches: bare window, same modules %6lld ms\n", fc);
    std::printf("               gelvantrium home screen  %6lld ms  %5.2fx\n", ac, double(ac) / fc);
    std::printf("  warm caches: bare window, same modules %6lld ms\n", fw);
    std::printf("               gelvantrium home screen  %6lld ms  %5.2fx\n", aw, double(aw) / fw);
    std::printf("window shown before its first frame (empty window), median\n");
    std::printf("  cold caches %6lld ms, warm caches %6lld ms\n", median(appColdEmpty), median(appWarmEmpty));
    std::printf("starts whose window showed black before its first frame (longest black stretch)\n");
    std::printf("  cold caches %d of %d (%lld ms), warm caches %d of %d (%lld ms)\n", coldBlackStarts, rounds,
        coldBlackMs, warmBlackStarts, rounds, warmBlackMs);
    std::printf(
        "resident memory %d ms after the first frame (process / with web engine processes)\n", idleMs);
    std::printf(
        "  bare window             %7lld KiB / %7lld KiB\n", floorMemory.rssKiB, floorMemory.totalRssKiB);
    std::printf("  gelvantrium home screen %7lld KiB / %7lld KiB  %5.2fx\n", appMemory.rssKiB,
        appMemory.totalRssKiB, double(appMemory.rssKiB) / floorMemory.rssKiB);
    benchRow("start-up to first frame, warm", aw, fw, "ms", "<=1.5");
    benchRow("start-up to first frame, cold", ac, fc, "ms", "<=3");
    benchRow("idle memory on Home", appMemory.rssKiB, floorMemory.rssKiB, "KiB", "<=1.3");
    return 0;
}
