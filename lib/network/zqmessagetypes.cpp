#include "zqmessagetypes.h"

#include <QIODevice>
#include <QtEndian>

#include <limits>

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

namespace {

    // One data-stream QString, its bytes beyond maxLength units skipped.
    bool readString(QDataStream& in, QString& text, int maxLength, bool* cut)
    {
        quint32 bytes = 0;
        in >> bytes;
        if (in.status() != QDataStream::Ok)
            return false;
        if (bytes == 0xFFFFFFFF) {
            text = QString();
            return true;
        }
        if ((bytes & 1) || bytes > quint32(std::numeric_limits<int>::max())) {
            in.setStatus(QDataStream::ReadCorruptData);
            return false;
        }
        const QIODevice* device = in.device();
        if (!device || qint64(bytes) > device->bytesAvailable()) {
            in.setStatus(QDataStream::ReadPastEnd);
            return false;
        }
        const int kept = int(qMin<quint64>(bytes, quint64(maxLength) * 2));
        QByteArray raw(kept, Qt::Uninitialized);
        if (in.readRawData(raw.data(), kept) != kept) {
            in.setStatus(QDataStream::ReadPastEnd);
            return false;
        }
        const int skipped = int(bytes) - kept;
        if (skipped > 0 && in.skipRawData(skipped) != skipped) {
            in.setStatus(QDataStream::ReadPastEnd);
            return false;
        }
        text = QString(kept / 2, Qt::Uninitialized);
        qFromBigEndian<ushort>(raw.constData(), kept / 2, text.data());
        if (skipped > 0) {
            *cut = true;
            if (!text.isEmpty() && QChar::isHighSurrogate(text.at(text.size() - 1).unicode()))
                text.chop(1);
        }
        return true;
    }

} // namespace

bool readStringList(QDataStream& in, QStringList& list, int maxCount, int maxLength, bool* cut)
{
    bool shortened = false;
    list.clear();
    quint32 count = 0;
    in >> count;
    const QIODevice* device = in.device();
    // Every element takes at least its 4-byte length.
    if (in.status() == QDataStream::Ok && (!device || quint64(count) * 4 > quint64(device->bytesAvailable())))
        in.setStatus(QDataStream::ReadCorruptData);
    const quint32 wanted = qMin<quint32>(count, quint32(qMax(maxCount, 0)));
    for (quint32 i = 0; i < wanted && in.status() == QDataStream::Ok; ++i) {
        QString item;
        if (readString(in, item, qMax(maxLength, 0), &shortened))
            list.append(item);
    }
    if (in.status() != QDataStream::Ok) {
        list.clear();
        shortened = false;
    } else if (wanted < count) {
        shortened = true;
    }
    if (cut)
        *cut = shortened;
    return in.status() == QDataStream::Ok;
}

bool readStringList(QDataStream& in, QStringList& list)
{
    return readStringList(
        in, list, std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), nullptr);
}

QStringList decodeStringList(const QByteArray& value, int maxCount, int maxLength, bool* cut, bool* ok)
{
    QDataStream in(value);
    in.setVersion(StreamVersion);
    QStringList list;
    const bool decoded = readStringList(in, list, maxCount, maxLength, cut);
    if (ok)
        *ok = decoded;
    return list;
}

QStringList decodeStringList(const QByteArray& value, bool* ok)
{
    return decodeStringList(
        value, std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), nullptr, ok);
}

void registerMetaTypes()
{
    qRegisterMetaType<ZqMessageType>("ZqMessageTypes::ZqMessageType");
    qRegisterMetaType<ZqNetValueKeys::ZqNetValuesKey>("ZqNetValueKeys::ZqNetValuesKey");
}

} // namespace ZqMessageTypes
