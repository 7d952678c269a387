// A printer that floods its client, for tests and benchmarks only: a huge material
// list, a run of name or list broadcasts (at a given rate, or as fast as the client
// takes them), slow reading or no reading at all. It listens on TCP port 32889 of one loopback
// address and writes JSON lines to standard output, like the printer stand-in, so that
// PrinterStandInProcess runs it. It encodes with the stand-in's encoders, not the library's.
#include "wirebytes.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QVector>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

using namespace WireBytes;

constexpr quint16 Port = 32889;
constexpr quint32 GetValueRequest = 0x7D218C12;
constexpr quint32 SetValueRequest = 0x808B3BB8;
constexpr quint32 ValueRequestAccepted = 0x1504101D;
constexpr quint32 GetValueRequestDenied = 0x2ED27536;
constexpr quint32 SetValueRequestDenied = 0x27E26376;
constexpr quint32 ValueUpdateBroadcast = 0xDC9B44C3;
constexpr quint32 WatchDogPing = 0x7943A2A5;
const QString NameKey = QStringLiteral("ZqNetValueKey_FriendlyPrinterName");
const QString ListKey = QStringLiteral("ZqNetValueKey_MLIB_MaterialNameList");
const QString MaterialKey = QStringLiteral("ZqNetValueKey_CustomMaterialXMLString");

void logLine(const QJsonObject& line)
{
    std::fputs(QJsonDocument(line).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    std::fflush(stdout);
}

struct Options {
    int listNames = 0;
    bool broadcastList = false;
    QString name;
    int nameFlood = 0;
    int nameLength = 0;
    int listFlood = 0;
    int materialFlood = 0;
    int rate = 0;
    bool noRead = false;
    int readRate = 0;
};

// Broadcast number i of a flood of short lists: five names of 10 characters.
QByteArray floodList(int i)
{
    QByteArray list = u32(5);
    for (int n = 1; n <= 5; ++n)
        list += text(QStringLiteral("M%1-%2").arg(i, 7, 10, QLatin1Char('0')).arg(n));
    return list;
}

class FloodPrinter : public QObject {
public:
    explicit FloodPrinter(const Options& options)
        : options(options)
    {
        // Every name empty: 4 bytes each after the count.
        list = u32(quint32(options.listNames)) + QByteArray(options.listNames * 4, '\0');
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server.nextPendingConnection())
                accept(client);
        });
    }
    bool listen(const QHostAddress& address) { return server.listen(address, Port); }

