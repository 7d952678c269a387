// A small stand-in for a printer's network service, to try the application and to
// test it without a printer. It speaks the framed protocol on TCP port 32889 with
// its own encoder and decoder (not the network library's), so that a wire fault
// can't hide by being the same on both ends.
#include "encrypt.h"
#include "wirebytes.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

#include <sys/ioctl.h>
#include <sys/resource.h>

namespace {

constexpr quint16 Port = 32889;
constexpr qint64 MaxPayload = 16 * 1024 * 1024;
constexpr int PingInterval = 5000;
// What one client may cost: connections in all and from one address, bytes
// waiting to be sent to it, and time (a frame must be whole within the frame
// deadline, and a client that sends nothing, or takes none of the bytes
// waiting for it, for the idle time-out is dropped).
constexpr int MaxClients = 64;
constexpr int MaxClientsPerPeer = 8;
constexpr qint64 MaxSendBacklog = MaxPayload + 1024 * 1024;
// Bytes waiting to be sent to all clients together, a broadcast counted once;
// past it the client furthest behind (holding the oldest frame) is dropped.
constexpr qint64 MaxQueuedBytes = 64 * 1024 * 1024;
// Frames go to a socket a little at a time, so that a broadcast is held once.
constexpr qint64 WriteAhead = 256 * 1024;
constexpr int AcceptRetryDelay = 500;
// Bytes of frames not yet whole, for all clients together; past it the
// client holding the most is dropped.
constexpr qint64 MaxUnfinishedBytes = 64 * 1024 * 1024;

enum : quint32 {
    GetValueRequest = 0x7D218C12,
    SetValueRequest = 0x808B3BB8,
    FileTransferRequest = 0x07ACBFA1,
    FileRetrieveRequest = 0x08401FC4,
    ValueRequestAccepted = 0x1504101D,
    GetValueRequestDenied = 0x2ED27536,
    SetValueRequestDenied = 0x27E26376,
    FileTransferRequestDenied = 0x64A5933A,
    FileRetrieveRequestDenied = 0x24A4855B,
    ValueUpdateBroadcast = 0xDC9B44C3,
    WatchDogPing = 0x7943A2A5,
};

const QString InvalidKey = QStringLiteral("ZqNetValueKey_InvalidKey");
const QString NameKey = QStringLiteral("ZqNetValueKey_FriendlyPrinterName");
const QString ListKey = QStringLiteral("ZqNetValueKey_MLIB_MaterialNameList");
const QString RemoveKey = QStringLiteral("ZqNetValueKey_MLIB_RemoveMaterial");
const QString InstallKey = QStringLiteral("ZqNetValueKey_CustomMaterialXMLString");

using namespace WireBytes;

// Decoder over one payload; any short read leaves ok false.
struct Reader {
    QByteArray data;
    int pos = 0;
    bool ok = true;
    quint32 u32()
    {
        ok = ok && data.size() - pos >= 4;
        if (!ok)
            return 0;
        pos += 4;
        return qFromBigEndian<quint32>(data.constData() + pos - 4);
    }
    QByteArray raw()
    {
        const quint32 n = u32();
        ok = ok && (n == 0xFFFFFFFF || quint32(data.size() - pos) >= n);
        if (!ok || n == 0xFFFFFFFF)
            return QByteArray();
        pos += int(n);
        return data.mid(pos - int(n), int(n));
    }
    QString text()
    {
        const QByteArray b = raw();
        if (b.size() % 2)
            ok = false;
        QString s;
        for (int i = 0; ok && i + 1 < b.size(); i += 2)
            s += QChar(ushort(uchar(b[i]) << 8 | uchar(b[i + 1])));
        return s;
    }
};

QString materialName(const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("ZqMaterial"))
        return QString();
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("FriendlyName"))
            return reader.readElementText();
        reader.skipCurrentElement();
    }
    return QString();
}

