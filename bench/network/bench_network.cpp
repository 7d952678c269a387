// Request/reply round trips through ZqNetRequester and ZqNetHostConnection against a
// raw QTcpSocket ping-pong of the same bytes, both to one in-process loopback server.
#include "benchrow.h"
#include "zqkeyvaluesettings.h"
#include "zqnetconnectionmanager.h"
#include "zqnetrequester.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int Rounds = 7;
constexpr int Trips = 3000;
const char* const Address = "127.0.0.29";

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}
QByteArray str(const QString& s)
{
    QByteArray b = be32(quint32(s.size() * 2));
    for (QChar c : s)
        b += be32(c.unicode()).mid(2);
    return b;
}
QByteArray frame(quint32 type, const QByteArray& payload)
{
    QByteArray h(8, '\0');
    qToBigEndian(qint64(payload.size()), h.data());
    return h + be32(type) + payload;
}

const QString KeyName = QStringLiteral("ZqNetValueKey_FriendlyPrinterName");

// Answers every get request with an accepted reply carrying the same id and a value
// of the given size; the same for both clients.
class EchoServer : public QObject {
public:
    QTcpServer server;
    QByteArray valueField;

    EchoServer()
    {
        server.listen(QHostAddress(QString::fromLatin1(Address)), 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = server.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [this, s] {
                while (s->bytesAvailable() >= 12) {
                    const QByteArray header = s->peek(12);
                    const qint64 length = qFromBigEndian<qint64>(header.constData());
                    if (s->bytesAvailable() < 12 + length)
                        return;
                    const QByteArray payload = s->read(12 + length).mid(12);
                    s->write(frame(0x1504101D, payload.left(4) + str(KeyName) + valueField));
                }
            });
        });
    }
};

double milliseconds(const std::function<void()>& job)
{
    QElapsedTimer timer;
    timer.start();
    job();
    return timer.nsecsElapsed() / 1e6;
}

void oursRun(ZqNetRequester& requester, QEventLoop& loop, int& left)
{
    left = Trips;
    requester.sendGetRequest(ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName, false);
    loop.exec();
}

// The server role broadcasting 100-byte messages asked at a steady rate to one client
// that reads everything and to slowReaders clients that take 10,240 bytes every 2 s
// (the 20 s of a slow client, scaled to a run of 20 s instead of minutes). What it
// sends per second in the last seconds, with the reader's bytes per second.
struct SteadyBroadcast {
    static constexpr int AskedPerSecond = 5000;
    static constexpr int Payload = 100;
    static constexpr int Sustain_MS = 20000;
    static constexpr int Window_MS = 5000;
    static constexpr int SlowTake = 10240;
    static constexpr int SlowTakeInterval_MS = 2000;

    double sentPerSecond = 0;
    double readerBytesPerSecond = 0;
    int clientsLeft = 0;
    // Bytes waiting for the client furthest behind at the end.
    qint64 mostWaiting = 0;
    qint64 residentGrownKiB = 0;
    bool ok = false;

    SteadyBroadcast(const QHostAddress& address, int slowReaders)
    {
        const qint64 residentAtStart = procStatusKiB("self", "VmRSS:");
        ZqKeyValueSettings store(false);
        // The announcer off: nothing may leave the machine.
        store.SetValue(QStringLiteral("ZqUdpBroadCaster_Enabled"), "0");
        ZqNetConnectionManager server(&store, true, QString(), nullptr, address);
        int accepted = 0;
        QObject::connect(&server, &ZqNetConnectionManager::newClientConnection, &server,
            [&accepted](ZqNetHostConnection* host) {
                // Little room in the kernel, so that what the slow readers leave waits in the server.
                host->Socket()->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 65536);
                ++accepted;
            });
        QTcpSocket reader;
        qint64 read = 0;
        QObject::connect(&reader, &QTcpSocket::readyRead, &reader, [&] { read += reader.readAll().size(); });
        reader.connectToHost(address, ZqNetConnectionManager::ServerTcpPort);
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < slowReaders; ++i) {
            slow.emplace_back(new QTcpSocket);
            slow.back()->setReadBufferSize(SlowTake);
            // From addresses of their own: the server takes only so many from one.
            slow.back()->bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(i + 1)));
            slow.back()->connectToHost(address, ZqNetConnectionManager::ServerTcpPort);
        }
        QElapsedTimer clock;
        clock.start();
        while (accepted < 1 + slowReaders && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (accepted < 1 + slowReaders || !server.isListening())
            return;
        for (auto& s : slow)
            s->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
        QTimer take;
        QObject::connect(&take, &QTimer::timeout, &take, [&] {
            for (auto& s : slow)
                s->read(SlowTake);
        });
        take.start(SlowTakeInterval_MS);

        qint64 sent = 0, sentAtWindow = -1, readAtWindow = 0, windowStart = 0;
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        clock.start();
        QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
            const qint64 now = clock.elapsed();
            if (sentAtWindow < 0 && now >= Sustain_MS - Window_MS) {
                sentAtWindow = sent;
                readAtWindow = read;
                windowStart = now;
            }
            if (now >= Sustain_MS) {
                const double seconds = (now - windowStart) / 1000.0;
                sentPerSecond = (sent - sentAtWindow) / seconds;
                readerBytesPerSecond = (read - readAtWindow) / seconds;
                loop.quit();
                return;
            }
            // Catches up with the asked rate, a slice at a time, so that the clients are served between.
            const qint64 due = now * AskedPerSecond / 1000;
            QElapsedTimer slice;
            slice.start();
            while (sent < due && slice.elapsed() < 10) {
                QByteArray message(Payload, Qt::Uninitialized);
                for (int i = 0; i < Payload; ++i)
                    message[i] = char(sent + i);
                server.BroadCastMessageToClients(message, ZqMessageTypes::ZqMessage_GenericMessage);
                ++sent;
            }
        });
        tick.start(1);
        loop.exec();
        clientsLeft = server.ClientConnections().size();
        for (ZqNetHostConnection* host : server.ClientConnections())
            mostWaiting = std::max(mostWaiting, host->pendingSendBytes());
        residentGrownKiB = procStatusKiB("self", "VmRSS:") - residentAtStart;
        ok = clientsLeft == 1 + slowReaders;
    }
};

