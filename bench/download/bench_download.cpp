// Downloader saving a 100 MB installer from a loopback HTTPS server, against a
// bare QNetworkAccessManager GET of the same address into memory.
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
#include <vector>

namespace {

constexpr qint64 Size = 100 * 1000 * 1000;
constexpr int Rounds = 5;
constexpr int TimeoutMs = 120000;

// Peak resident memory in KiB since the last reset (Linux).
qint64 peakRssKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

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
    return 0;
}
