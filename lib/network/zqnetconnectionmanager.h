#pragma once

#include "zqmessagetypes.h"
#include "zqrepeatedwarnings.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <deque>
#include <limits>

class QTcpServer;
class QUdpSocket;
class ZqKeyValueSettings;
class ZqNetHostConnection;
class ZqUDPBroadCaster;

// Owns the host connections of one side of the printer protocol. Client
// role: connects to printers by address and parks ended connections for
// 10000 ms before deleting them. Server role: listens, accepts clients,
// relays their messages and file events, and announces itself by UDP.
class ZqNetConnectionManager : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 ServerTcpPort = 32889;
    static constexpr int FreeQueueDelay_MS = 10000;
    static constexpr int AutoConnectTimeout_MS = 2000;
    // Server role bounds on what clients may cost. Clients at once, in all and
    // from one address; fewer when the descriptor limit is low (clientLimit()).
    static constexpr int MaxClients = 64;
    static constexpr int MaxClientsPerPeer = 8;
    // After the server has stopped accepting (out of descriptors, say) it tries again this much later.
    static constexpr int AcceptRetryDelay_MS = 500;
    // A client's message must be whole this long after its header.
    static constexpr int ClientFrameDeadline_MS = 30000;
    // A client with more bytes than this already waiting to be sent to it
    // when a message is sent to it, or that takes none of them for the
    // watchdog interval, is dropped. What already waits is checked, not the
    // new message, so a client that reads is never dropped for an answer and
    // the broadcast that follows it.
    static constexpr qint64 MaxClientSendBacklog = 17 * 1024 * 1024;
    // Bytes waiting to be sent to all clients together, a broadcast counted
    // once; past it the client furthest behind (holding the oldest message)
    // is dropped, and the next one, until it fits.
    static constexpr qint64 MaxQueuedSendBytes = 64 * 1024 * 1024;
    static constexpr int ClientSendStall_MS = 25000;
    // Unread bytes held for all clients together: frames not yet whole, and
    // whole ones left for the next pass; past it the client holding the most
    // is dropped.
    static constexpr qint64 MaxUnfinishedFrameBytes = 64 * 1024 * 1024;

    // Without a store the manager keeps a memory-only one of its own. The
    // server role listens on listenAddress (tests bind a loopback address).
    ZqNetConnectionManager(ZqKeyValueSettings* settings, bool isServer, QString tempDir,
        QObject* parent = nullptr, const QHostAddress& listenAddress = QHostAddress::Any);
    ZqNetConnectionManager(bool isServer, QObject* parent = nullptr);
    // Deletes the parked connections first, oldest first.
    ~ZqNetConnectionManager() override;

    virtual void onIgnoreListChanged();
    virtual bool datagramIsAccepted(QByteArray datagram);

    // Runs the event loop until a server connection exists; no time-out.
    void WaitForServerConnection();
    bool currentlyConnectedToServer(QHostAddress address);
    bool serverInIgnoreSet(QHostAddress address);
    void AddServer(ZqNetHostConnection* host);
    void AddServerToIgnoreSet(QHostAddress address);
    void RemoveServerFromIgnoreSet(QHostAddress address);
    QList<QHostAddress> IgnoredServers();
    // Parks the connection for deletion at the next expiry of the free-queue timer,
    // or a later one while the ends of files it received are still to be told.
    void RemoveServer(ZqNetHostConnection* host);
    void SaveIgnoreListToSettings();
    void InitializeIgnoreListFromSettings();
    ZqUDPBroadCaster* UdpBroadCaster();
    // The host's own send result; false also when the client was dropped for its backlog.
    bool SendMessageToClient(
        ZqNetHostConnection* host, QByteArray message, ZqMessageTypes::ZqMessageType msgType);
    void AddClient(ZqNetHostConnection* host);
    // Aborts the client's socket and deletes the connection later, once the
    // ends of the files it received have been told (and relayed).
    void RemoveClient(ZqNetHostConnection* host);
    void HandleMessageFromClient(
        ZqNetHostConnection* host, QByteArray message, ZqMessageTypes::ZqMessageType msgType);

    // Client role: connected printers, newest last.
    const QList<ZqNetHostConnection*>& ServerConnections() const { return serverConnections; }
    // Server role: accepted clients, in acceptance order.
    const QList<ZqNetHostConnection*>& ClientConnections() const { return clientConnections; }
    // Server role: whether the last ReInitializeTcpServer() could listen.
    bool isListening() const;
    // Server role: the most clients served at once, below the process's descriptor limit.
    int clientLimit() const;
    // Server role, for clients accepted from now on (tests shorten them).
    void setClientFrameDeadline(int ms) { clientFrameDeadline_MS = ms; }
    void setClientSendStallTimeout(int ms);

