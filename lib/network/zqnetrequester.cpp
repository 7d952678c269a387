#include "zqnetrequester.h"

#include <QDataStream>
#include <QDateTime>
#include <QDebug>

#include <limits>

using namespace ZqMessageTypes;
using namespace ZqNetValueKeys;

ZqNetRequester::ZqNetRequester(QObject* parent)
    : QObject(parent)
{
    registerMetaTypes();
    clockStart.start();
}

void ZqNetRequester::setHostConnection(ZqNetHostConnection* host)
{
    if (host == hostConnection)
        return;
    // Nothing from an earlier connection may reach this requester any more.
    if (hostConnection)
        QObject::disconnect(hostConnection, nullptr, this, nullptr);
    hostConnection = host;
    for (SentRequest& record : sentRequests)
        record.sent = false;
    missRequests.clear();
    evictionLogged = false;
    if (!host)
        return;
    connect(host, &ZqNetHostConnection::messageReceived, this, &ZqNetRequester::onMessageReceived);
    connect(host, &ZqNetHostConnection::messageSent, this, &ZqNetRequester::onMessageSent);
    connect(host, &ZqNetHostConnection::disconnected, this, &ZqNetRequester::onDisconnect);
    reset();
    emit connectionChanged(host);
}

void ZqNetRequester::reset()
{
    requestCounter = 0;
    valueCache = {};
    cachedBytes = 0;
    cacheUse.clear();
    emit stateReset();
}

void ZqNetRequester::Reset() { reset(); }

int ZqNetRequester::generateRequestId()
{
    const int id = requestCounter;
    requestCounter = id == std::numeric_limits<int>::max() ? 0 : id + 1;
    return id;
}

int ZqNetRequester::queueAndSend(RequestTypes type, ZqNetValuesKey key, const QByteArray& value,
    ZqMessageType msgType, const QByteArray& payloadAfterId)
{
    SentRequest record;
    record.valid = true;
    record.sentTime = QDateTime::currentMSecsSinceEpoch();
    record.requestId = generateRequestId();
    record.requestType = type;
    record.key = key;
    record.value = value;

    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out << qint32(record.requestId);
    payload.append(payloadAfterId);
    record.sent = hostConnection && hostConnection->SendMessage(payload, msgType);
    sentRequests.append(record);
    return record.requestId;
}

namespace {

// The data-stream encoding of the fields that follow the request id.
template <typename... Fields> QByteArray encodeFields(const Fields&... fields)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    (out << ... << fields);
    return bytes;
}

} // namespace

int ZqNetRequester::sendGetRequest(ZqNetValuesKey key, bool useCache)
{
    if (useCache) {
        bool found = false;
        GetCurrentCacheValue(key, found, false);
        if (found)
            return -1;
    }
    askedKeys.insert(key);
    return queueAndSend(RequestType_GetRequest, key, QByteArray(), ZqMessage_GetValueRequest,
        encodeFields(KeyStringFromKey(key)));
}

int ZqNetRequester::sendSetRequest(ZqNetValuesKey key, QByteArray value)
{
    return queueAndSend(RequestType_SetRequest, key, value, ZqMessage_SetValueRequest,
        encodeFields(KeyStringFromKey(key), value));
}

int ZqNetRequester::sendFileTransferRequest()
{
    return queueAndSend(RequestType_FileTransferRequest, ZqNetValueKey_InvalidKey, QByteArray(),
        ZqMessage_FileTransferRequest, {});
}

int ZqNetRequester::sendFileRetrieveRequest(QString remoteFilePath, QString localFilePath)
{
    return queueAndSend(RequestType_FileRetrieveRequest, ZqNetValueKey_InvalidKey, QByteArray(),
        ZqMessage_FileRetrieveRequest, encodeFields(remoteFilePath, localFilePath));
}