// Times how long a client takes none of the bytes waiting for it. Taken means
// acknowledged, as the kernel counts it: the socket reports a write only once the
// kernel has room for a good part of its buffer again, which a slow reader takes
// minutes to make. Sampled all through the time-out, so that any byte taken counts.
class SendStall : public QTimer {
public:
    SendStall(QTcpSocket* client, int limit, std::function<void()> stalled)
        : QTimer(client)
        , client(client)
        , limit(limit)
        , stalled(std::move(stalled))
    {
        setInterval(qBound(20, limit / 100, 250));
        connect(
            client, &QIODevice::channelBytesWritten, this, [this](int, qint64 bytes) { handed += bytes; });
        connect(this, &QTimer::timeout, this, [this] { sample(); });
    }
    // After every write, and every time the socket hands bytes on.
    void watch()
    {
        if (isActive() || client->bytesToWrite() == 0)
            return;
        last = taken();
        since.start();
        start();
    }

private:
    qint64 taken() const
    {
        int unacknowledged = 0;
        if (::ioctl(int(client->socketDescriptor()), TIOCOUTQ, &unacknowledged) == 0)
            return handed - unacknowledged;
        return handed;
    }
    void sample()
    {
        if (client->bytesToWrite() == 0) {
            stop();
            return;
        }
        const qint64 now = taken();
        if (now > last) {
            last = now;
            since.start();
        } else if (since.elapsed() >= limit) {
            stop();
            stalled();
        }
    }

    QTcpSocket* client;
    int limit;
    std::function<void()> stalled;
    qint64 handed = 0;
    qint64 last = 0;
    QElapsedTimer since;
};

class StandIn : public QObject {
public:
    QString mode;
    QString groupKey;
    QString name;
    QStringList materials;
    QFile log;

    int frameDeadline = 30000;
    int idleTimeout = 25000;

    bool listen(const QHostAddress& address)
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server.nextPendingConnection())
                accept(client);
        });
        // Qt stops accepting after an accept error (out of descriptors, say)
        // and never starts again by itself.
        connect(&server, &QTcpServer::acceptError, this, [this] {
            write({ { "event", "accept error" }, { "error", server.errorString() } });
            QTimer::singleShot(AcceptRetryDelay, &server, [this] { server.resumeAccepting(); });
        });
        return server.listen(address, Port);
    }
    QString listenError() const { return server.errorString(); }

    void write(QJsonObject line)
    {
        log.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
        log.flush();
    }

