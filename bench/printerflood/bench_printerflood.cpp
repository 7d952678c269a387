// The application under a printer that floods it with small broadcasts: material
// lists of five short names at 1,000 a second, lists as fast as it takes them, and
// names as fast as it takes them. The application reconnects to the printer by
// itself at start. Its interface thread is timed with the window manager's ping
// (_NET_WM_PING), which it answers from its event loop: the longest wait for an
// answer is its longest gap. The floor is the same application connected to the same
// printer when that printer sends nothing, over the same time; memory is compared to
// that quiet run's.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QThread>

// After Qt's headers: Xlib defines macros that clash with names in them.
#include "appwindow.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const PrinterAddress = "127.0.0.211";
// bench_printerflood [seconds] floods for longer.
qint64 FloodMs = 10000;
// Measured after the flood too: what it left behind still has to be worked off.
constexpr qint64 AfterMs = 5000;
// Gaps count from this long after the window shows: before it, the application is still
// starting (the broadcasts have begun by then).
constexpr qint64 SettleMs = 2000;
constexpr qint64 GiveUpMs = 60000;
// The pause between one ping's answer and the next ping.
constexpr qint64 PingEveryMs = 10;

struct Result {
    bool ok = false;
    qint64 longestGapMs = -1;
    qint64 firstRssKiB = -1; // when measuring starts
    qint64 peakRssKiB = -1;
    qint64 endRssKiB = -1;
    qint64 sent = 0; // broadcasts the printer had written when it was stopped
};

class WindowPinger : public AppWindowDisplay {
public:
    WindowPinger()
    {
        if (!m_display)
            return;
        m_protocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
        m_ping = XInternAtom(m_display, "_NET_WM_PING", False);
        // Answers go to the root window.
        XSelectInput(m_display, DefaultRootWindow(m_display), StructureNotifyMask | SubstructureNotifyMask);
    }

    void ping(Window window, long serial)
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = m_protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(m_ping);
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = long(window);
        event.xclient.data.l[3] = serial;
        XSendEvent(m_display, window, False, NoEventMask, &event);
        XFlush(m_display);
    }

    // True once the answer to serial has come.
    bool answered(long serial)
    {
        bool found = false;
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == m_protocols
                && Atom(event.xclient.data.l[0]) == m_ping && event.xclient.data.l[3] == serial)
                found = true;
        }
        return found;
    }

private:
    Atom m_protocols = 0;
    Atom m_ping = 0;
};

// Starts the printer with the given flood arguments, then the application with settings
// that make it reconnect to that printer at start, and pings its window from its first
// showing for FloodMs + AfterMs.
Result measure(WindowPinger& pinger, const QString& program, const QStringList& floodArguments)
{
    Result result;
    QProcess printer;
    printer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    printer.start(QStringLiteral(GELV_FLOOD_PRINTER),
        QStringList { "--address", PrinterAddress, "--name", "Bench printer" } + floodArguments);
    if (!printer.waitForReadyRead(10000) || !printer.readLine().contains("listening")) {
        std::printf("the flood printer did not start on %s\n", PrinterAddress);
        stop(printer);
        return result;
    }

    QTemporaryDir home;
    const QProcessEnvironment environment = appEnvironment(home);
    {
        QSettings settings(home.filePath(QStringLiteral("XDG_CONFIG_HOME/Veltrisan/Gelvantrium.conf")),
            QSettings::IniFormat);
        settings.setValue(QStringLiteral("PrinterIP/printerIP"), QString::fromLatin1(PrinterAddress));
        settings.setValue(QStringLiteral("PrinterIP/wasConnectedOnLastLoad"), true);
    }

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setStandardOutputFile(QProcess::nullDevice());
    app.setStandardErrorFile(QProcess::nullDevice());
    app.start(program, QStringList());
    QElapsedTimer clock;
    clock.start();
    Window window = 0;
    app.waitForStarted(10000);
    while (!window && app.state() == QProcess::Running && clock.elapsed() < GiveUpMs) {
        window = pinger.find(app.processId());
        QThread::msleep(5);
    }
    if (!window) {
        std::printf("the application's window did not show within %lld ms\n", GiveUpMs);
        stop(app);
        stop(printer);
        return result;
    }

    const qint64 pid = app.processId();
    result.firstRssKiB = result.peakRssKiB = rssKiB(pid);
    result.longestGapMs = 0;
    clock.restart();
    long serial = 0;
    while (clock.elapsed() < FloodMs + AfterMs && app.state() == QProcess::Running) {
        if (clock.elapsed() >= FloodMs && printer.state() != QProcess::NotRunning) {
            while (printer.waitForReadyRead(50)) { }
            for (const QByteArray& line : printer.readAllStandardOutput().split('\n')) {
                const QJsonObject logged = QJsonDocument::fromJson(line).object();
                if (logged.contains(QLatin1String("sent")))
                    result.sent = logged.value(QLatin1String("sent")).toVariant().toLongLong();
            }
            stop(printer);
        }
        pinger.ping(window, ++serial);
        QElapsedTimer wait;
        wait.start();
        while (!pinger.answered(serial) && app.state() == QProcess::Running
            && clock.elapsed() < FloodMs + AfterMs + GiveUpMs) {
            QThread::usleep(500);
            result.peakRssKiB = std::max(result.peakRssKiB, rssKiB(pid));
        }
        if (clock.elapsed() - wait.elapsed() >= SettleMs)
            result.longestGapMs = std::max(result.longestGapMs, wait.elapsed());
        result.peakRssKiB = std::max(result.peakRssKiB, rssKiB(pid));
        QThread::msleep(PingEveryMs);
    }
    result.endRssKiB = rssKiB(pid);
    result.ok = app.state() == QProcess::Running;
    if (!result.ok)
        std::printf("the application ended during the flood\n");
    stop(app);
    stop(printer);
    return result;
}