private:
    void accept(QTcpSocket* client)
    {
        logLine({ { "event", "connected" } });
        // Alive as far as the client's receive watchdog can tell, read or not.
        auto* ping = new QTimer(client);
        connect(ping, &QTimer::timeout, client, [client] { client->write(frame(WatchDogPing, "ZqWD")); });
        ping->start(1000);
        connect(client, &QTcpSocket::disconnected, client, [client] {
            logLine({ { "event", "disconnected" } });
            client->deleteLater();
        });
        // The socket reads into its own buffer, wanted or not, unless that buffer is bounded.
        if (options.noRead)
            client->setReadBufferSize(1);
        else if (options.readRate > 0)
            readSlowly(client);
        else
            connect(client, &QTcpSocket::readyRead, this, [this, client] { read(client); });
    }

    // Takes readRate bytes a second, a tenth at a time, and drops them unread; logs the
    // total every second.
    void readSlowly(QTcpSocket* client)
    {
        const qint64 step = qMax(1, options.readRate / 10);
        client->setReadBufferSize(step);
        auto* timer = new QTimer(client);
        connect(timer, &QTimer::timeout, client, [client, step, taken = qint64(0), ticks = 0]() mutable {
            taken += client->read(step).size();
            if (++ticks % 10 == 0)
                logLine({ { "event", "read" }, { "bytes", taken } });
        });
        timer->start(100);
    }

    void read(QTcpSocket* client)
    {
        while (client->bytesAvailable() >= 12) {
            const QByteArray header = client->peek(12);
            const qint64 length = qFromBigEndian<qint64>(header.constData());
            const quint32 type = qFromBigEndian<quint32>(header.constData() + 8);
            if (length < 0 || length > 64 * 1024 * 1024) {
                client->abort();
                return;
            }
            if (client->bytesAvailable() < 12 + length)
                return;
            client->skip(12);
            handle(client, type, client->read(length));
        }
    }

    void handle(QTcpSocket* client, quint32 type, const QByteArray& payload)
    {
        if (type != GetValueRequest && type != SetValueRequest)
            return;
        const QByteArray id = payload.left(4);
        const quint32 keyBytes = payload.size() >= 8 ? qFromBigEndian<quint32>(payload.constData() + 4) : 0;
        QString key(int(qMin<qint64>(keyBytes, qMax(0, payload.size() - 8)) / 2), Qt::Uninitialized);
        qFromBigEndian<ushort>(payload.constData() + 8, key.size(), key.data());
        logLine({ { "request", type == GetValueRequest ? "get" : "set" },
            { "id", qint64(qFromBigEndian<quint32>(id.constData())) }, { "key", key } });
        if (type == SetValueRequest) {
            client->write(frame(SetValueRequestDenied, id + text(key)));
            return;
        }
        // The client asks at connect and again when a reader misses; a second flood
        // interleaved with the first would leave older broadcasts after the newest.
        const QByteArray flooded = "flooded " + key.toUtf8();
        const bool floodNow = !client->property(flooded.constData()).toBool();
        client->setProperty(flooded.constData(), true);
        if (key == ListKey) {
            client->write(frame(ValueRequestAccepted, id + text(key) + blob(list)));
            // A changed list: one name fewer.
            if (options.broadcastList)
                client->write(frame(ValueUpdateBroadcast,
                    text(key) + blob(u32(quint32(options.listNames - 1)) + list.mid(8))));
            if (options.listFlood > 0 && floodNow)
                flood(client, options.listFlood,
                    [](int i) { return frame(ValueUpdateBroadcast, text(ListKey) + blob(floodList(i))); });
            if (options.materialFlood > 0 && floodNow)
                flood(client, options.materialFlood, [](int i) {
                    return frame(ValueUpdateBroadcast, text(MaterialKey) + blob("Material " + QByteArray::number(i)));
                });
        } else if (key == NameKey) {
            client->write(frame(ValueRequestAccepted, id + text(key) + blob(options.name.toUtf8())));
            const int length = options.nameLength;
            const auto nameFrame = [length](int i) {
                QByteArray name = "Flood " + QByteArray::number(i) + ' ';
                name += QByteArray(qMax(0, length - name.size()), 'x');
                return frame(ValueUpdateBroadcast, text(NameKey) + blob(name));
            };
            if (options.nameFlood > 0 && floodNow)
                flood(client, options.nameFlood, nameFrame);
        } else {
            client->write(frame(GetValueRequestDenied, id + text(key)));
        }
    }

    // Writes count broadcasts, the i-th made by make(i): at options.rate a second, or
    // with a rate of 0 as fast as the client takes them. Past the first Kept, the same
    // broadcasts go again in turn, so that making them costs the printer nothing. Logs
    // "flooded" when all are written.
    void flood(QTcpSocket* client, int count, const std::function<QByteArray(int)>& make)
    {
        // Enough to keep the client busy, little enough to show how fast it takes them.
        constexpr qint64 Backlog = 256 * 1024;
        constexpr int Kept = 4096;
        const int rate = options.rate;
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        auto sent = std::make_shared<int>(0);
        auto made = std::make_shared<QVector<QByteArray>>();
        auto* tick = new QTimer(client);
        const auto topUp = [=] {
            if (*sent == count)
                return;
            const qint64 due = rate > 0 ? qMin<qint64>(count, clock->elapsed() * rate / 1000 + 1) : count;
            QByteArray batch;
            while (*sent < due && client->bytesToWrite() + batch.size() < Backlog) {
                const int i = ++*sent;
                if (i <= Kept)
                    made->append(make(i));
                batch += made->at((i - 1) % Kept);
            }
            client->write(batch);
            if (*sent == count) {
                tick->stop();
                delete tick->findChild<QTimer*>();
                logLine({ { "event", "flooded" }, { "count", count } });
            }
        };
        connect(client, &QTcpSocket::bytesWritten, tick, topUp);
        connect(tick, &QTimer::timeout, client, topUp);
        if (rate > 0)
            tick->start(2);
        // How far it got, for a client that is stopped before the end.
        auto* progress = new QTimer(tick);
        connect(progress, &QTimer::timeout, client, [=] {
            logLine({ { "event", "flooding" }, { "sent", *sent }, { "ms", clock->elapsed() } });
        });
        progress->start(1000);
        topUp();
    }

    Options options;
    QByteArray list;
    QTcpServer server;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("A printer that floods its client (tests only). Pings every second; "
                                     "answers gets of the name and the material list, denies the rest.");
    parser.addHelpOption();
    const QCommandLineOption address("address", "Loopback address to listen on.", "address");
    const QCommandLineOption listNames("list-names", "Empty names in the material list.", "count", "0");
    const QCommandLineOption broadcastList(
        "broadcast-list", "After answering the list, broadcast it with one name fewer.");
    const QCommandLineOption name("name", "The printer's name.", "name", "Flood printer");
    const QCommandLineOption nameFlood(
        "name-flood", "After the first answer of the name, broadcast this many other names.", "count", "0");
    const QCommandLineOption nameLength("name-length", "Pad flooded names to this many bytes.", "bytes", "0");
    const QCommandLineOption listFlood("list-flood",
        "After the first answer of the list, broadcast this many lists of five 10-character names.", "count", "0");
    const QCommandLineOption materialFlood("material-flood",
        "After the first answer of the list, broadcast this many material strings.", "count", "0");
    const QCommandLineOption rate("rate",
        "Broadcasts a second for the floods; 0: as fast as the client takes them.",
        "count", "0");
    const QCommandLineOption noRead("no-read", "Never read what the client sends.");
    const QCommandLineOption readRate(
        "read-rate", "Read only this many bytes a second of what the client sends, unparsed.", "bytes", "0");
    parser.addOptions(
        { address, listNames, broadcastList, name, nameFlood, nameLength, listFlood, materialFlood, rate, noRead,
            readRate });
    parser.process(app);

    Options options;
    options.listNames = parser.value(listNames).toInt();
    options.broadcastList = parser.isSet(broadcastList);
    options.name = parser.value(name);
    options.nameFlood = parser.value(nameFlood).toInt();
    options.nameLength = parser.value(nameLength).toInt();
    options.listFlood = parser.value(listFlood).toInt();
    options.materialFlood = parser.value(materialFlood).toInt();
    options.rate = parser.value(rate).toInt();
    options.noRead = parser.isSet(noRead);
    options.readRate = parser.value(readRate).toInt();
    const QHostAddress host(parser.value(address));
    FloodPrinter printer(options);
    if (!host.isLoopback() || !printer.listen(host)) {
        std::fprintf(stderr, "floodprinter: cannot listen on %s\n", qPrintable(parser.value(address)));
        return 1;
    }
    logLine({ { "event", "listening" } });
    return app.exec();
}
