#include "zqnethostconnection.h"

#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QPointer>
#include <QStandardPaths>

#include <utility>

#include <sys/ioctl.h>

using namespace ZqMessageTypes;

quint64 ZqNetHostConnection::sendQueueEntriesWalked = 0;

ZqNetHostConnection::ZqNetHostConnection(QTcpSocket* givenSocket, QString tempDir, QObject* parent)
    : QObject(parent)
    , socket(givenSocket ? givenSocket : new QTcpSocket(this))
    , isDisconnected(!givenSocket || givenSocket->state() != QAbstractSocket::ConnectedState)
{
    registerMetaTypes();
    qRegisterMetaType<ZqNetHostConnection*>("ZqNetHostConnection*");
    tempDirectory = !tempDir.isEmpty() && QDir(tempDir).exists()
        ? tempDir
        : QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    connect(socket, &QTcpSocket::hostFound, this, &ZqNetHostConnection::OnHostFound);
    connect(socket, &QTcpSocket::connected, this, &ZqNetHostConnection::OnConnected);
    connect(socket, &QTcpSocket::readyRead, this, &ZqNetHostConnection::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &ZqNetHostConnection::OnDisconnected);
    connect(socket, &QTcpSocket::bytesWritten, this, &ZqNetHostConnection::OnBytesWritten);
    // A coarse timer may fire up to 5 % early; the ping and the watchdog promise whole intervals.
    pingTimer.setTimerType(Qt::PreciseTimer);
    watchDogTimer.setTimerType(Qt::PreciseTimer);
    connect(&pingTimer, &QTimer::timeout, this, &ZqNetHostConnection::OnPingTimeout);
    connect(&watchDogTimer, &QTimer::timeout, this, &ZqNetHostConnection::OnWatchDogTimeout);
    frameDeadlineTimer.setSingleShot(true);
    connect(&frameDeadlineTimer, &QTimer::timeout, this, [this] { onFrameDeadline(); });
    // Every hand-over to the kernel, also those made while bytesWritten is being emitted.
    connect(
        socket, &QIODevice::channelBytesWritten, this, [this](int, qint64 bytes) { bytesToKernel += bytes; });
    connect(&writeStallTimer, &QTimer::timeout, this, &ZqNetHostConnection::sampleWriteProgress);
    socket->setReadBufferSize(ReadBufferSize);
    enlistForCopies();
    reset();
}

ZqNetHostConnection::ZqNetHostConnection(QString tempDir, QObject* parent)
    : ZqNetHostConnection(nullptr, tempDir, parent)
{
}

ZqNetHostConnection::ZqNetHostConnection(QObject* parent)
    : ZqNetHostConnection(nullptr, QString(), parent)
{
}

QHostAddress ZqNetHostConnection::HostAddress() const { return socket->peerAddress(); }

QString ZqNetHostConnection::hostAddressString() const
{
    const QHostAddress address = socket->peerAddress();
    return address.isNull() ? QString() : address.toString();
}

void ZqNetHostConnection::setHostAddress(QString address)
{
    socket->disconnectFromHost();
    socket->connectToHost(QHostAddress(address), TcpPort, QIODevice::ReadWrite);
}

bool ZqNetHostConnection::IsConnected() const { return socket->state() == QAbstractSocket::ConnectedState; }

bool ZqNetHostConnection::WaitForConnected(int ms) { return socket->waitForConnected(ms); }

void ZqNetHostConnection::WaitWriteAvailableBytes() { socket->waitForBytesWritten(30000); }

void ZqNetHostConnection::setWatchDogTimeout(int timeout_MS) { watchDogTimer.start(timeout_MS); }

void ZqNetHostConnection::PreparePersistantConnection()
{
    watchDogTimedOut = false;
    pingTimer.setSingleShot(false);
    pingTimer.start(PingInterval_MS);
    watchDogTimer.setInterval(WatchDogInterval_MS);
    watchDogTimer.start();
}

void ZqNetHostConnection::reset()
{
    clearCurrentReceiveTrackers();
    clearCurrentSendTrackers();
    pingTimer.stop();
    watchDogTimer.stop();
    writeStallTimer.stop();
}

