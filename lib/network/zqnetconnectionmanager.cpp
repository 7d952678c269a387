#include "zqnetconnectionmanager.h"

#include "zqkeyvaluesettings.h"
#include "zqnethostconnection.h"
#include "zqudpbroadcaster.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDebug>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <QPointer>

#include <algorithm>
#include <limits>

#include <sys/resource.h>

namespace {

const QString kIgnoreListKey = QStringLiteral("ConnectionManagerIgnoreList");

} // namespace

ZqNetConnectionManager::ZqNetConnectionManager(ZqKeyValueSettings* settings, bool isServer, QString tempDir,
    QObject* parent, const QHostAddress& listenAddress)
    : QObject(parent)
    , isServer(isServer)
    , settings(settings ? settings : new ZqKeyValueSettings(true, this))
    , tempDirectory(tempDir)
    , listenAddress(listenAddress)
{
    qRegisterMetaType<ZqNetHostConnection*>("ZqNetHostConnection*");
    if (isServer) {
        // Qt stops accepting after an accept error and never starts again by itself.
        acceptRetryTimer.setSingleShot(true);
        acceptRetryTimer.setInterval(AcceptRetryDelay_MS);
        connect(&acceptRetryTimer, &QTimer::timeout, this, [this] {
            if (tcpServer)
                tcpServer->resumeAccepting();
        });
        ReInitializeTcpServer();
        return;
    }
    autoConnectEnabled = false;
    freeQueueTimer.setInterval(FreeQueueDelay_MS);
    freeQueueTimer.setSingleShot(true);
    // A coarse timer may fire up to 5% (500 ms) early.
    freeQueueTimer.setTimerType(Qt::PreciseTimer);
    connect(&freeQueueTimer, &QTimer::timeout, this, &ZqNetConnectionManager::OnFreeQueueTimeout);
    InitializeIgnoreListFromSettings();
}

ZqNetConnectionManager::ZqNetConnectionManager(bool isServer, QObject* parent)
    : ZqNetConnectionManager(nullptr, isServer, QString(), parent)
{
}

ZqNetConnectionManager::~ZqNetConnectionManager()
{
    // The clients go with the manager's children, after its own members.
    for (ZqNetHostConnection* host : qAsConst(clientConnections))
        host->setSendHoldObserver({});
    while (!freeQueue.isEmpty())
        delete freeQueue.takeFirst();
}

void ZqNetConnectionManager::onIgnoreListChanged() { SaveIgnoreListToSettings(); }

bool ZqNetConnectionManager::datagramIsAccepted(QByteArray) { return true; }

void ZqNetConnectionManager::WaitForServerConnection()
{
    // Sleeps in the event loop until a connection is listed, instead of spinning.
    QEventLoop loop;
    const QMetaObject::Connection wake
        = connect(this, &ZqNetConnectionManager::newServerConnection, &loop, &QEventLoop::quit);
    while (serverConnections.isEmpty())
        loop.exec();
    disconnect(wake);
}

bool ZqNetConnectionManager::currentlyConnectedToServer(QHostAddress address)
{
    for (ZqNetHostConnection* host : qAsConst(serverConnections)) {
        if (host->HostAddress() == address)
            return true;
    }
    return false;
}

bool ZqNetConnectionManager::serverInIgnoreSet(QHostAddress address) { return ignoreSet.contains(address); }

void ZqNetConnectionManager::AddServer(ZqNetHostConnection* host)
{
    connect(host, &ZqNetHostConnection::disconnected, this, &ZqNetConnectionManager::OnServerDisconnected);
    serverConnections.append(host);
    emit newServerConnection(host);
}

void ZqNetConnectionManager::AddServerToIgnoreSet(QHostAddress address)
{
    ignoreSet.insert(address);
    onIgnoreListChanged();
}

void ZqNetConnectionManager::RemoveServerFromIgnoreSet(QHostAddress address)
{
    ignoreSet.remove(address);
    onIgnoreListChanged();
}

QList<QHostAddress> ZqNetConnectionManager::IgnoredServers() { return ignoreSet.values(); }

void ZqNetConnectionManager::RemoveServer(ZqNetHostConnection* host)
{
    if (!host)
        return;
    serverConnections.removeOne(host);
    // Parked twice, it would be deleted twice.
    if (!freeQueue.contains(host))
        freeQueue.append(host);
    if (!freeQueueTimer.isActive())
        freeQueueTimer.start();
}

