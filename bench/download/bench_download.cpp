// Downloader saving a 100 MB installer from a loopback HTTPS server, against a
// bare QNetworkAccessManager GET of the same address into memory. Then the
// memory each takes from a server that sends a chunked body without end.
#include "benchrow.h"
#include "downloader.h"
#include "httpsstandin.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr qint64 Size = 100 * 1000 * 1000;
constexpr int Rounds = 5;
constexpr int TimeoutMs = 120000;
constexpr int EndlessMs = 10000;
// Never let a run that does not hold take the machine down.
constexpr qint64 RssGuardKib = 4 * 1024 * 1024;

// Peak resident memory in KiB since the last reset (Linux).
qint64 peakRssKib() { return procStatusKiB(QStringLiteral("self"), "VmHWM:"); }

qint64 rssKib() { return procStatusKiB(QStringLiteral("self"), "VmRSS:"); }

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool sameAsServed(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != Size)
        return false;
    for (qint64 offset : { qint64(0), Size / 2 + 12345, Size - 70000 }) {
        file.seek(offset);
        if (file.read(70000) != HttpsStandIn::generatedBody(offset, qMin<qint64>(70000, Size - offset)))
            return false;
    }
    return true;
}

// Against a body without end: the peak resident memory, its growth over the
// start, bytes taken and how long until the download ended (or EndlessMs).
struct Flood {
    qint64 peakKib = 0;
    qint64 growthKib = 0;
    qint64 bytes = 0;
    double ms = 0;
    bool guardHit = false;
    bool ended = false;
};

using FloodStart = std::function<void(QEventLoop&, Flood&)>;

