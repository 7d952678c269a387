// A 100 MiB file over a loopback host connection, against a raw QTcpSocket
// copy of the same file (read, send, receive, write) in the same run.
#include "benchrow.h"
#include "zqnethostconnection.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int Rounds = 5;
constexpr qint64 Size = 100 * 1024 * 1024;
const QHostAddress Address(QStringLiteral("127.0.0.45"));

QByteArray sha(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

struct Times {
    double arrived = 0; // all bytes in the receiver's file
    double inPlace = 0; // and copied to the destination
};

bool runEventLoopUntil(QEventLoop& loop)
{
    QTimer::singleShot(60000, &loop, [&] { loop.exit(1); });
    return loop.exec() == 0;
}

Times ours(const QString& from, const QString& root, const QString& temp, bool& ok)
{
    Times t;
    QTcpServer server;
    server.listen(Address, 0);
    ZqNetHostConnection client(temp, nullptr);
    client.Socket()->connectToHost(server.serverAddress(), server.serverPort());
    if (!server.waitForNewConnection(2000) || !client.WaitForConnected(2000)) {
        ok = false;
        return t;
    }
    QTcpSocket* accepted = server.nextPendingConnection();
    ZqNetHostConnection host(accepted, temp, nullptr);
    accepted->setParent(&host);
    host.PreparePersistantConnection();
    host.setFileReceiveRoot(root);
    QEventLoop loop;
    QElapsedTimer timer;
    QObject::connect(&host, &ZqNetHostConnection::filePercentileComplete, &loop, [&](uint percent) {
        if (percent == 100)
            t.arrived = timer.nsecsElapsed() / 1e6;
    });
    QObject::connect(&host, &ZqNetHostConnection::fileReceived, &loop, [&] { loop.exit(0); });
    QObject::connect(&host, &ZqNetHostConnection::fileTransferFailed, &loop, [&] { loop.exit(1); });
    timer.start();
    ok = client.sendFile(from, QStringLiteral("ours.bin")) && runEventLoopUntil(loop) && ok;
    t.inPlace = timer.nsecsElapsed() / 1e6;
    return t;
}

double floorCopy(const QString& from, const QString& to, bool& ok)
{
    QTcpServer server;
    server.listen(Address, 0);
    QTcpSocket sender;
    sender.connectToHost(server.serverAddress(), server.serverPort());
    if (!server.waitForNewConnection(2000) || !sender.waitForConnected(2000)) {
        ok = false;
        return 0;
    }
    std::unique_ptr<QTcpSocket> receiver(server.nextPendingConnection());
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        ok = false;
        return 0;
    }
    QEventLoop loop;
    qint64 received = 0;
    const auto feed = [&] {
        while (sender.bytesToWrite() < 256 * 1024 && !in.atEnd())
            sender.write(in.read(64 * 1024));
    };
    QObject::connect(&sender, &QTcpSocket::bytesWritten, &loop, feed);
    QObject::connect(receiver.get(), &QTcpSocket::readyRead, &loop, [&] {
        const QByteArray data = receiver->readAll();
        out.write(data);
        received += data.size();
        if (received == Size) {
            out.close();
            loop.exit(0);
        }
    });
    QElapsedTimer timer;
    timer.start();
    feed();
    ok = runEventLoopUntil(loop) && ok;
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("*.debug=false\n*.info=false");
    QTemporaryDir dir;
    const QString origin = dir.filePath("origin");
    if (!writePatternFile(origin, Size))
        return 1;
    QDir().mkpath(dir.filePath("root"));
    QDir().mkpath(dir.filePath("tmp"));
    bool ok = true;
    Times best { 1e300, 1e300 };
    double floor = 1e300;
    for (int i = 0; i < Rounds; ++i) {
        const Times t = ours(origin, dir.filePath("root"), dir.filePath("tmp"), ok);
        best.arrived = std::min(best.arrived, t.arrived);
        best.inPlace = std::min(best.inPlace, t.inPlace);
        floor = std::min(floor, floorCopy(origin, dir.filePath("floor.bin"), ok));
    }
    const QByteArray expected = sha(origin);
    ok = ok && sha(dir.filePath("root/ours.bin")) == expected && sha(dir.filePath("floor.bin")) == expected;
    std::printf("file transfer %lld MiB over loopback, best of %d\n", Size >> 20, Rounds);
    std::printf("  host connection, file arrived:    %8.1f ms  (%.0f MB/s)\n", best.arrived,
        Size / 1e3 / best.arrived);
    std::printf("  host connection, copied in place: %8.1f ms  (%.0f MB/s)\n", best.inPlace,
        Size / 1e3 / best.inPlace);
    std::printf("  raw QTcpSocket copy:              %8.1f ms  (%.0f MB/s)\n", floor, Size / 1e3 / floor);
    std::printf("  throughput ratio: %.2fx arrived, %.2fx in place (target >= 0.5x)%s\n",
        floor / best.arrived, floor / best.inPlace, ok ? "" : "  A TRANSFER FAILED OR DIFFERS");
    const double mb = Size / 1e3;
    benchRow("transfer 100 MiB, arrived", mb / best.arrived, mb / floor, "MB/s", ">=0.5");
    benchRow("transfer 100 MiB, copied in place", mb / best.inPlace, mb / floor, "MB/s", ">=0.5");
    return ok ? 0 : 1;
}
