// The frame decoder of a host connection and the payload readers, on the bytes
// that a printer sends, with a requester waiting for replies to four requests.
// Input: one byte that sets the size of the pieces the bytes arrive in, then
// the stream.
#include "fuzzsupport.h"

#include "zqnethostconnection.h"
#include "zqnetrequester.h"

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

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int piece = data[0] == 0 ? int(size) : data[0];
    const QByteArray stream(reinterpret_cast<const char*>(data) + 1, int(size) - 1);

    FeedSocket socket;
    ZqNetHostConnection connection(&socket, FuzzSupport::scratch(), nullptr);
    ZqNetRequester requester;
    requester.setHostConnection(&connection);
    requester.sendGetRequest(ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList, false);
    requester.sendSetRequest(ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString, "AB");
    requester.sendGetRequest(ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName, false);
    requester.sendSetRequest(ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial, "name");
    QObject::connect(&connection, &ZqNetHostConnection::messageReceived, readPayload);

    for (int at = 0; at < stream.size(); at += piece)
        socket.feed(stream.mid(at, piece));
    QCoreApplication::sendPostedEvents();
    return 0;
}