void ZqNetConnectionManager::SaveIgnoreListToSettings()
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_4);
    const QList<QHostAddress> addresses = IgnoredServers();
    stream << quint32(addresses.size());
    for (const QHostAddress& address : addresses)
        stream << address;
    settings->SetValue(kIgnoreListKey, bytes);
}

void ZqNetConnectionManager::InitializeIgnoreListFromSettings()
{
    const QByteArray bytes = settings->GetValue(kIgnoreListKey, QByteArray());
    QDataStream stream(bytes);
    stream.setVersion(QDataStream::Qt_5_4);
    quint32 count = 0;
    stream >> count;
    // Element by element: the stored count is never trusted for an allocation.
    QSet<QHostAddress> loaded;
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        QHostAddress address;
        stream >> address;
        if (stream.status() == QDataStream::Ok)
            loaded.insert(address);
    }
    ignoreSet = loaded;
}

ZqUDPBroadCaster* ZqNetConnectionManager::UdpBroadCaster() { return udpBroadCaster; }

bool ZqNetConnectionManager::SendMessageToClient(
    ZqNetHostConnection* host, QByteArray message, ZqMessageTypes::ZqMessageType msgType)
{
    if (!host || dropIfBacklogged(host))
        return false;
    beginNumbering(message);
    const bool sent = host->SendMessage(message, msgType);
    numbering = nullptr;
    if (!sent)
        return false;
    const QPointer<ZqNetHostConnection> alive(host);
    boundQueuedSendBytes();
    return alive && clientConnections.contains(host);
}

void ZqNetConnectionManager::beginNumbering(const QByteArray& message)
{
    // Bytes where an earlier message lay, which no client waits for any more,
    // are a new message: the same bytes sent again, or new ones in freed memory.
    // A message keeps the number it got when it started waiting.
    const auto it = heldMessages.constFind(message.constData());
    numbering = message.constData();
    numberingOrder = it != heldMessages.cend() ? it->order : nextQueuedOrder++;
}

void ZqNetConnectionManager::onSendHold(ZqNetHostConnection* host, const QByteArray& message, bool held)
{
    ClientHolds& holds = clientHolds[host];
    if (!held) {
        const auto it = heldMessages.find(message.constData());
        Q_ASSERT(it != heldMessages.end() && holds.count > 0);
        if (it == heldMessages.end())
            return;
        // A client's messages stop waiting in the order they started.
        if (!holds.least.empty() && holds.least.front() == it->order)
            holds.least.pop_front();
        --holds.count;
        if (--it->holders == 0) {
            heldBytes -= it->size;
            heldMessages.erase(it);
        }
        return;
    }
    HeldMessage& shared = heldMessages[message.constData()];
    if (shared.holders++ == 0) {
        shared.size = message.size();
        shared.order = message.constData() == numbering ? numberingOrder : Unnumbered;
        heldBytes += shared.size;
    }
    ++holds.count;
    while (!holds.least.empty() && holds.least.back() > shared.order)
        holds.least.pop_back();
    holds.least.push_back(shared.order);
}

void ZqNetConnectionManager::forgetHolds(ZqNetHostConnection* host)
{
    // Its connection has ended by now, and an ended connection drops all it held.
    host->setSendHoldObserver({});
    Q_ASSERT(clientHolds.value(host).count == 0);
    clientHolds.remove(host);
}

void ZqNetConnectionManager::boundQueuedSendBytes()
{
    // A broadcast shares its bytes with every client it waits for: counted once.
    // A message being written is held whole until its last piece is in the socket.
    for (;;) {
        qint64 total = heldBytes;
        for (ZqNetHostConnection* host : qAsConst(clientConnections))
            total += host->Socket()->bytesToWrite();
        if (total <= MaxQueuedSendBytes)
            return;
        ZqNetHostConnection* behind = nullptr;
        quint64 oldest = std::numeric_limits<quint64>::max();
        qint64 behindBytes = 0;
        for (ZqNetHostConnection* host : qAsConst(clientConnections)) {
            const auto holds = clientHolds.constFind(host);
            const quint64 first
                = holds == clientHolds.cend() || holds->least.empty() ? Unnumbered : holds->least.front();
            const qint64 waiting = host->pendingSendBytes();
            if (waiting > 0 && (first < oldest || (first == oldest && waiting > behindBytes))) {
                oldest = first;
                behind = host;
                behindBytes = waiting;
            }
        }
        if (!behind)
            return;
        dropClient(behind,
            QStringLiteral("furthest behind, with %1 bytes waiting, %2 for all clients")
                .arg(behindBytes)
                .arg(total));
    }
}

