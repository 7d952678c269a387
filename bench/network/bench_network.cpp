// Request/reply round trips through ZqNetRequester and ZqNetHostConnection against a
// raw QTcpSocket ping-pong of the same bytes, both to one in-process loopback server.
#include "benchrow.h"
#include "zqkeyvaluesettings.h"
#include "zqnetconnectionmanager.h"
#include "zqnetrequester.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <functional>

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
        ZqNetConnectionManager server(&store, true, QString(), nullptr, QHostAddress(QStringLiteral("127.0.0.248")));
        server.setClientFrameDeadline(1000);
        server.setClientSendStallTimeout(1000);
        QEventLoop wait;
        QTimer cap;
        cap.setSingleShot(true);
        QObject::connect(&cap, &QTimer::timeout, &wait, &QEventLoop::quit);
        QObject::connect(&server, &ZqNetConnectionManager::newClientConnection, &wait, &QEventLoop::quit);
        QObject::connect(&server, &ZqNetConnectionManager::clientDisconnected, &wait, &QEventLoop::quit);
        QTcpSocket client;
        client.connectToHost(QHostAddress(QStringLiteral("127.0.0.248")), ZqNetConnectionManager::ServerTcpPort);
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
    std::printf("worst ratio %.2f (target at least 0.50)%s\n", worst, ok ? "" : "  RESULTS DIFFER");
    return ok ? 0 : 1;
}