signals:
    void newClientConnection(ZqNetHostConnection* host);
    void clientDisconnected(ZqNetHostConnection* host);
    void clientMessageReceived(
        ZqNetHostConnection* host, QByteArray message, ZqMessageTypes::ZqMessageType msgType);
    void clientMessageSent(ZqNetHostConnection* host);
    void clientFileStartReceive(ZqNetHostConnection* host, QString localFilePath, QString remoteFilePath);
    void clientFileReceived(ZqNetHostConnection* host, QString localFilePath, QString remoteFilePath);
    void clientFileStartSend(ZqNetHostConnection* host, QString localFilePath, QString remoteFilePath);
    void clientFileSent(ZqNetHostConnection* host, QString localFilePath, QString remoteFilePath);
    void newServerConnection(ZqNetHostConnection* host);
    void serverDisconnected(ZqNetHostConnection* host);

public slots:
    // Blocks the calling thread for at most timeoutMS.
    bool AttemptConnectionToServer(QHostAddress address, int timeoutMS);
    void disconnectFromHost(ZqNetHostConnection* host);
    void ReInitializeTcpServer();
    // True only when every client's send succeeded.
    bool BroadCastMessageToClients(QByteArray message, ZqMessageTypes::ZqMessageType msgType);

protected slots:
    void ProcessPendingDatagrams();
    void OnServerDisconnected(ZqNetHostConnection* host);
    void OnFreeQueueTimeout();
    void OnNewClientConnection();
    void OnErrorClientConnection(QAbstractSocket::SocketError err);
    void OnClientDisconnected(ZqNetHostConnection* host);
    void OnIncomingMessage(QByteArray message, ZqMessageTypes::ZqMessageType msgType);
    void OnFileStartSend(QString localFilePath, QString remoteFilePath);
    void OnFileSent(QString localFilePath, QString remoteFilePath);
    void OnFileStartReceive(QString localFilePath, QString remoteFilePath);
    void OnFileReceived(QString localFilePath, QString remoteFilePath);

private:
    ZqNetHostConnection* _sendingHost() const;
    // Drops a client whose unsent bytes passed MaxClientSendBacklog; true when dropped.
    bool dropIfBacklogged(ZqNetHostConnection* host);
    void dropClient(ZqNetHostConnection* host, const QString& reason);
    void boundUnfinishedFrames();
    // Numbers the message a send hands out, for telling who is furthest behind:
    // the number it has while some client holds it, else the next one.
    void beginNumbering(const QByteArray& message);
    // A client's host connection reports a message that starts or stops waiting.
    void onSendHold(ZqNetHostConnection* host, const QByteArray& message, bool held);
    // Stops following an ended client's messages.
    void forgetHolds(ZqNetHostConnection* host);
    void boundQueuedSendBytes();
    // Deletes an ended client once the ends of the files it received are told.
    void deleteWhenSettled(ZqNetHostConnection* host);

    bool isServer;
    ZqKeyValueSettings* settings;
    QString tempDirectory;
    QUdpSocket* udpSocket = nullptr;
    QList<ZqNetHostConnection*> serverConnections;
    QSet<QHostAddress> ignoreSet;
    QList<ZqNetHostConnection*> freeQueue;
    QTimer freeQueueTimer;
    bool autoConnectEnabled = false;
    QTcpServer* tcpServer = nullptr;
    QList<ZqNetHostConnection*> clientConnections;
    // Clients inside RemoveClient.
    QSet<ZqNetHostConnection*> removingClients;
    ZqUDPBroadCaster* udpBroadCaster = nullptr;
    QHostAddress listenAddress;
    QTimer acceptRetryTimer;
    int clientFrameDeadline_MS = ClientFrameDeadline_MS;
    int clientSendStall_MS = ClientSendStall_MS;
    // Warnings clients can make the server role repeat (refused, dropped, accept errors).
    ZqRepeatedWarnings peerWarnings;
    // Running totals of what waits for the clients, kept as messages start and stop
    // waiting, so that a send costs the same whatever the clients hold.
    static constexpr quint64 Unnumbered = std::numeric_limits<quint64>::max();
    // A message some client waits for, by where its bytes lie: a broadcast is one for all.
    struct HeldMessage {
        qint64 size = 0;
        int holders = 0;
        quint64 order = Unnumbered;
    };
    QHash<const char*, HeldMessage> heldMessages;
    // The sizes of heldMessages, each counted once.
    qint64 heldBytes = 0;
    // How many messages one client waits for; least holds the rising run of their
    // numbers whose front is the smallest of them.
    struct ClientHolds {
        qint64 count = 0;
        std::deque<quint64> least;
    };
    QHash<ZqNetHostConnection*, ClientHolds> clientHolds;
    quint64 nextQueuedOrder = 0;
    // The message a send is handing out, and its number.
    const char* numbering = nullptr;
    quint64 numberingOrder = Unnumbered;
};
