// The frame decoder of a host connection and the payload readers, on the bytes
// that a printer sends, with a requester waiting for replies to four requests.
// Input: one byte whose low 7 bits set the size of the pieces the bytes arrive
// in (0: at once) and whose top bit lets the connection take files (as the
// server role does) below a folder of its own; then the stream.
#include "fuzzsupport.h"

#include "zqnethostconnection.h"
#include "zqnetrequester.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace {

// A connected socket whose incoming bytes are given by the target; what the
// connection writes is dropped.
class FeedSocket : public QTcpSocket {
public:
    FeedSocket()
    {
        setSocketState(ConnectedState);
        setOpenMode(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    void feed(const QByteArray& bytes)
    {
        incoming.append(bytes);
        emit readyRead();
    }
    qint64 bytesAvailable() const override { return incoming.size() - position; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 size = qMin(maxSize, bytesAvailable());
        if (size > 0)
            memcpy(data, incoming.constData() + position, size_t(size));
        position += int(size);
        return size;
    }
    qint64 writeData(const char*, qint64 size) override { return size; }

private:
    QByteArray incoming;
    int position = 0;
};

void readPayload(const QByteArray& payload)
{
    using namespace ZqMessageTypes;
    getMessageType(payload);
    getValueKeyFromMessage(payload);
    decodeStringList(getValueFromValueMessage(payload));
}

} // namespace

GELV_FUZZ_TARGET
{
    if (size < 1)
        return 0;
    const int piece = (data[0] & 0x7F) == 0 ? int(size) : data[0] & 0x7F;
    const bool takesFiles = data[0] & 0x80;
    const QByteArray stream(reinterpret_cast<const char*>(data) + 1, int(size) - 1);
    const QDir scratch(FuzzSupport::scratch());
    const QString root = scratch.filePath(QStringLiteral("root"));
    const QString temp = scratch.filePath(QStringLiteral("temp"));
    QDir(root).removeRecursively();
    QDir(temp).removeRecursively();
    scratch.mkpath(root);
    scratch.mkpath(temp);

    {
        FeedSocket socket;
        ZqNetHostConnection connection(&socket, temp, nullptr);
        if (takesFiles)
            connection.setFileReceiveRoot(root);
        ZqNetRequester requester;
        requester.setHostConnection(&connection);
        requester.sendGetRequest(ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList, false);
        requester.sendSetRequest(ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString, "AB");
        requester.sendGetRequest(ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName, false);
        requester.sendSetRequest(ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial, "name");
        QObject::connect(&connection, &ZqNetHostConnection::messageReceived, readPayload);

        int started = 0, whole = 0, ended = 0;
        QObject::connect(&connection, &ZqNetHostConnection::fileStartReceive, [&] { ++started; });
        QObject::connect(&connection, &ZqNetHostConnection::filePercentileComplete,
            [&](uint percent) { whole += percent == 100; });
        QObject::connect(&connection, &ZqNetHostConnection::fileTransferComplete, [&] { ++ended; });

        for (int at = 0; at < stream.size(); at += piece)
            socket.feed(stream.mid(at, piece));
        // Copies into place report from their own thread; a file cut off by the
        // end of the input never does.
        QElapsedTimer waited;
        waited.start();
        do
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        while (ended < qMin(started, whole) && waited.elapsed() < 1000);
        FuzzSupport::require(ended >= qMin(started, whole), "a whole received file never reported its end");
    }
    // A received file lands below the root, never beside it.
    const QStringList beside = scratch.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    FuzzSupport::require(
        beside == QStringList({ "root", "temp" }), "a received file was written outside its folder");
    return 0;
}