private:
    QTcpServer server;
    QList<QTcpSocket*> clients;

    void accept(QTcpSocket* client)
    {
        const QHostAddress address = client->peerAddress();
        const int fromPeer = int(std::count_if(clients.cbegin(), clients.cend(),
            [&address](QTcpSocket* c) { return c->peerAddress() == address; }));
        if (clients.size() >= clientLimit() || fromPeer >= MaxClientsPerPeer) {
            write({ { "event", "refused" }, { "peer", address.toString() } });
            client->abort();
            client->deleteLater();
            return;
        }
        clients << client;
        watch(client);
        auto* ping = new QTimer(client);
        ping->setInterval(PingInterval);
        connect(ping, &QTimer::timeout, client, [this, client] { send(client, WatchDogPing, "ZqWD"); });
        connect(client, &QTcpSocket::bytesWritten, ping, qOverload<>(&QTimer::start));
        if (mode != "mute" && mode != "trickle")
            ping->start();
        connect(client, &QTcpSocket::readyRead, this, [this, client] { read(client); });
        connect(client, &QTcpSocket::bytesWritten, this, [this, client] { pump(client); });
        const QString peer = client->peerAddress().toString();
        connect(client, &QTcpSocket::disconnected, this, [this, client, peer] {
            write({ { "event", "disconnected" }, { "peer", peer } });
            forget(client);
            client->deleteLater();
        });
        write({ { "event", "connected" }, { "peer", peer } });
        misbehave(client);
    }

    // Below the descriptor limit, so that clients alone never use them up.
    static int clientLimit()
    {
        struct rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return MaxClients;
        return int(qBound<rlim_t>(1, (qMax<rlim_t>(limit.rlim_cur, 16) - 16) / 2, MaxClients));
    }

    void drop(QTcpSocket* client, const QString& reason)
    {
        write({ { "event", "dropped" }, { "peer", client->peerAddress().toString() }, { "reason", reason } });
        forget(client);
        // Not disconnectFromHost(): that would wait for the client to read.
        client->abort();
    }

    void forget(QTcpSocket* client)
    {
        clients.removeOne(client);
        const auto box = outbox.find(client);
        if (box == outbox.end())
            return;
        for (const auto& f : qAsConst(box->frames))
            release(f.first);
        outbox.erase(box);
    }

    // The idle time-out, the frame deadline and the send stall, per client.
    void watch(QTcpSocket* client)
    {
        auto* idle = new QTimer(client);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, client, [this, client] { drop(client, "idle"); });
        connect(client, &QTcpSocket::readyRead, idle, qOverload<>(&QTimer::start));
        idle->start(idleTimeout);
        auto* stall = new SendStall(client, idleTimeout, [this, client] { drop(client, "takes nothing"); });
        stall->setObjectName("stall");
        connect(client, &QTcpSocket::bytesWritten, stall, &SendStall::watch);
        auto* deadline = new QTimer(client);
        deadline->setObjectName("frame deadline");
        deadline->setSingleShot(true);
        deadline->setInterval(frameDeadline);
        connect(deadline, &QTimer::timeout, client, [this, client] { drop(client, "frame deadline"); });
    }

    // The hostile modes: what a broken or malicious printer sends first.
    void misbehave(QTcpSocket* client)
    {
        const QByteArray named = frame(ValueUpdateBroadcast, text(NameKey) + blob(name.toUtf8()));
        QByteArray header(8, '\0');
        if (mode == "oversized" || mode == "negative") {
            qToBigEndian(mode == "oversized" ? qint64(1) << 40 : qint64(-2), header.data());
            client->write(header + u32(0x82443225) + QByteArray(1024 * 1024, 'x'));
        } else if (mode == "garbage") {
            client->write(named + QByteArray("GARBAGE!") + QByteArray(56, '\xff'));
        } else if (mode == "fileframe") {
            const auto field
                = [](const QByteArray& path) { return path + QByteArray(256 - path.size(), '\0'); };
            client->write(
                frame(0x82703EC2, field("../outside/planted.txt") + field("planted.txt") + "planted")
                + named);
        } else if (mode == "trickle") {
            // One byte a second of an endless run of frames.
            auto* timer = new QTimer(client);
            connect(timer, &QTimer::timeout, client,
                [client, named, at = 0]() mutable { client->write(named.mid(at++ % named.size(), 1)); });
            timer->start(1000);
        }
    }

    // Frames waiting for a client, oldest first, numbered in the order sent
    // (a broadcast has one number for all); sent counts what of the first
    // one is in the socket, bytes what all of them hold.
    struct Outbox {
        QList<QPair<quint64, QByteArray>> frames;
        qint64 sent = 0;
        qint64 bytes = 0;
    };
    QHash<QTcpSocket*, Outbox> outbox;
    quint64 nextOrder = 0;
    // Frames some client waits for, by number, with their size and how many
    // clients hold them; heldBytes counts each once. Running totals, so that a
    // frame costs the same whatever the clients hold.
    struct Held {
        qint64 size = 0;
        int holders = 0;
    };
    QHash<quint64, Held> held;
    qint64 heldBytes = 0;

    void hold(quint64 order, qint64 size)
    {
        Held& h = held[order];
        if (h.holders++ == 0) {
            h.size = size;
            heldBytes += size;
        }
    }

    void release(quint64 order)
    {
        const auto h = held.find(order);
        if (h == held.end() || --h->holders > 0)
            return;
        heldBytes -= h->size;
        held.erase(h);
    }

    qint64 waiting(QTcpSocket* client) const
    {
        const auto box = outbox.constFind(client);
        if (box == outbox.cend())
            return client->bytesToWrite();
        return client->bytesToWrite() - box->sent + box->bytes;
    }

    // What already waits is checked, not the new frame: a client that reads is
    // never dropped for its answer and the broadcast that follows it.
    bool queue(QTcpSocket* client, quint64 order, const QByteArray& bytes)
    {
        // A client dropped while its request was handled gets nothing more.
        if (!clients.contains(client))
            return false;
        if (waiting(client) > MaxSendBacklog) {
            drop(client, "send backlog");
            return false;
        }
        Outbox& box = outbox[client];
        box.frames.append({ order, bytes });
        box.bytes += bytes.size();
        hold(order, bytes.size());
        pump(client);
        return true;
    }

    void pump(QTcpSocket* client)
    {
        const auto box = outbox.find(client);
        if (box == outbox.end())
            return;
        while (!box->frames.isEmpty() && client->bytesToWrite() < WriteAhead) {
            const QByteArray& next = box->frames.first().second;
            const qint64 length = qMin(WriteAhead, next.size() - box->sent);
            client->write(next.constData() + box->sent, length);
            box->sent += length;
            if (box->sent == next.size()) {
                box->bytes -= next.size();
                release(box->frames.first().first);
                box->frames.removeFirst();
                box->sent = 0;
            }
        }
        if (auto* stall = static_cast<SendStall*>(client->findChild<QTimer*>("stall")))
            stall->watch();
    }

    void boundQueued()
    {
        // A frame being written is held whole until its last piece is in the socket.
        for (;;) {
            qint64 total = heldBytes;
            for (QTcpSocket* client : qAsConst(clients))
                total += client->bytesToWrite();
            if (total <= MaxQueuedBytes)
                return;
            qint64 behindBytes = 0;
            quint64 oldest = std::numeric_limits<quint64>::max();
            QTcpSocket* behind = nullptr;
            for (QTcpSocket* client : qAsConst(clients)) {
                const auto box = outbox.constFind(client);
                const quint64 first
                    = box == outbox.cend() || box->frames.isEmpty() ? oldest : box->frames.first().first;
                const qint64 bytes = waiting(client);
                if (bytes > 0 && (first < oldest || (first == oldest && bytes > behindBytes))) {
                    oldest = first;
                    behind = client;
                    behindBytes = bytes;
                }
            }
            if (!behind)
                return;
            drop(behind, "furthest behind");
        }
    }

    void send(QTcpSocket* client, quint32 type, const QByteArray& payload)
    {
        if (queue(client, nextOrder++, frame(type, payload)))
            boundQueued();
    }

    void broadcast(const QString& key, const QByteArray& value)
    {
        const QByteArray bytes = frame(ValueUpdateBroadcast, text(key) + blob(value));
        const quint64 order = nextOrder++;
        // A client dropped on the way leaves the list.
        const QList<QTcpSocket*> all = clients;
        for (QTcpSocket* client : all) {
            if (clients.contains(client))
                queue(client, order, bytes);
        }
        boundQueued();
    }

    QByteArray listValue() const
    {
        QByteArray bytes = u32(mode == "hugelist" ? 0x7FFFFFFF : quint32(materials.size()));
        for (const QString& m : materials)
            bytes += text(m);
        return bytes;
    }

    void read(QTcpSocket* client)
    {
        const QPointer<QTcpSocket> alive(client);
        auto* deadline = client->findChild<QTimer*>("frame deadline");
        // Started by a header whose frame is not whole yet, stopped once it is.
        if (deadline && client->bytesAvailable() >= 12 && !deadline->isActive())
            deadline->start();
        while (alive && client->bytesAvailable() >= 12) {
            const QByteArray header = client->peek(12);
            const qint64 length = qFromBigEndian<qint64>(header.constData());
            const quint32 type = qFromBigEndian<quint32>(header.constData() + 8);
            if (length < 0 || length > MaxPayload) {
                write({ { "event", "bad frame" }, { "length", QString::number(length) } });
                client->abort();
                return;
            }
            if (client->bytesAvailable() < 12 + length)
                break;
            if (deadline)
                deadline->stop();
            client->skip(12);
            handle(client, type, client->read(length));
            if (deadline && alive && client->bytesAvailable() >= 12)
                deadline->start();
        }
        if (alive)
            boundUnfinished();
    }

    void boundUnfinished()
    {
        for (;;) {
            qint64 total = 0, most = 0;
            QTcpSocket* holder = nullptr;
            for (QTcpSocket* c : qAsConst(clients)) {
                const qint64 held = c->state() == QAbstractSocket::ConnectedState ? c->bytesAvailable() : 0;
                total += held;
                if (held > most) {
                    most = held;
                    holder = c;
                }
            }
            if (total <= MaxUnfinishedBytes || !holder)
                return;
            drop(holder, "unfinished frames");
        }
    }

    void handle(QTcpSocket* client, quint32 type, const QByteArray& payload)
    {
        Reader in { payload };
        QJsonObject line { { "peer", client->peerAddress().toString() } };
        if (type == WatchDogPing || mode == "trickle")
            return;
        if ((type == FileTransferRequest || type == FileRetrieveRequest) && mode != "silent") {
            const quint32 id = in.u32();
            line["request"] = type == FileTransferRequest ? "file transfer" : "file retrieve";
            line["id"] = qint64(id);
            line["reply"] = "denied";
            write(line);
            send(client, type == FileTransferRequest ? FileTransferRequestDenied : FileRetrieveRequestDenied,
                u32(id));
            return;
        }
        if (type != GetValueRequest && type != SetValueRequest) {
            write({ { "event", "ignored" }, { "type", QString::number(type, 16) } });
            return;
        }
        const quint32 id = in.u32();
        const QString key = in.text();
        const QByteArray value = type == SetValueRequest ? in.raw() : QByteArray();
        line["request"] = type == GetValueRequest ? "get" : "set";
        line["id"] = qint64(id);
        line["key"] = key;
        if (!in.ok)
            line["reply"] = "none, truncated";
        else if (mode == "silent")
            line["reply"] = "none, silent";
        else if (mode == "late" && type == GetValueRequest && firstAsk(client, key))
            line["reply"] = "none, first ask";
        else if (type == GetValueRequest)
            get(client, id, key, line);
        else
            set(client, id, key, value, line);
        write(line);
    }

    // Whether this client asks for the key for the first time.
    static bool firstAsk(QTcpSocket* client, const QString& key)
    {
        const QByteArray asked = "asked " + key.toUtf8();
        if (client->property(asked.constData()).toBool())
            return false;
        client->setProperty(asked.constData(), true);
        return true;
    }

    void get(QTcpSocket* client, quint32 id, const QString& key, QJsonObject& line)
    {
        if (key != NameKey && key != ListKey) {
            line["reply"] = "denied";
            send(client, GetValueRequestDenied, u32(id) + text(key));
            return;
        }
        line["reply"] = "accepted";
        send(client, ValueRequestAccepted,
            u32(id) + text(key) + blob(key == NameKey ? name.toUtf8() : listValue()));
    }

    void set(QTcpSocket* client, quint32 id, const QString& key, const QByteArray& value, QJsonObject& line)
    {
        const auto deny = [&](const QString& named) {
            line["reply"] = named == key ? "denied" : "denied, unknown key";
            send(client, SetValueRequestDenied, u32(id) + text(named));
        };
        if (mode == "drop") {
            line["reply"] = "none, connection dropped";
            client->abort();
            return;
        }
        if (mode == "deny")
            return deny(key);
        if (mode == "oldfirmware" || (key != NameKey && key != RemoveKey && key != InstallKey))
            return deny(InvalidKey);

        QString changedKey = ListKey;
        QString material = QString::fromUtf8(value);
        if (key == NameKey) {
            name = material;
            line["value"] = material;
            changedKey = NameKey;
        } else if (key == RemoveKey) {
            line["material"] = material;
            if (!materials.removeOne(material))
                return deny(key);
        } else {
            const QByteArray xml
                = groupKey.isEmpty() ? QByteArray() : Zq::Encrypt().DecryptWithKey(groupKey, value, false);
            material = materialName(xml);
            line["material"] = material;
            if (material.isEmpty())
                return deny(key);
            if (!materials.contains(material))
                materials << material;
        }
        line["reply"] = "accepted";
        send(client, ValueRequestAccepted, u32(id) + text(key) + blob(material.toUtf8()));
        broadcast(changedKey, changedKey == NameKey ? name.toUtf8() : listValue());
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("printerstandin");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Answers the printer protocol on TCP port 32889 like a printer would, so that the "
        "application can connect, install, list and remove materials without one.\n\n"
        "Gets: ZqNetValueKey_FriendlyPrinterName (UTF-8) and ZqNetValueKey_MLIB_MaterialNameList "
        "(string list); other keys are denied.\n"
        "Sets: ZqNetValueKey_CustomMaterialXMLString decrypts the material with the group key and adds "
        "its FriendlyName to the list; ZqNetValueKey_MLIB_RemoveMaterial removes a listed name; "
        "ZqNetValueKey_FriendlyPrinterName renames the printer. Each change is broadcast to every "
        "client. Other keys are denied as unknown (ZqNetValueKey_InvalidKey). File requests are denied.\n\n"
        "Modes:\n"
        "  accept       answer as above (default)\n"
        "  deny         deny every set request, naming its key\n"
        "  oldfirmware  deny every set request as an unknown key\n"
        "  silent       answer nothing (keep-alive pings still go out)\n"
        "  drop         answer gets; close the connection at the first set request\n"
        "  mute         like accept, but never ping (clients time out after 25 s)\n"
        "  late         like accept, but leave each client's first get of each key unanswered, as a "
        "printer still starting would\n"
        "Hostile modes, each otherwise like accept:\n"
        "  oversized    at connect, a frame header announcing 2^40 payload bytes, then 1 MiB\n"
        "  negative     at connect, a frame header with the length -2, then 1 MiB\n"
        "  hugelist     material lists claim 2147483647 names\n"
        "  trickle      at connect, name broadcasts one byte a second, for ever; no pings, no answers\n"
        "  garbage      at connect, a name broadcast, then 64 bytes of garbage\n"
        "  fileframe    at connect, a file frame for ../outside/planted.txt, then a name broadcast\n\n"
        "Limits: 64 clients (fewer under a low descriptor limit), 8 from one address; a frame must be whole "
        "within the frame deadline, and frames not yet whole may hold 64 MiB for all clients together (the "
        "client holding the most is dropped past it); a client "
        "that sends nothing, or takes none of the bytes waiting for it, for the idle time-out is dropped, "
        "and so is one with more than 17 MiB already waiting for it when more is sent; past 64 MiB waiting "
        "for all "
        "clients together (a broadcast counted once), the client furthest behind is dropped.\n\n"
        "Log: one JSON object per line: {\"event\":\"listening\"|\"connected\"|\"disconnected\"|"
        "\"refused\"|\"dropped\"|\"accept error\"|...} "
        "or a request {\"peer\",\"request\":\"get\"|\"set\"|\"file transfer\"|\"file retrieve\","
        "\"id\",\"key\",\"reply\"[,\"material\"|\"value\"]}.");
    parser.addHelpOption();
    const QCommandLineOption address(
        "address", "Address to listen on (default 127.0.0.1).", "address", "127.0.0.1");
    const QCommandLineOption groupKey("group-key", "Group key that installs are encrypted with.", "key");
    const QCommandLineOption name(
        "name", "Friendly printer name (default \"Stand-in printer\").", "name", "Stand-in printer");
    const QCommandLineOption material("material", "A material already installed (repeatable).", "name");
    const QCommandLineOption mode(
        "mode", "accept, deny, oldfirmware, silent, drop, mute, late or a hostile mode.", "mode", "accept");
    const QCommandLineOption log(
        "log", "Append the JSON-lines log to this file (default: standard output).", "file");
    const QCommandLineOption frameDeadline("frame-deadline",
        "Drop a client whose frame is not whole this many ms after its header (default 30000).", "ms",
        "30000");
    const QCommandLineOption idleTimeout("idle-timeout",
        "Drop a client that sends nothing, or takes none of the bytes waiting for it, for this many ms "
        "(default 25000).",
        "ms", "25000");
    parser.addOptions({ address, groupKey, name, material, mode, log, frameDeadline, idleTimeout });
    parser.process(app);

    StandIn standIn;
    standIn.mode = parser.value(mode);
    standIn.groupKey = parser.value(groupKey);
    standIn.name = parser.value(name);
    standIn.materials = parser.values(material);
    standIn.frameDeadline = qMax(1, parser.value(frameDeadline).toInt());
    standIn.idleTimeout = qMax(1, parser.value(idleTimeout).toInt());
    const QStringList modes { "accept", "deny", "oldfirmware", "silent", "drop", "mute", "late", "oversized",
        "negative", "hugelist", "trickle", "garbage", "fileframe" };
    if (!modes.contains(standIn.mode)) {
        std::fprintf(stderr, "printerstandin: unknown mode %s\n", qPrintable(standIn.mode));
        return 2;
    }
    const bool logOpen = parser.isSet(log) ? (standIn.log.setFileName(parser.value(log)),
                             standIn.log.open(QIODevice::WriteOnly | QIODevice::Append))
                                           : standIn.log.open(stdout, QIODevice::WriteOnly);
    const QHostAddress host(parser.value(address));
    if (!logOpen || host.isNull() || !standIn.listen(host)) {
        std::fprintf(stderr, "printerstandin: cannot listen on %s port %d: %s\n",
            qPrintable(parser.value(address)), Port,
            qPrintable(host.isNull() ? "not an address" : standIn.listenError()));
        return 1;
    }
    standIn.write({ { "event", "listening" }, { "address", host.toString() }, { "port", Port },
        { "mode", standIn.mode } });
    return app.exec();
}