void ZqNetHostConnection::forceDisconnect()
{
    qInfo().noquote() << "ZqNetHostConnection::forceDisconnect(" + hostAddressString() + ")";
    // Ends now. What the kernel takes at once still goes out (a last reply, say); bytes
    // it does not take are dropped, since a peer that has stopped reading would hold a
    // graceful close, and the connection with it, until the write stall.
    const QPointer<ZqNetHostConnection> self(this);
    socket->flush();
    // The writes reported by the flush may have ended this connection already.
    if (!self)
        return;
    if (socket->bytesToWrite() > 0)
        socket->abort();
    else
        socket->disconnectFromHost();
    if (self)
        OnDisconnected();
}

bool ZqNetHostConnection::writeMessageHeader(ZqMessageType type, qint64 length)
{
    QByteArray header;
    header.reserve(HeaderSize);
    QDataStream out(&header, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out << length << quint32(type);
    return socket->write(header) != -1;
}

bool ZqNetHostConnection::SendMessage(QByteArray message)
{
    return SendMessage(message, ZqMessage_GenericMessage);
}

bool ZqNetHostConnection::SendMessage(QByteArray message, ZqMessageType msgType)
{
    if (msgType == ZqMessage_FileDataMessage) {
        qWarning() << "ZqNetHostConnection::SendMessage: invalid msgType, use sendFile()";
        return false;
    }
    // Behind the ones already waiting: after a halted or failed file nothing may be
    // in flight while they still wait for the next bytesWritten.
    if (currentSendMessageType != ZqMessage_None || !messageSendQueue.isEmpty()) {
        messageSendQueue.append(qMakePair(message, msgType));
        queuedSendBytes += HeaderSize + message.size();
        noteSendHold(message, true);
        sendNextQueued();
        return true;
    }
    return writeMessage(message, msgType, false);
}

bool ZqNetHostConnection::writeMessage(const QByteArray& message, ZqMessageType msgType, bool fromQueue)
{
    if (!writeMessageHeader(msgType, message.size())) {
        if (fromQueue)
            noteSendHold(message, false);
        return false;
    }
    clearCurrentSendTrackers();
    currentSendMessageType = msgType;
    currentSendMessageSize = currentSendBytesRemaining = quint64(message.size());
    currentSendMessage = message;
    currentSendHeld = fromQueue;
    if (!writeMessageChunks()) {
        clearCurrentSendTrackers();
        return false;
    }
    if (currentSendBytesRemaining > 0 && !currentSendHeld) {
        currentSendHeld = true;
        noteSendHold(message, true);
    }
    watchWriteProgress();
    return true;
}

void ZqNetHostConnection::noteSendHold(const QByteArray& message, bool held)
{
    if (sendHoldObserver && !message.isEmpty())
        sendHoldObserver(message, held);
}

void ZqNetHostConnection::releaseCurrentSend()
{
    if (!currentSendHeld)
        return;
    currentSendHeld = false;
    noteSendHold(currentSendMessage, false);
}

void ZqNetHostConnection::dropQueuedMessages()
{
    releaseCurrentSend();
    const auto dropped = std::exchange(messageSendQueue, {});
    queuedSendBytes = 0;
    for (const auto& queued : dropped)
        noteSendHold(queued.first, false);
}

bool ZqNetHostConnection::writeMessageChunks()
{
    // A large payload goes to the socket a little at a time, so that one
    // broadcast to many clients is held once, not copied into every socket.
    while (currentSendBytesRemaining > 0 && socket->bytesToWrite() < FileSendBacklog) {
        const qint64 offset = qint64(currentSendMessageSize - currentSendBytesRemaining);
        const qint64 length = qint64(qMin<quint64>(currentSendBytesRemaining, FileSendBacklog));
        if (socket->write(currentSendMessage.constData() + offset, length) != length)
            return false;
        currentSendBytesRemaining -= quint64(length);
    }
    if (currentSendBytesRemaining == 0) {
        releaseCurrentSend();
        currentSendMessage.clear();
    }
    return true;
}

void ZqNetHostConnection::OnBytesWritten(qlonglong)
{
    pingTimer.start();
    if (currentSendMessageType == ZqMessage_FileDataMessage) {
        const QPointer<ZqNetHostConnection> self(this);
        if (!sendNextFileChunk()) {
            if (self)
                watchWriteProgress();
            return;
        }
        // A file that could not be ended may have closed the connection.
        if (!self || isDisconnected)
            return;
    } else if (currentSendMessageType != ZqMessage_None && currentSendBytesRemaining > 0) {
        // The message counts as written at the first bytesWritten after its last bytes.
        if (writeMessageChunks()) {
            watchWriteProgress();
            return;
        }
        clearCurrentSendTrackers();
    } else {
        clearCurrentSendTrackers();
    }
    sendNextQueued();
    // A waiting file follows the message just written, once all of it is in the socket.
    // Its signals may end this connection.
    const QPointer<ZqNetHostConnection> self(this);
    if (!fileSendQueue.isEmpty() && !frameBeingWritten())
        handleFileSendQueue();
    if (self)
        watchWriteProgress();
}

qint64 ZqNetHostConnection::bytesTakenByPeer() const
{
#ifdef TIOCOUTQ
    // What the peer has acknowledged. The socket reports a write only once the kernel
    // has room for a good part of its buffer again, which a slow reader takes minutes
    // to make.
    int unacknowledged = 0;
    const qintptr fd = socket->socketDescriptor();
    if (fd >= 0 && ::ioctl(int(fd), TIOCOUTQ, &unacknowledged) == 0)
        return bytesToKernel - unacknowledged;
#endif
    return bytesToKernel;
}

void ZqNetHostConnection::watchWriteProgress()
{
    if (isDisconnected || socket->bytesToWrite() == 0) {
        writeStallTimer.stop();
        return;
    }
    if (writeStallTimer.isActive())
        return;
    takenAtLastSample = bytesTakenByPeer();
    sinceWriteProgress.start();
    // Sampled all through the interval, so that any byte the peer takes in it counts.
    writeStallTimer.start(qBound(20, writeStallLimit() / 100, 250));
}

int ZqNetHostConnection::writeStallLimit() const
{
    return writeStall_MS > 0 ? writeStall_MS : watchDogTimer.interval();
}

void ZqNetHostConnection::sampleWriteProgress()
{
    if (isDisconnected || socket->bytesToWrite() == 0) {
        writeStallTimer.stop();
        return;
    }
    const qint64 taken = bytesTakenByPeer();
    if (taken > takenAtLastSample) {
        takenAtLastSample = taken;
        sinceWriteProgress.start();
    } else if (sinceWriteProgress.elapsed() >= writeStallLimit()) {
        onWriteStalled();
    }
}

void ZqNetHostConnection::onWriteStalled()
{
    qWarning().noquote() << "ZqNetHostConnection(" + hostAddressString() + "): the peer took none of the "
            + QString::number(pendingSendBytes()) + " bytes waiting for it in the last "
            + QString::number(writeStallLimit()) + " ms, disconnecting";
    // Neither the queue nor the socket's buffer would ever go out.
    dropQueuedMessages();
    endAndAbort();
}

bool ZqNetHostConnection::frameBeingWritten() const
{
    // A file is in flight until the bytesWritten after its last chunk; a message only
    // until its last bytes are in the socket, after which a file may follow it.
    return currentSendMessageType == ZqMessage_FileDataMessage
        || (currentSendMessageType != ZqMessage_None && currentSendBytesRemaining > 0);
}

void ZqNetHostConnection::sendNextQueued()
{
    // A queued message that fails to write is dropped; the next one gets its turn now,
    // since no further bytesWritten would come for it.
    while (!messageSendQueue.isEmpty() && currentSendMessageType == ZqMessage_None) {
        const auto next = messageSendQueue.takeFirst();
        queuedSendBytes -= HeaderSize + next.first.size();
        writeMessage(next.first, next.second, true);
    }
}

void ZqNetHostConnection::OnPingTimeout()
{
    SendMessage(QByteArrayLiteral("ZqWD"), ZqMessage_WatchDogPing);
    // Also catches bytes written without SendMessage (a file's header) while the
    // peer reads nothing.
    watchWriteProgress();
}

void ZqNetHostConnection::OnReadyRead() { handleAvailableBytes(); }

void ZqNetHostConnection::handleAvailableBytes()
{
    const QPointer<ZqNetHostConnection> self(this);
    receiveFrames();
    // A full read buffer (filled while a slot ran an event loop of its own) stops the
    // socket's reading, and Qt resumes it only once the buffer is empty: a partial
    // frame left in it would wait for ever. Resuming reading that runs costs nothing.
    if (self && !receivePassScheduled && !readPaused && socket->bytesAvailable() > 0) {
        socket->setReadBufferSize(0);
        socket->setReadBufferSize(ReadBufferSize);
    }
}

void ZqNetHostConnection::receiveFrames()
{
    const QPointer<ZqNetHostConnection> self(this);
    int handled = 0;
    // Nothing more is delivered once the connection is lost or being closed here.
    while (!isDisconnected && socket->state() == QAbstractSocket::ConnectedState
        && socket->bytesAvailable() > 0) {
        // The event loop runs between passes; no new readyRead may come for what is left.
        if (handled == MaxFramesPerPass) {
            scheduleReceivePass();
            return;
        }
        watchDogTimer.start();
        if (currentReceiveMessageSize == 0) {
            if (!skipFileStopEcho() || socket->bytesAvailable() < HeaderSize)
                return;
            if (!readMessageHeader())
                return;
            // A frame with no payload carries nothing to deliver: it is dropped.
            if (currentReceiveMessageSize == 0) {
                clearCurrentReceiveTrackers();
                ++handled;
            }
            continue;
        }
        if (currentReceiveMessageType == ZqMessage_FileDataMessage) {
            ++handled;
            if (!handleFileReceiveStep() || !self)
                return;
            continue;
        }
        if (quint64(socket->bytesAvailable()) < currentReceiveMessageSize)
            return;
        const QByteArray payload = socket->read(qint64(currentReceiveMessageSize));
        const ZqMessageType type = currentReceiveMessageType;
        clearCurrentReceiveTrackers();
        ++handled;
        emit messageReceived(payload, type);
        if (!self)
            return;
    }
}

void ZqNetHostConnection::scheduleReceivePass()
{
    if (receivePassScheduled)
        return;
    receivePassScheduled = true;
    // Dropped with the connection if it goes first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            receivePassScheduled = false;
            handleAvailableBytes();
        },
        Qt::QueuedConnection);
}