void report(const char* what, const Result& r, const Result& quiet)
{
    std::printf("%-34s longest gap %6lld ms, memory at start %7lld KiB, peak %7lld KiB (+%lld KiB over the "
                "quiet run's peak), at the end %7lld KiB; %lld broadcasts written\n",
        what, r.longestGapMs, r.firstRssKiB, r.peakRssKiB, r.peakRssKiB - quiet.peakRssKiB, r.endRssKiB,
        r.sent);
}

} // namespace

int main(int argc, char* argv[])
{
    if (!haveDisplay(argc, argv))
        return 0;
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::atoi(argv[1]) > 0)
        FloodMs = 1000 * qint64(std::atoi(argv[1]));
    WindowPinger pinger;
    if (!pinger.ok()) {
        std::printf("cannot open the X display\n");
        return 1;
    }
    const QString program = appBinary();
    // Enough broadcasts for the whole time at every speed; the printer is stopped after it.
    const QString endless = QStringLiteral("100000000");
    const Result quiet = measure(pinger, program, {});
    const Result lists1000 = measure(
        pinger, program, { "--list-flood", QString::number(1000 * FloodMs / 1000), "--rate", "1000" });
    const Result listsFast = measure(pinger, program, { "--list-flood", endless, "--rate", "0" });
    const Result namesFast
        = measure(pinger, program, { "--name-flood", endless, "--name-length", "256", "--rate", "0" });
    if (!quiet.ok || !lists1000.ok || !listsFast.ok || !namesFast.ok)
        return 1;

    std::printf("the application connected to a printer, from its first showing for %lld s (%lld s of "
                "broadcasts, then %lld s after; gaps from %lld s on)\n",
        (FloodMs + AfterMs) / 1000, FloodMs / 1000, AfterMs / 1000, SettleMs / 1000);
    report("quiet printer", quiet, quiet);
    report("lists at 1,000 a second", lists1000, quiet);
    report("lists as fast as it takes them", listsFast, quiet);
    report("256-byte names as fast as it takes", namesFast, quiet);
    // Targets: gaps of a few hundred ms at most, beside the quiet run's, which count as
    // no less than the pings' own spacing (PingEveryMs); memory within 150 MB of the
    // application's own (about 180 MB).
    const qint64 floorGap = std::max(quiet.longestGapMs, PingEveryMs);
    benchRow("printer flood, 1000 lists/s: longest gap", lists1000.longestGapMs, floorGap, "ms", "<=30");
    benchRow(
        "printer flood, 1000 lists/s: peak memory", lists1000.peakRssKiB, quiet.peakRssKiB, "KiB", "<=1.8");
    benchRow("printer flood, fastest lists: longest gap", listsFast.longestGapMs, floorGap, "ms", "<=30");
    benchRow(
        "printer flood, fastest lists: peak memory", listsFast.peakRssKiB, quiet.peakRssKiB, "KiB", "<=1.8");
    benchRow("printer flood, fastest names: longest gap", namesFast.longestGapMs, floorGap, "ms", "<=30");
    return 0;
}
