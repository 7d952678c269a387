#pragma once

#include "../loopbackaddress.h"
#include "../testsupport.h"
#include "zqkeyvaluesettings.h"
#include "zqnetconnectionmanager.h"
#include "zqnethostconnection.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <memory>
#include <vector>

// Writes a file, making its folders first.
inline void placeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline QByteArray pattern(int size, int seed = 0)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 13 + i / 509 + seed);
    return data;
}

// Relative paths of every entry below root (links not followed), sorted.
inline QStringList tree(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// Wire bytes written out by hand, independent of the library's encoder.
inline QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

inline QByteArray be32(quint32 v)
{
    return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(8, '0'));
}

inline QByteArray frame(quint32 type, const QByteArray& payload, qint64 length = -1)
{
    QByteArray bytes(8, '\0');
    qToBigEndian(length < 0 ? qint64(payload.size()) : length, bytes.data());
    return bytes + be32(type) + payload;
}

// A data-stream QString: byte count, then UTF-16BE.
inline QByteArray str(const QString& text)
{
    QByteArray bytes = be32(quint32(text.size() * 2));
    for (QChar c : text)
        bytes += be32(c.unicode()).mid(2);
    return bytes;
}

inline QByteArray bytesField(const QByteArray& value) { return be32(quint32(value.size())) + value; }

// A frame that announces `size` bytes and carries all but the last MiB: the
// receiver holds it, waiting for the rest.
inline QByteArray unfinishedFrame(int size)
{
    return frame(ZqMessageTypes::ZqMessage_GenericMessage, pattern(size - 1024 * 1024), size);
}

// n sockets connecting to one listener, not waited for.
inline std::vector<std::unique_ptr<QTcpSocket>> connectingClients(
    int n, const QHostAddress& address, quint16 port)
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < n; ++i) {
        clients.emplace_back(new QTcpSocket);
        clients.back()->connectToHost(address, port);
    }
    return clients;
}

// A ZqNetHostConnection connected to a raw socket that the test drives.
struct LoopbackPair {
    QTcpServer server;
    ZqNetHostConnection connection;
    std::unique_ptr<QTcpSocket> peer;

    bool open(const char* address)
    {
        if (!server.isListening() && !server.listen(QHostAddress(QString::fromLatin1(address)), 0))
            return false;
        QSignalSpy connected(&connection, &ZqNetHostConnection::connected);
        connection.Socket()->connectToHost(server.serverAddress(), server.serverPort());
        if (!server.waitForNewConnection(10000))
            return false;
        peer.reset(server.nextPendingConnection());
        peer->setParent(nullptr);
        return connected.count() == 1 || connected.wait(10000);
    }

    // Everything the peer receives until it holds n bytes.
    QByteArray peerRead(qint64 n, int timeoutMs = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        while (peer->bytesAvailable() < n && timer.elapsed() < timeoutMs)
            QTest::qWait(5);
        return peer->read(n);
    }

    void peerWrite(const QByteArray& bytes)
    {
        peer->write(bytes);
        peer->flush();
    }
};

// A memory-only store whose announcer switch is off, and a server-role manager
// on one loopback address using it: nothing is ever announced. Without an address
// it takes a free one of its own, and another when a parallel run binds it first.
struct LoopbackServer {
    LoopbackServer()
        : store(false)
    {
        store.SetValue(QStringLiteral("ZqUdpBroadCaster_Enabled"), "0");
        for (int attempt = 0; attempt < 5 && !(server && server->isListening()); ++attempt)
            listen(QHostAddress(freeLoopbackAddress()));
    }
    explicit LoopbackServer(const QHostAddress& at)
        : store(false)
    {
        store.SetValue(QStringLiteral("ZqUdpBroadCaster_Enabled"), "0");
        listen(at);
    }
    void listen(const QHostAddress& at)
    {
        address = at;
        server.reset(new ZqNetConnectionManager(&store, true, QString(), nullptr, address));
    }
    ZqKeyValueSettings store;
    std::unique_ptr<ZqNetConnectionManager> server;
    QHostAddress address;
};

// Every message of one type logged while it lives, in order. Qt Test's own handling
// of messages (ignoreMessage included) is off meanwhile.
class MessageCapture {
public:
    explicit MessageCapture(QtMsgType type)
        : watched(type)
    {
        current() = this;
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }
    int count(const QString& pattern) const { return messages.filter(QRegularExpression(pattern)).size(); }
    QStringList messages;

private:
    static MessageCapture*& current()
    {
        static MessageCapture* capture = nullptr;
        return capture;
    }
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (current() && type == current()->watched)
            current()->messages << text;
    }
    QtMsgType watched;
    QtMessageHandler previous = nullptr;
};