#ifdef PRINTERSTANDIN_BINARY
// The printer stand-in with slowReaders clients that take 10,240 bytes every 2 s (and
// ping), one client renaming the printer at a steady asked rate, each rename answered
// and broadcast to every client, then a new client's get. The renames answered per
// second in the last seconds and the new client's wait for its answer.
struct StandInRenames {
    static constexpr int AskedPerSecond = 4000;
    static constexpr int MaxUnanswered = 64;
    static constexpr int Sustain_MS = 30000;
    static constexpr int Window_MS = 5000;
    static constexpr int SlowTake = 10240;
    static constexpr int SlowTakeInterval_MS = 2000;

    double answeredPerSecond = 0;
    double getMs = -1;
    int dropped = -1;
    bool ok = false;

    // Counts the frames of one type in what a socket receives.
    struct FrameCounter {
        QByteArray pending;
        quint32 type;
        qint64 seen = 0;
        void feed(const QByteArray& bytes)
        {
            pending += bytes;
            int at = 0;
            while (pending.size() - at >= 12) {
                const qint64 length = qFromBigEndian<qint64>(pending.constData() + at);
                if (pending.size() - at < 12 + length)
                    break;
                seen += qFromBigEndian<quint32>(pending.constData() + at + 8) == type;
                at += int(12 + length);
            }
            pending.remove(0, at);
        }
    };

    static QByteArray rename(quint32 id)
    {
        const QByteArray name = "Stand-in " + QByteArray::number(id);
        return frame(0x808B3BB8, be32(id) + str(KeyName) + be32(quint32(name.size())) + name);
    }