bool ZqNetHostConnection::readMessageHeader()
{
    QDataStream in(socket->peek(HeaderSize));
    in.setVersion(StreamVersion);
    qint64 length = 0;
    quint32 type = 0;
    in >> length >> type;
    const bool isFile = type == ZqMessage_FileDataMessage;
    if (length < 0 || (!isFile && length > MaxMessagePayloadSize)
        || (isFile && length < FileDataPathBlockSize)) {
        protocolError(
            QStringLiteral("frame length %1 for type 0x%2").arg(length).arg(type, 8, 16, QLatin1Char('0')));
        return false;
    }
    clearCurrentReceiveTrackers();
    // A file is taken only with room for its copy; until then reading waits.
    if (isFile && !takeCopyRoom())
        return false;
    socket->skip(HeaderSize);
    currentReceiveMessageSize = quint64(length);
    currentReceiveMessageType = ZqMessageType(type);
    currentReceiveMessageBytesReceived = 0;
    if (frameDeadline_MS > 0 && length > 0)
        frameDeadlineTimer.start(frameDeadline_MS);
    updateCurrentReceivePercentStats();
    return true;
}

qint64 ZqNetHostConnection::pendingSendBytes() const
{
    qint64 bytes = socket->bytesToWrite() + queuedSendBytes;
    if (currentSendMessageType != ZqMessage_FileDataMessage)
        bytes += qint64(currentSendBytesRemaining);
    return bytes;
}