QByteArray ZqNetRequester::GetCurrentCacheValue(ZqNetValuesKey key, bool& found, bool requestIfMissing)
{
    found = false;
    if (!hostConnection)
        return QByteArray();
    if (requestIfMissing)
        askedKeys.insert(key);
    const auto it = valueCache.constFind(key);
    if (it != valueCache.constEnd()) {
        found = true;
        cacheUse[key] = ++cacheUseCounter;
        return it.value();
    }
    // Every reader asks on a miss; the answer to one request serves them all. A key
    // that stays missing (never answered, denied, answered under another key) is
    // asked for once per interval.
    if (!requestIfMissing)
        return QByteArray();
    const auto asked = missRequests.constFind(key);
    if (asked != missRequests.constEnd()) {
        // One that did not go out holds nothing back.
        if (asked->sent && now() - asked->sentAt < missRetryInterval_MS)
            return QByteArray();
        // Against a printer that never answers, one record per key, not one per retry.
        const int index = indexOfRequest(asked->requestId);
        if (index >= 0) {
            const SentRequest& earlier = sentRequests.at(index);
            if (earlier.requestType == RequestType_GetRequest && earlier.key == key)
                sentRequests.removeAt(index);
        }
    }
    MissRequest& request = missRequests[key];
    request.requestId = sendGetRequest(key, false);
    request.sent = sentRequestFromId(request.requestId).sent;
    request.sentAt = now();
    return QByteArray();
}

bool ZqNetRequester::keyInCache(ZqNetValuesKey key)
{
    bool found = false;
    GetCurrentCacheValue(key, found, false);
    return found;
}

void ZqNetRequester::UpdateCache(ZqNetValuesKey key, QByteArray value)
{
    const auto it = valueCache.constFind(key);
    const bool changed = it == valueCache.constEnd() || it.value() != value;
    cachedBytes += value.size() - (it == valueCache.constEnd() ? 0 : it.value().size());
    valueCache.insert(key, value);
    cacheUse[key] = ++cacheUseCounter;
    boundCache(key);
    if (changed)
        emit cacheValueChanged(key, value);
}

void ZqNetRequester::boundCache(ZqNetValuesKey stored)
{
    // A printer can send a value for each of its keys; only a few are ever read.
    while (cachedBytes > MaxCachedBytes && !valueCache.isEmpty()) {
        auto victim = valueCache.end();
        bool victimAsked = true;
        quint64 victimUse = 0;
        for (auto it = valueCache.begin(); it != valueCache.end(); ++it) {
            const bool asked = askedKeys.contains(it.key());
            const quint64 use = cacheUse.value(it.key());
            if (victim == valueCache.end() || (victimAsked && !asked)
                || (asked == victimAsked && use < victimUse)) {
                victim = it;
                victimAsked = asked;
                victimUse = use;
            }
        }
        if (!evictionLogged) {
            evictionLogged = true;
            qWarning().noquote() << debugHeaderString(0)
                    + QStringLiteral(
                        "UpdateCache: the cached values passed %1 bytes after %2; dropped %3 (%4 "
                        "bytes), values of keys nobody asked for first. A reader's miss fetches "
                        "a dropped value again; later drops on this connection are not logged")
                          .arg(MaxCachedBytes)
                          .arg(KeyStringFromKey(stored), KeyStringFromKey(victim.key()))
                          .arg(victim.value().size());
        }
        cachedBytes -= victim.value().size();
        cacheUse.remove(victim.key());
        valueCache.erase(victim);
    }
}

int ZqNetRequester::indexOfRequest(int id) const
{
    for (int i = 0; i < sentRequests.size(); ++i) {
        if (sentRequests.at(i).requestId == id)
            return i;
    }
    return -1;
}

ZqNetRequester::SentRequest ZqNetRequester::sentRequestFromId(int id) const
{
    const int i = indexOfRequest(id);
    return i < 0 ? SentRequest() : sentRequests.at(i);
}

bool ZqNetRequester::deQueueRequestById(int id)
{
    const int i = indexOfRequest(id);
    if (i < 0)
        return false;
    sentRequests.removeAt(i);
    return true;
}

QString ZqNetRequester::debugHeaderString(int indent) const
{
    return QString(qMax(indent, 0) * 5, QLatin1Char('-')) + QStringLiteral("ZqNetRequester(")
        + (hostConnection ? hostConnection->hostAddressString() : QStringLiteral("NO_CONN"))
        + QStringLiteral(")::");
}

