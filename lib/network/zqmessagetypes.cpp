#include "zqmessagetypes.h"

#include <QIODevice>

namespace ZqMessageTypes {

bool IsValidClientMessage(uint code)
{
    switch (code) {
    case ZqMessage_GetValueRequest:
    case ZqMessage_SetValueRequest:
    case ZqMessage_FileTransferRequest:
    case ZqMessage_FileRetrieveRequest:
        return true;
    default:
        return false;
    }
}

bool IsValidServerMessage(uint code)
{
    switch (code) {
    case ZqMessage_ValueRequestAccepted:
    case ZqMessage_GetValueRequestDenied:
    case ZqMessage_SetValueRequestDenied:
    case ZqMessage_FileRequestAccepted:
    case ZqMessage_FileTransferRequestDenied:
    case ZqMessage_FileRetrieveRequestDenied:
    case ZqMessage_ValueUpdateBroadcast:
        return true;
    default:
        return false;
    }
}

bool IsValidMessage(uint code)
{
    return IsValidClientMessage(code) || IsValidServerMessage(code) || code == ZqMessage_WatchDogPing
        || code == ZqMessage_GenericMessage || code == ZqMessage_FileDataMessage;
}

ZqMessageType getMessageType(QByteArray data)
{
    QDataStream in(data);
    in.setVersion(StreamVersion);
    quint32 code = 0;
    in >> code;
    if (in.status() != QDataStream::Ok)
        return ZqMessage_None;
    return IsValidClientMessage(code) || IsValidServerMessage(code) ? ZqMessageType(code) : ZqMessage_None;
}

ZqNetValueKeys::ZqNetValuesKey getValueKeyFromMessage(QByteArray payload)
{
    QDataStream in(payload);
    in.setVersion(StreamVersion);
    qint32 requestId = 0;
    QString name;
    in >> requestId >> name;
    return ZqNetValueKeys::KeyFromKeyString(name);
}

QByteArray getValueFromValueMessage(QByteArray payload)
{
    QDataStream in(payload);
    in.setVersion(StreamVersion);
    qint32 requestId = 0;
    QString name;
    QByteArray value;
    in >> requestId >> name >> value;
    return in.status() == QDataStream::Ok ? value : QByteArray();
}

bool readStringList(QDataStream& in, QStringList& list)
{
    list.clear();
    quint32 count = 0;
    in >> count;
    const QIODevice* device = in.device();
    // Every element takes at least its 4-byte length.
    if (in.status() == QDataStream::Ok && (!device || quint64(count) * 4 > quint64(device->bytesAvailable())))
        in.setStatus(QDataStream::ReadCorruptData);
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString item;
        in >> item;
        list.append(item);
    }
    if (in.status() != QDataStream::Ok) {
        list.clear();
        return false;
    }
    return true;
}

QStringList decodeStringList(const QByteArray& value, bool* ok)
{
    QDataStream in(value);
    in.setVersion(StreamVersion);
    QStringList list;
    const bool decoded = readStringList(in, list);
    if (ok)
        *ok = decoded;
    return list;
}

void registerMetaTypes()
{
    qRegisterMetaType<ZqMessageType>("ZqMessageTypes::ZqMessageType");
    qRegisterMetaType<ZqNetValueKeys::ZqNetValuesKey>("ZqNetValueKeys::ZqNetValuesKey");
}

} // namespace ZqMessageTypes