void ZqNetHostConnection::onFrameDeadline()
{
    const bool fileData = currentReceiveMessageType == ZqMessage_FileDataMessage
        && currentReceiveMessageBytesReceived >= quint64(FileDataPathBlockSize);
    if (!fileData) {
        protocolError(QStringLiteral("frame not whole within %1 ms").arg(frameDeadline_MS));
        return;
    }
    const quint64 gained = currentReceiveMessageBytesReceived - fileProgressMark;
    if (gained >= qMin<quint64>(FileChunkSize, currentReceiveMessageSize - fileProgressMark)) {
        fileProgressMark = currentReceiveMessageBytesReceived;
        frameDeadlineTimer.start(writeStallLimit());
        return;
    }
    protocolError(QStringLiteral("file data stalled: %1 bytes in %2 ms")
                      .arg(gained)
                      .arg(frameDeadlineTimer.interval()));
}

QList<QByteArray> ZqNetHostConnection::pendingMessages() const
{
    QList<QByteArray> messages;
    if (!currentSendMessage.isEmpty())
        messages << currentSendMessage;
    for (const auto& queued : messageSendQueue)
        messages << queued.first;
    sendQueueEntriesWalked += quint64(messageSendQueue.size());
    return messages;
}

void ZqNetHostConnection::protocolError(const QString& reason)
{
    qWarning().noquote() << "ZqNetHostConnection(" + hostAddressString() + "): protocol error, " + reason;
    clearCurrentReceiveTrackers();
    // A slot of the socket's disconnected() may delete this connection.
    const QPointer<ZqNetHostConnection> self(this);
    socket->abort();
    if (self)
        OnDisconnected();
}