    StandInRenames(const QString& address, int slowReaders)
    {
        QProcess standIn;
        standIn.setProgram(QStringLiteral(PRINTERSTANDIN_BINARY));
        QTemporaryDir folder;
        const QString log = folder.filePath(QStringLiteral("standin.log"));
        standIn.setArguments({ "--address", address, "--log", log });
        standIn.setProcessChannelMode(QProcess::ForwardedChannels);
        standIn.start();
        if (!standIn.waitForStarted(5000))
            return;
        QElapsedTimer clock;
        clock.start();
        const auto connected = [&](QTcpSocket& socket, const QString& from) {
            for (;;) {
                socket.abort();
                socket.bind(QHostAddress(from));
                socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
                socket.connectToHost(QHostAddress(address), ZqNetConnectionManager::ServerTcpPort);
                if (socket.waitForConnected(1000) || clock.elapsed() > 10000)
                    return socket.state() == QAbstractSocket::ConnectedState;
                QThread::msleep(50);
            }
        };
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        bool up = true;
        for (int i = 0; i < slowReaders; ++i) {
            slow.emplace_back(new QTcpSocket);
            slow.back()->setReadBufferSize(SlowTake);
            // From addresses of their own: the stand-in takes only so many from one.
            up = up && connected(*slow.back(), QStringLiteral("127.0.2.%1").arg(i + 1));
        }
        QTcpSocket renamer;
        up = up && connected(renamer, QStringLiteral("127.0.3.1"));
        if (!up) {
            standIn.kill();
            standIn.waitForFinished();
            return;
        }
        QTimer take;
        QObject::connect(&take, &QTimer::timeout, &take, [&] {
            for (auto& s : slow) {
                s->read(SlowTake);
                s->write(frame(0x7943A2A5, "ZqWD"));
            }
        });
        take.start(SlowTakeInterval_MS);
        FrameCounter answers { {}, 0x1504101D };
        QObject::connect(
            &renamer, &QTcpSocket::readyRead, &renamer, [&] { answers.feed(renamer.readAll()); });

        qint64 sent = 0, answeredAtWindow = -1, windowStart = 0;
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        clock.start();
        QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
            const qint64 now = clock.elapsed();
            if (answeredAtWindow < 0 && now >= Sustain_MS - Window_MS) {
                answeredAtWindow = answers.seen;
                windowStart = now;
            }
            if (now >= Sustain_MS) {
                answeredPerSecond = (answers.seen - answeredAtWindow) * 1000.0 / double(now - windowStart);
                loop.quit();
                return;
            }
            const qint64 due = now * AskedPerSecond / 1000;
            while (sent < due && sent - answers.seen < MaxUnanswered)
                renamer.write(rename(quint32(++sent)));
        });
        tick.start(1);
        loop.exec();
        tick.stop();

        // A new client asks for the name while the slow clients still hold what they hold.
        QTcpSocket newcomer;
        QElapsedTimer waited;
        waited.start();
        if (connected(newcomer, QStringLiteral("127.0.3.2"))) {
            FrameCounter answer { {}, 0x1504101D };
            newcomer.write(frame(0x7D218C12, be32(1) + str(KeyName)));
            while (answer.seen == 0 && waited.elapsed() < 60000 && newcomer.waitForReadyRead(1000))
                answer.feed(newcomer.readAll());
            if (answer.seen > 0)
                getMs = waited.nsecsElapsed() / 1e6;
        }
        standIn.kill();
        standIn.waitForFinished();
        QFile lines(log);
        if (lines.open(QIODevice::ReadOnly))
            dropped = int(lines.readAll().count("\"event\":\"dropped\""));
        ok = answeredPerSecond > 0 && getMs >= 0 && dropped == 0;
    }
};
#endif

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    EchoServer echo;
    bool ok = echo.server.isListening();
    double worst = 1e300;

    for (int valueSize : { 32, 64 * 1024 }) {
        echo.valueField = be32(quint32(valueSize)) + QByteArray(valueSize, 'v');
        const int replySize = 12 + 4 + str(KeyName).size() + echo.valueField.size();

        // Ours.
        ZqNetHostConnection connection;
        connection.Socket()->connectToHost(echo.server.serverAddress(), echo.server.serverPort());
        ok = ok && connection.WaitForConnected(2000);
        ZqNetRequester requester;
        requester.setHostConnection(&connection);
        QEventLoop oursLoop;
        int left = 0;
        QObject::connect(
            &requester, &ZqNetRequester::getRequestAccepted, [&](int, auto, const QByteArray& value) {
                ok = ok && value.size() == valueSize;
                if (--left > 0)
                    requester.sendGetRequest(ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName, false);
                else
                    oursLoop.quit();
            });

        // Floor: the same request bytes, the reply read whole.
        QTcpSocket raw;
        raw.connectToHost(echo.server.serverAddress(), echo.server.serverPort());
        ok = ok && raw.waitForConnected(2000);
        const QByteArray request = frame(0x7D218C12, be32(0) + str(KeyName));
        QEventLoop floorLoop;
        int floorLeft = 0;
        QObject::connect(&raw, &QTcpSocket::readyRead, [&] {
            while (raw.bytesAvailable() >= replySize) {
                raw.read(replySize);
                if (--floorLeft > 0)
                    raw.write(request);
                else
                    floorLoop.quit();
            }
        });

        double ours = 1e300, floor = 1e300;
        for (int i = 0; i < Rounds; ++i) {
            const auto runOurs
                = [&] { ours = std::min(ours, milliseconds([&] { oursRun(requester, oursLoop, left); })); };
            const auto runFloor = [&] {
                floor = std::min(floor, milliseconds([&] {
                    floorLeft = Trips;
                    raw.write(request);
                    floorLoop.exec();
                }));
            };
            if (i % 2) {
                runFloor();
                runOurs();
            } else {
                runOurs();
                runFloor();
            }
        }
        // Round trips per second; the ratio is ours over the floor (higher is better).
        const double ratio = floor / ours;
        std::fflush(stderr);
        std::printf("get round trips, %6d-byte value: %8.0f/s, floor %8.0f/s, ratio %.2f\n", valueSize,
            Trips * 1000.0 / ours, Trips * 1000.0 / floor, ratio);
        worst = std::min(worst, ratio);
        const QByteArray name = "protocol round trip, " + QByteArray::number(valueSize) + " B value";
        benchRow(name.constData(), Trips * 1000.0 / ours, Trips * 1000.0 / floor, "/s", ">=0.5");
    }

    // A client that trickles a huge file frame a byte every 100 ms: how long the
    // server role holds it, with a progress interval of 1000 ms. The floor is a
    // timer of that interval.
    {
        ZqKeyValueSettings store(false);
        // The announcer off: nothing may leave the machine.
        store.SetValue(QStringLiteral("ZqUdpBroadCaster_Enabled"), "0");
        ZqNetConnectionManager server(
            &store, true, QString(), nullptr, QHostAddress(QStringLiteral("127.0.0.248")));
        server.setClientFrameDeadline(1000);
        server.setClientSendStallTimeout(1000);
        QEventLoop wait;
        QTimer cap;
        cap.setSingleShot(true);
        QObject::connect(&cap, &QTimer::timeout, &wait, &QEventLoop::quit);
        QObject::connect(&server, &ZqNetConnectionManager::newClientConnection, &wait, &QEventLoop::quit);
        QObject::connect(&server, &ZqNetConnectionManager::clientDisconnected, &wait, &QEventLoop::quit);
        QTcpSocket client;
        client.connectToHost(
            QHostAddress(QStringLiteral("127.0.0.248")), ZqNetConnectionManager::ServerTcpPort);
        cap.start(5000);
        wait.exec();
        ok = ok && server.ClientConnections().size() == 1;
        QByteArray header(8, '\0');
        qToBigEndian(qint64(1) << 50, header.data());
        client.write(header + be32(0x82703EC2) + QByteArray(512, '\0'));
        QTimer trickle;
        QObject::connect(&trickle, &QTimer::timeout, &client, [&] { client.write("x"); });
        trickle.start(100);
        const double held = milliseconds([&] {
            cap.start(20000);
            wait.exec();
        });
        trickle.stop();
        QTimer interval;
        interval.setSingleShot(true);
        interval.setTimerType(Qt::PreciseTimer);
        QObject::connect(&interval, &QTimer::timeout, &wait, &QEventLoop::quit);
        const double floor = milliseconds([&] {
            interval.start(1000);
            wait.exec();
        });
        std::printf("slow file frame held %.0f ms, progress interval %.0f ms\n", held, floor);
        benchRow("slow file frame held, 1000 ms progress interval", held, floor, "ms", "<=1.5");
    }
    // Every send used to walk every client's whole queue: with slow clients holding
    // more and more, the server fell behind the asked rate.
    {
        const QHostAddress address(QStringLiteral("127.0.0.249"));
        const SteadyBroadcast withSlow(address, 8);
        const SteadyBroadcast alone(address, 0);
        std::printf(
            "broadcasts asked at %d/s for %d s, last %d s: %.0f/s sent with 8 slow clients (%d of 9 "
            "clients left, reader %.0f B/s, %lld bytes waiting for the slowest, resident memory +%lld KiB), "
            "%.0f/s with none (reader %.0f B/s)\n",
            SteadyBroadcast::AskedPerSecond, SteadyBroadcast::Sustain_MS / 1000,
            SteadyBroadcast::Window_MS / 1000, withSlow.sentPerSecond, withSlow.clientsLeft,
            withSlow.readerBytesPerSecond, withSlow.mostWaiting, withSlow.residentGrownKiB,
            alone.sentPerSecond, alone.readerBytesPerSecond);
        ok = ok && alone.ok;
        if (!withSlow.ok)
            std::printf("a slow client was dropped or none connected\n");
        benchRow("broadcasts/s, 8 slow clients after 20 s", withSlow.sentPerSecond, alone.sentPerSecond, "/s",
            ">=0.5");
    }