int ZqNetConnectionManager::clientLimit() const
{
    // A client may hold its socket and, while files come in, a temporary
    // file, its one copier's thread (an event descriptor) and the copy's
    // source, folder and destination; some are kept for the rest.
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return MaxClients;
    return int(qBound<rlim_t>(1, (qMax<rlim_t>(limit.rlim_cur, 16) - 16) / 8, MaxClients));
}

void ZqNetConnectionManager::setClientSendStallTimeout(int ms)
{
    clientSendStall_MS = ms;
    for (ZqNetHostConnection* host : std::as_const(clientConnections))
        host->setWriteStallTimeout(ms);
}

bool ZqNetConnectionManager::dropIfBacklogged(ZqNetHostConnection* host)
{
    const qint64 waiting = host->pendingSendBytes();
    if (waiting <= MaxClientSendBacklog)
        return false;
    dropClient(host, QStringLiteral("%1 bytes wait to be sent to it").arg(waiting));
    return true;
}

void ZqNetConnectionManager::dropClient(ZqNetHostConnection* host, const QString& reason)
{
    peerWarnings.warn("dropped client",
        "ZqNetConnectionManager: dropping client " + host->hostAddressString() + ": " + reason);
    // Not disconnectFromHost(): that waits for the peer to take the bytes.
    host->Socket()->abort();
    if (clientConnections.contains(host))
        OnClientDisconnected(host);
}

void ZqNetConnectionManager::AddClient(ZqNetHostConnection* host)
{
    connect(host, &ZqNetHostConnection::disconnected, this, &ZqNetConnectionManager::OnClientDisconnected);
    connect(host, &ZqNetHostConnection::messageReceived, this, &ZqNetConnectionManager::OnIncomingMessage);
    connect(host, &ZqNetHostConnection::fileStartSend, this, &ZqNetConnectionManager::OnFileStartSend);
    connect(host, &ZqNetHostConnection::fileSent, this, &ZqNetConnectionManager::OnFileSent);
    connect(host, &ZqNetHostConnection::fileReceived, this, &ZqNetConnectionManager::OnFileReceived);
    connect(host, &ZqNetHostConnection::fileStartReceive, this, &ZqNetConnectionManager::OnFileStartReceive);
    // After the connection's own handler: what is left in the socket is
    // frames not yet whole, and whole ones past a pass's share.
    connect(host->Socket(), &QTcpSocket::readyRead, this, &ZqNetConnectionManager::boundUnfinishedFrames);
    host->setSendHoldObserver(
        [this, host](const QByteArray& message, bool held) { onSendHold(host, message, held); });
    clientConnections.append(host);
    emit newClientConnection(host);
}

void ZqNetConnectionManager::boundUnfinishedFrames()
{
    for (;;) {
        qint64 total = 0, most = 0;
        ZqNetHostConnection* holder = nullptr;
        for (ZqNetHostConnection* host : qAsConst(clientConnections)) {
            const qint64 held = host->Socket()->bytesAvailable();
            total += held;
            if (held > most) {
                most = held;
                holder = host;
            }
        }
        if (total <= MaxUnfinishedFrameBytes || !holder)
            return;
        dropClient(holder, QStringLiteral("it holds %1 of %2 bytes of unread frames").arg(most).arg(total));
    }
}

void ZqNetConnectionManager::RemoveClient(ZqNetHostConnection* host)
{
    // The abort below ends a live client, whose end comes back here through
    // OnClientDisconnected: that one removal is this one.
    if (!host || removingClients.contains(host))
        return;
    removingClients.insert(host);
    clientConnections.removeOne(host);
    // The socket goes with its connection; abort frees its descriptor now.
    host->Socket()->abort();
    forgetHolds(host);
    removingClients.remove(host);
    deleteWhenSettled(host);
    qInfo() << "ZqNetConnectionManager:: Removed Client From Connection List.";
}