void ZqNetRequester::finishRequest(int id, RequestTypes type, RequestReturnCode code)
{
    const QPointer<ZqNetRequester> self(this);
    emit requestFinished(id, type, code);
    if (!self)
        return;
    if (code == RequestCode_Accepted)
        emit requestAccepted(id, type);
    else
        emit requestDenied(id, type);
}

void ZqNetRequester::onMessageReceived(QByteArray message, ZqMessageType msgType)
{
    // Late messages after a detach, or from a connection this requester has left.
    if (!hostConnection || (sender() && sender() != hostConnection))
        return;
    if (!IsValidServerMessage(msgType))
        return;

    QDataStream in(message);
    in.setVersion(StreamVersion);
    qint32 id = -1;
    QString keyName;
    QByteArray value;
    const bool hasId = msgType != ZqMessage_ValueUpdateBroadcast;
    const bool hasKey = msgType == ZqMessage_ValueRequestAccepted
        || msgType == ZqMessage_GetValueRequestDenied || msgType == ZqMessage_SetValueRequestDenied
        || msgType == ZqMessage_ValueUpdateBroadcast;
    const bool hasValue
        = msgType == ZqMessage_ValueRequestAccepted || msgType == ZqMessage_ValueUpdateBroadcast;
    if (hasId)
        in >> id;
    if (hasKey)
        in >> keyName;
    if (hasValue)
        in >> value;
    if (in.status() != QDataStream::Ok) {
        // A cut-off reply would otherwise match request 0 or name the invalid key.
        peerWarnings.warn("incomplete",
            debugHeaderString(0) + "onMessageReceived: dropped an incomplete message of type 0x"
                + QString::number(msgType, 16));
        return;
    }
    const ZqNetValuesKey key = KeyFromKeyString(keyName);
    const QPointer<ZqNetRequester> self(this);

    if (msgType == ZqMessage_ValueUpdateBroadcast) {
        inBroadcast = true;
        UpdateCache(key, value);
        if (!self)
            return;
        inBroadcast = false;
        emit valueUpdateBroadcast(key, value);
        return;
    }
    if (msgType == ZqMessage_ValueRequestAccepted) {
        UpdateCache(key, value);
        if (!self)
            return;
    }
    const int index = indexOfRequest(id);
    if (index < 0)
        return;
    const RequestTypes recordType = sentRequests.at(index).requestType;

    switch (msgType) {
    case ZqMessage_ValueRequestAccepted:
        if (recordType == RequestType_SetRequest) {
            finishRequest(id, RequestType_SetRequest, RequestCode_Accepted);
            if (self)
                emit setRequestAccepted(id, key, value);
        } else if (recordType == RequestType_GetRequest) {
            finishRequest(id, RequestType_GetRequest, RequestCode_Accepted);
            if (self)
                emit getRequestAccepted(id, key, value);
        }
        break;
    case ZqMessage_GetValueRequestDenied:
        finishRequest(id, RequestType_GetRequest, RequestCode_Denied);
        if (self)
            emit getRequestDenied(id, key);
        break;
    case ZqMessage_SetValueRequestDenied:
        finishRequest(id, RequestType_SetRequest, RequestCode_Denied);
        if (self)
            emit setRequestDenied(id, key);
        break;
    case ZqMessage_FileRequestAccepted:
        if (recordType == RequestType_FileRetrieveRequest || recordType == RequestType_FileTransferRequest)
            finishRequest(id, recordType, RequestCode_Accepted);
        break;
    case ZqMessage_FileTransferRequestDenied:
        finishRequest(id, RequestType_FileTransferRequest, RequestCode_Denied);
        break;
    case ZqMessage_FileRetrieveRequestDenied:
        finishRequest(id, RequestType_FileRetrieveRequest, RequestCode_Denied);
        break;
    default:
        break;
    }
    if (self)
        deQueueRequestById(id);
}

void ZqNetRequester::onMessageSent() { }

void ZqNetRequester::onDisconnect()
{
    if (sender() && sender() != hostConnection)
        return;
    hostConnection = nullptr;
    peerWarnings.flush();
    emit disconnect();
}