void ZqNetHostConnection::OnHostFound() { }

void ZqNetHostConnection::OnConnected()
{
    qInfo().noquote() << "ZqNetHostConnection(" + hostAddressString() + ") Connected";
    // Ready before the signals: a slot that ends the connection at once must
    // find it connected, or its end would go unreported until the watchdog.
    isDisconnected = false;
    PreparePersistantConnection();
    emit connectedChanged();
    emit connected();
}

void ZqNetHostConnection::OnDisconnected()
{
    if (isDisconnected)
        return;
    // Set first: a slot of the file failure signals below may end the socket,
    // which comes back here.
    isDisconnected = true;
    qInfo().noquote().nospace() << this << " (" + hostAddressString() + ") Disconnect";
    qDebug().noquote() << "socket error string: " + socket->errorString();
    peerWarnings.flush();
    pingTimer.stop();
    watchDogTimer.stop();
    writeStallTimer.stop();
    abandonFileTransfers();
    // Copied on by a thread shared by ended connections; their ends are still told here.
    handOverWaitingCopies();
    if (readPaused) {
        readPaused = false;
        socket->setReadBufferSize(ReadBufferSize);
    }
    // Meant for this peer only: a reconnect of this object must not send them first.
    dropQueuedMessages();
    clearCurrentSendTrackers();
    clearCurrentReceiveTrackers();
    emit disconnected(this);
}

void ZqNetHostConnection::OnWatchDogTimeout()
{
    if (watchDogTimedOut)
        return;
    watchDogTimedOut = true;
    qDebug().noquote() << "ZqNetHostConnection(" + hostAddressString() + "): WatchDog Timeout";
    endAndAbort();
}

void ZqNetHostConnection::endAndAbort()
{
    const QPointer<ZqNetHostConnection> self(this);
    // Closed before the end is told: a slot of it could otherwise still write
    // to the socket, and what it queued would never be released.
    // A silent peer must not keep the socket (and its buffers) alive.
    socket->abort();
    if (self)
        OnDisconnected();
}

void ZqNetHostConnection::clearCurrentReceiveTrackers()
{
    currentReceiveMessageType = ZqMessage_None;
    currentReceiveMessageSize = 0;
    currentReceiveMessageBytesReceived = 0;
    currentReceivePercent = 0;
    frameDeadlineTimer.stop();
    // Still open here means cut short: the partial file goes.
    if (currentReceiveFile.isOpen()) {
        currentReceiveFile.close();
        removeReceiveTempFile(currentReceiveTempPath);
    }
    currentReceiveTempPath.clear();
    currentReceiveDiscarding = false;
    if (receiveHoldsCopyRoom) {
        receiveHoldsCopyRoom = false;
        releaseCopyRoom();
    }
    receiveStopScan = FileStopScan();
    receiveHeldMarkerBytes = 0;
}

void ZqNetHostConnection::clearCurrentSendTrackers()
{
    currentSendMessageType = ZqMessage_None;
    currentSendMessageSize = 0;
    currentSendBytesRemaining = 0;
    currentSendPercent = 0;
    releaseCurrentSend();
    currentSendMessage.clear();
    currentSendFile.close();
    currentSendFilePaths = {};
    sendStopScan = FileStopScan();
}