Flood flood(const FloodStart& start, const std::function<void()>& stop)
{
    Flood result;
    QEventLoop loop;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        if (rssKib() > RssGuardKib) {
            result.guardHit = true;
            loop.quit();
        }
    });
    guard.start(20);
    QTimer::singleShot(EndlessMs, &loop, &QEventLoop::quit);
    resetPeakRss();
    const qint64 before = rssKib();
    QElapsedTimer timer;
    timer.start();
    start(loop, result);
    loop.exec();
    result.ms = timer.nsecsElapsed() / 1e6;
    result.peakKib = peakRssKib();
    result.growthKib = result.peakKib - before;
    stop();
    return result;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bench_download"));

    // The server runs on a thread of its own, so its encryption work does not
    // sit on the client's event loop.
    QThread serverThread;
    serverThread.start();
    auto* server = new HttpsStandIn;
    server->moveToThread(&serverThread);
    bool started = false;
    QMetaObject::invokeMethod(
        server,
        [&] {
            HttpsStandIn::Answer big;
            big.generatedSize = Size;
            server->setAnswer("/Gelvantrium-bench.dmg", big);
            started = server->start();
        },
        Qt::BlockingQueuedConnection);
    if (!started) {
        std::fprintf(stderr, "stand-in failed: %s\n", qPrintable(server->failureReason()));
        return 1;
    }
    server->trustInProcess();
    const QUrl url = server->url(QStringLiteral("/Gelvantrium-bench.dmg"));

    Downloader downloader;
    QString savedPath;
    auto ours = [&]() -> double {
        QEventLoop loop;
        bool ok = false;
        auto done = QObject::connect(
            &downloader, &Downloader::downloadFinished, &loop, [&](const QString&, const QString& path) {
                ok = true;
                savedPath = path;
                loop.quit();
            });
        auto failed
            = QObject::connect(&downloader, &Downloader::downloadFileNotFound, &loop, [&] { loop.quit(); });
        QTimer::singleShot(TimeoutMs, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        downloader.startDownload(url);
        loop.exec();
        const double ms = timer.nsecsElapsed() / 1e6;
        QObject::disconnect(done);
        QObject::disconnect(failed);
        return ok && sameAsServed(savedPath) ? ms : -1;
    };

    QNetworkAccessManager manager;
    auto floor = [&]() -> double {
        QEventLoop loop;
        QElapsedTimer timer;
        timer.start();
        QNetworkReply* reply = manager.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(TimeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray body = reply->readAll();
        const double ms = timer.nsecsElapsed() / 1e6;
        const bool ok = reply->error() == QNetworkReply::NoError && body.size() == Size;
        delete reply;
        return ok ? ms : -1;
    };

    const QUrl endlessUrl = server->url(QStringLiteral("/Gelvantrium-endless.dmg"));
    QMetaObject::invokeMethod(
        server,
        [&] {
            HttpsStandIn::Answer endless;
            endless.trick = HttpsStandIn::EndlessChunked;
            server->setAnswer("/Gelvantrium-endless.dmg", endless);
        },
        Qt::BlockingQueuedConnection);
    auto oursEndless = [&] {
        return flood(
            [&](QEventLoop& loop, Flood& result) {
                QObject::connect(&downloader, &Downloader::downloadProgressUpdate, &loop,
                    [&](qint64 received) { result.bytes = received; });
                QObject::connect(&downloader, &Downloader::downloadFinished, &loop, [&] { loop.quit(); });
                QObject::connect(&downloader, &Downloader::downloadFileNotFound, &loop, [&] {
                    result.ended = true;
                    loop.quit();
                });
                downloader.startDownload(endlessUrl);
            },
            [&] {
                QObject::disconnect(&downloader, nullptr, nullptr, nullptr);
                downloader.cancelDownload();
            });
    };
    QNetworkReply* floorReply = nullptr;
    auto floorEndless = [&] {
        return flood(
            [&](QEventLoop&, Flood& result) {
                QNetworkRequest request(endlessUrl);
                floorReply = manager.get(request);
                floorReply->setReadBufferSize(1024 * 1024);
                QObject::connect(floorReply, &QNetworkReply::readyRead, floorReply,
                    [&] { result.bytes += floorReply->readAll().size(); });
            },
            [&] {
                floorReply->abort();
                delete floorReply;
            });
    };

    // One phase after the other, so that each peak is that phase's own.
    std::vector<double> oursMs, floorMs;
    bool allOk = ours() > 0; // warm-up: TLS session, caches, the save folder
    resetPeakRss();
    for (int i = 0; i < Rounds && allOk; ++i) {
        oursMs.push_back(ours());
        allOk = oursMs.back() > 0;
    }
    const qint64 oursPeak = peakRssKib();
    allOk = allOk && floor() > 0;
    resetPeakRss();
    for (int i = 0; i < Rounds && allOk; ++i) {
        floorMs.push_back(floor());
        allOk = floorMs.back() > 0;
    }
    const qint64 floorPeak = peakRssKib();
    // The floor first: what a download that does not hold keeps is not given back.
    const Flood floorFlood = allOk ? floorEndless() : Flood();
    const Flood oursFlood = allOk ? oursEndless() : Flood();

    if (!savedPath.isEmpty())
        QDir(QFileInfo(savedPath).absolutePath()).removeRecursively();
    QMetaObject::invokeMethod(
        server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();

    if (!allOk) {
        std::fprintf(stderr, "a download failed or arrived damaged\n");
        return 1;
    }
    const double o = median(oursMs), f = median(floorMs);
    std::printf("download %lld MB over loopback HTTPS, median of %d\n", Size / 1000000, Rounds);
    std::printf("  Downloader to file:         %8.1f ms  (%.0f MB/s)\n", o, Size / 1e3 / o);
    std::printf("  bare QNAM GET into memory:  %8.1f ms  (%.0f MB/s)\n", f, Size / 1e3 / f);
    std::printf("  ratio: %.2fx (target <= 1.20x)\n", o / f);
    std::printf(
        "  peak RSS: Downloader %.1f MiB, bare GET %.1f MiB\n", oursPeak / 1024.0, floorPeak / 1024.0);
    benchRow("download 100 MB", o, f, "ms", "<=1.2");
    const auto floodLine = [](const char* name, const Flood& r) {
        std::printf("  endless body, %s: peak RSS %.1f MiB (%+.1f), %.1f MiB taken, %s after %.1f s\n", name,
            r.peakKib / 1024.0, r.growthKib / 1024.0, r.bytes / 1048576.0,
            r.guardHit    ? "stopped by the bench's memory guard"
                : r.ended ? "failed"
                          : "still running",
            r.ms / 1000);
    };
    floodLine("Downloader", oursFlood);
    floodLine("bare GET, 1 MiB read buffer, discarding", floorFlood);
    benchRow("endless body, peak memory", oursFlood.peakKib, floorFlood.peakKib, "KiB", "<=1.5");
    return 0;
}
