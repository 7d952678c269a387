#pragma once

#include "zqmessagetypes.h"
#include "zqnethostconnection.h"
#include "zqrepeatedwarnings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

// The client side of the printer's request/reply protocol over one host connection:
// numbers requests, matches each reply to the oldest queued request with its id, turns
// replies and broadcasts into signals and caches the latest value per key.
// There is no time-out and no resend.
class ZqNetRequester : public QObject {
    Q_OBJECT

public:
    // Readers of a missing value ask for it at most this often; an answer that never
    // comes holds the next ask back no longer.
    static constexpr int MissRetryInterval_MS = 3000;
    // For tests: a shorter interval than MissRetryInterval_MS.
    void setMissRetryInterval(int ms) { missRetryInterval_MS = ms; }
    // Bytes of cached values held at most on a connection; a printer may send up to
    // MaxMessagePayloadSize for each of its keys. Values of keys nobody asked for go
    // first, then the least recently stored or read.
    static constexpr qint64 MaxCachedBytes = 64 * 1024 * 1024;

    enum RequestTypes {
        RequestType_Unknown = 0,
        RequestType_GetRequest = 1,
        RequestType_SetRequest = 2,
        RequestType_FileTransferRequest = 3,
        RequestType_FileRetrieveRequest = 4,
    };
    Q_ENUM(RequestTypes)

    enum RequestReturnCode {
        RequestCode_Denied = 0,
        RequestCode_Accepted = 1,
        RequestCode_UnknownCode = -300,
    };
    Q_ENUM(RequestReturnCode)

    struct SentRequest {
        bool valid = false;
        qint64 sentTime = -1;
        int requestId = -1;
        RequestTypes requestType = RequestType_Unknown;
        ZqNetValueKeys::ZqNetValuesKey key = ZqNetValueKeys::ZqNetValueKey_InvalidKey;
        QByteArray value;
        // Went out on the connection attached now (not queued while detached, nor
        // sent on an earlier one).
        bool sent = false;
    };

    explicit ZqNetRequester(QObject* parent = nullptr);

    // Attaches to a connection (not owned): resets and emits connectionChanged for a new
    // non-null one. Requests queued earlier are not resent.
    void setHostConnection(ZqNetHostConnection* host);
    // Counter to 0 and cache emptied; queued requests stay.
    void reset();
    void Reset();

    // Each returns the request's id; the request is queued even without a connection.
    // -1 when useCache is set and the key is cached (nothing is sent then).
    int sendGetRequest(ZqNetValueKeys::ZqNetValuesKey key, bool useCache);
    int sendSetRequest(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value);
    Q_INVOKABLE int sendFileTransferRequest();
    Q_INVOKABLE int sendFileRetrieveRequest(QString remoteFilePath, QString localFilePath);

    // Without a connection: not found, nothing requested. Otherwise the cached bytes, or
    // (when requestIfMissing) a get request is sent for a missing key, unless a miss of
    // that key sent one less than MissRetryInterval_MS ago, however it was answered.
    // A new get of a miss replaces the record of the key's earlier unanswered one;
    // a late answer to that one still fills the cache. A key read with requestIfMissing,
    // or asked for with a get, is kept before those nobody asked for.
    QByteArray GetCurrentCacheValue(ZqNetValueKeys::ZqNetValuesKey key, bool& found, bool requestIfMissing);
    bool keyInCache(ZqNetValueKeys::ZqNetValuesKey key);
    // Emits cacheValueChanged when the key is new or its bytes differ. Past
    // MaxCachedBytes, other values (or this one) are dropped; a reader's miss fetches
    // them again.
    void UpdateCache(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value);

    // The oldest queued record with that id, or an invalid record.
    SentRequest sentRequestFromId(int id) const;
    bool deQueueRequestById(int id);
    // 0, 1, ..., 2147483647, 0, ...
    int generateRequestId();
    QString debugHeaderString(int indent) const;
    // True while a value broadcast updates the cache: the cacheValueChanged emitted then
    // is followed by valueUpdateBroadcast for the same value.
    bool handlingBroadcast() const { return inBroadcast; }

    // The connection requests go out on; null while detached. Not owned; read by the owner.
    QPointer<ZqNetHostConnection> hostConnection;

signals:
    void connectionChanged(ZqNetHostConnection* newConnection);
    void stateReset();
    void requestFinished(
        int reqId, ZqNetRequester::RequestTypes reqType, ZqNetRequester::RequestReturnCode returnCode);
    void requestAccepted(int reqId, ZqNetRequester::RequestTypes reqType);
    void requestDenied(int reqId, ZqNetRequester::RequestTypes reqType);
    // The connection ended. Hides QObject::disconnect: call that one qualified.
    void disconnect();
    void setRequestAccepted(int reqId, ZqNetValueKeys::ZqNetValuesKey key, QByteArray setValue);
    void setRequestDenied(int reqId, ZqNetValueKeys::ZqNetValuesKey key);
    void getRequestAccepted(int reqId, ZqNetValueKeys::ZqNetValuesKey key, QByteArray retrievedValue);
    void getRequestDenied(int reqId, ZqNetValueKeys::ZqNetValuesKey key);
    void valueUpdateBroadcast(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value);
    void cacheValueChanged(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value);

protected slots:
    // Replies from anything but the attached connection are ignored.
    void onMessageReceived(QByteArray message, ZqMessageTypes::ZqMessageType msgType);
    void onMessageSent();
    void onDisconnect();

private:
    int queueAndSend(RequestTypes type, ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value,
        ZqMessageTypes::ZqMessageType msgType, const QByteArray& payloadAfterId);
    void finishRequest(int id, RequestTypes type, RequestReturnCode code);
    int indexOfRequest(int id) const;
    qint64 now() const { return missClock ? missClock() : clockStart.elapsed(); }
    void boundCache(ZqNetValueKeys::ZqNetValuesKey stored);

    QMap<ZqNetValueKeys::ZqNetValuesKey, QByteArray> valueCache;
    // The running total of the cached values' bytes, and when each was last stored or read.
    qint64 cachedBytes = 0;
    QHash<ZqNetValueKeys::ZqNetValuesKey, quint64> cacheUse;
    quint64 cacheUseCounter = 0;
    QSet<ZqNetValueKeys::ZqNetValuesKey> askedKeys;
    bool evictionLogged = false;
    // Cut-off messages are the printer's to repeat: logged once, then counted.
    ZqRepeatedWarnings peerWarnings;
    // The get a miss of the key last sent on this connection, and when (now()).
    struct MissRequest {
        int requestId = -1;
        bool sent = false;
        qint64 sentAt = 0;
    };
    QMap<ZqNetValueKeys::ZqNetValuesKey, MissRequest> missRequests;
    QList<SentRequest> sentRequests;
    bool inBroadcast = false;
    int missRetryInterval_MS = MissRetryInterval_MS;

protected:
    int requestCounter = 0;
    // Milliseconds on a monotonic clock for pacing the gets of misses; unset, the
    // requester's own. Tests set it to step time.
    std::function<qint64()> missClock;

private:
    QElapsedTimer clockStart;
};