void ZqNetConnectionManager::HandleMessageFromClient(
    ZqNetHostConnection* host, QByteArray message, ZqMessageTypes::ZqMessageType msgType)
{
    emit clientMessageReceived(host, message, msgType);
}

bool ZqNetConnectionManager::isListening() const { return tcpServer && tcpServer->isListening(); }

bool ZqNetConnectionManager::AttemptConnectionToServer(QHostAddress address, int timeoutMS)
{
    if (currentlyConnectedToServer(address))
        return false;
    auto* host = new ZqNetHostConnection(tempDirectory, this);
    host->Socket()->disconnectFromHost();
    host->Socket()->connectToHost(address, ServerTcpPort, QIODevice::ReadWrite);
    if (!host->WaitForConnected(timeoutMS)) {
        qWarning() << "AttemptConnectionToServer has Failed";
        delete host;
        return false;
    }
    AddServer(host);
    return true;
}

void ZqNetConnectionManager::disconnectFromHost(ZqNetHostConnection* host)
{
    if (host)
        host->forceDisconnect();
}

void ZqNetConnectionManager::ReInitializeTcpServer()
{
    qDebug() << "ZqNetConnectionManager::ReInitializeTcpServer";
    delete tcpServer;
    tcpServer = new QTcpServer(this);
    if (!tcpServer->listen(listenAddress, ServerTcpPort)) {
        qWarning().noquote() << "ZqNetConnectionManager: cannot listen on" << listenAddress.toString()
                             << "port" << ServerTcpPort << ":" << tcpServer->errorString();
    }
    delete udpBroadCaster;
    udpBroadCaster = new ZqUDPBroadCaster(settings, QStringLiteral("ZqPrinter"), this);
    connect(tcpServer, &QTcpServer::newConnection, this, &ZqNetConnectionManager::OnNewClientConnection);
    connect(tcpServer, &QTcpServer::acceptError, this, &ZqNetConnectionManager::OnErrorClientConnection);
}

bool ZqNetConnectionManager::BroadCastMessageToClients(
    QByteArray message, ZqMessageTypes::ZqMessageType msgType)
{
    bool allSent = true;
    beginNumbering(message);
    const quint64 order = numberingOrder;
    const QList<ZqNetHostConnection*> clients = clientConnections;
    for (ZqNetHostConnection* host : clients) {
        if (!clientConnections.contains(host))
            continue;
        if (dropIfBacklogged(host)) {
            allSent = false;
            continue;
        }
        // A slot of the drop may have sent a message of its own, numbering that one.
        numbering = message.constData();
        numberingOrder = order;
        if (!host->SendMessage(message, msgType))
            allSent = false;
    }
    numbering = nullptr;
    // Bounded once the message waits for everyone: it is held once for all.
    boundQueuedSendBytes();
    for (ZqNetHostConnection* host : clients)
        allSent = allSent && clientConnections.contains(host);
    return allSent;
}

void ZqNetConnectionManager::ProcessPendingDatagrams()
{
    if (!udpSocket)
        return;
    while (udpSocket->hasPendingDatagrams()) {
        QByteArray datagram(int(qMax<qint64>(udpSocket->pendingDatagramSize(), 0)), '\0');
        QHostAddress sender;
        udpSocket->readDatagram(datagram.data(), datagram.size(), &sender);
        if (!datagramIsAccepted(datagram) || currentlyConnectedToServer(sender) || !autoConnectEnabled
            || ignoreSet.contains(sender))
            continue;
        if (AttemptConnectionToServer(sender, AutoConnectTimeout_MS)) {
            qInfo().noquote() << "ZqNetConnectionManager::Secured Auto Connection To ZqServer! "
                    + sender.toString();
        } else {
            qWarning().noquote() << "ZqNetConnectionManager::Failed Auto Connection To ZqServer "
                    + sender.toString() + " Ignoring Future Attempts.";
            ignoreSet.insert(sender);
        }
    }
}

void ZqNetConnectionManager::OnServerDisconnected(ZqNetHostConnection* host)
{
    qInfo().noquote().nospace() << "ZqNetConnectionManager::OnServerDisconnected: " << host << " ("
                                << host->hostAddressString() << ")";
    emit serverDisconnected(host);
    RemoveServer(host);
}