#ifdef PRINTERSTANDIN_BINARY
    // The same in the printer stand-in, for every frame it sent.
    {
        const QString address = QStringLiteral("127.0.0.250");
        const StandInRenames withSlow(address, 7);
        const StandInRenames alone(address, 0);
        std::printf(
            "stand-in, renames asked at %d/s for %d s, last %d s: %.0f/s answered with 7 slow clients, "
            "%.0f/s with none; a new client's get %.1f ms, %.1f ms; %d and %d clients dropped\n",
            StandInRenames::AskedPerSecond, StandInRenames::Sustain_MS / 1000,
            StandInRenames::Window_MS / 1000, withSlow.answeredPerSecond, alone.answeredPerSecond,
            withSlow.getMs, alone.getMs, withSlow.dropped, alone.dropped);
        ok = ok && withSlow.ok && alone.ok;
        benchRow("stand-in renames/s, 7 slow clients after 30 s", withSlow.answeredPerSecond,
            alone.answeredPerSecond, "/s", ">=0.5");
        benchRow("stand-in new client's get, 7 slow clients", withSlow.getMs, alone.getMs, "ms", "<=10");
    }
#endif
    std::printf("worst ratio %.2f (target at least 0.50)%s\n", worst, ok ? "" : "  RESULTS DIFFER");
    return ok ? 0 : 1;
}