void ZqNetConnectionManager::OnFreeQueueTimeout()
{
    // One whose received files are not all told yet stays parked for another round.
    QList<ZqNetHostConnection*> unsettled;
    while (!freeQueue.isEmpty()) {
        ZqNetHostConnection* host = freeQueue.takeFirst();
        if (host->unsettledReceivedFiles() > 0)
            unsettled.append(host);
        else
            delete host;
    }
    freeQueue = unsettled;
    if (!freeQueue.isEmpty())
        freeQueueTimer.start();
}

void ZqNetConnectionManager::deleteWhenSettled(ZqNetHostConnection* host)
{
    // Files it received are still told through it, and relayed, after its end.
    if (host->unsettledReceivedFiles() == 0) {
        host->deleteLater();
        return;
    }
    connect(host, &ZqNetHostConnection::fileTransferComplete, host, [host] {
        if (host->unsettledReceivedFiles() == 0)
            host->deleteLater();
    });
}

void ZqNetConnectionManager::OnNewClientConnection()
{
    qInfo() << "Client Initially Connected!";
    QTcpSocket* socket = tcpServer->nextPendingConnection();
    if (!socket)
        return;
    const QHostAddress peer = socket->peerAddress();
    const int fromPeer = int(std::count_if(clientConnections.cbegin(), clientConnections.cend(),
        [&peer](ZqNetHostConnection* host) { return host->HostAddress() == peer; }));
    if (clientConnections.size() >= clientLimit() || fromPeer >= MaxClientsPerPeer) {
        peerWarnings.warn("refused client",
            "ZqNetConnectionManager: refusing client " + peer.toString() + ": "
                + QString::number(clientConnections.size()) + " clients, " + QString::number(fromPeer)
                + " from that address");
        socket->abort();
        delete socket;
        return;
    }
    auto* host = new ZqNetHostConnection(socket, tempDirectory, this);
    // Owned by its connection, so that it goes when the connection goes.
    socket->setParent(host);
    host->setFrameDeadline(clientFrameDeadline_MS);
    host->setWriteStallTimeout(clientSendStall_MS);
    host->PreparePersistantConnection();
    qDebug().noquote() << "Peer Address: " + host->hostAddressString();
    AddClient(host);
}

void ZqNetConnectionManager::OnErrorClientConnection(QAbstractSocket::SocketError err)
{
    // Clients connecting while descriptors are short repeat it at will.
    if (peerWarnings.warn("accept error", QStringLiteral("Client Connection Error!"))) {
        qWarning().nospace() << "Socket Error Code: " << int(err);
        qWarning().noquote() << "Socket Error String: " + (tcpServer ? tcpServer->errorString() : QString());
    }
    if (!acceptRetryTimer.isActive())
        acceptRetryTimer.start();
}

void ZqNetConnectionManager::OnClientDisconnected(ZqNetHostConnection* host)
{
    emit clientDisconnected(host);
    RemoveClient(host);
}

ZqNetHostConnection* ZqNetConnectionManager::_sendingHost() const
{
    return qobject_cast<ZqNetHostConnection*>(sender());
}

void ZqNetConnectionManager::OnIncomingMessage(QByteArray message, ZqMessageTypes::ZqMessageType msgType)
{
    HandleMessageFromClient(_sendingHost(), message, msgType);
}

void ZqNetConnectionManager::OnFileStartSend(QString localFilePath, QString remoteFilePath)
{
    emit clientFileStartSend(_sendingHost(), localFilePath, remoteFilePath);
}

void ZqNetConnectionManager::OnFileSent(QString localFilePath, QString remoteFilePath)
{
    emit clientFileSent(_sendingHost(), localFilePath, remoteFilePath);
}

void ZqNetConnectionManager::OnFileStartReceive(QString localFilePath, QString remoteFilePath)
{
    emit clientFileStartReceive(_sendingHost(), localFilePath, remoteFilePath);
}

void ZqNetConnectionManager::OnFileReceived(QString localFilePath, QString remoteFilePath)
{
    emit clientFileReceived(_sendingHost(), localFilePath, remoteFilePath);
}
