#pragma once

#include "zqmessagetypes.h"
#include "zqrepeatedwarnings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <QVector>

#include <functional>

class ZqFileCopier;
class ZqLeftoverCopies;

// One framed TCP connection to a peer. Every frame is a 12-byte big-endian header
// (qint64 payload length, quint32 message type) followed by the payload. One message
// is in flight at a time; later ones wait in a FIFO until the socket reports the
// write. Lives on the thread that owns it; takes no locks.
class ZqNetHostConnection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString hostAddress READ hostAddressString WRITE setHostAddress NOTIFY hostAddressChanged)

public:
    static constexpr quint16 TcpPort = 32889;
    static constexpr int HeaderSize = 12;
    static constexpr int PingInterval_MS = 5000;
    static constexpr int WatchDogInterval_MS = 25000;
    // A non-file payload beyond this is a protocol error: the connection is closed
    // instead of buffering whatever length a peer announces.
    static constexpr qint64 MaxMessagePayloadSize = 16 * 1024 * 1024;
    // Frames (and file receive steps) handled in one pass over the received bytes;
    // the rest wait for the next pass, so that a peer sending thousands of small
    // frames cannot hold the thread that owns the connection.
    static constexpr int MaxFramesPerPass = 64;
    // Received bytes held at most; a whole non-file frame fits. A peer that sends
    // faster than its frames are handled then waits in TCP instead of in memory.
    static constexpr qint64 ReadBufferSize = MaxMessagePayloadSize + HeaderSize;
    // The path block that starts every file frame.
    static constexpr int FileDataPathBlockSize
        = 2 * ZqMessageTypes::ZqMessage_FileDataMessage_Path_String_Length;

    // A null socket: the connection makes its own socket as its child. A non-null one
    // (the server role's accepted socket) is used as it is. tempDir holds temporary
    // receive files; when it does not exist the platform's temporary location is used.
    ZqNetHostConnection(QTcpSocket* socket, QString tempDir, QObject* parent);
    ZqNetHostConnection(QString tempDir, QObject* parent);
    explicit ZqNetHostConnection(QObject* parent = nullptr);
    ~ZqNetHostConnection() override;

    QHostAddress HostAddress() const;
    Q_INVOKABLE QString hostAddressString() const;
    // Disconnects, then connects the socket to address:TcpPort.
    void setHostAddress(QString address);
    bool IsConnected() const;
    // Blocks the calling thread for at most ms milliseconds.
    bool WaitForConnected(int ms);
    QTcpSocket* Socket() const { return socket; }
    QString TempDirectory() const { return tempDirectory; }

    // Starts ping and watchdog for a socket that was connected before it was wrapped.
    void PreparePersistantConnection();
    void reset();
    bool writeMessageHeader(ZqMessageTypes::ZqMessageType type, qint64 length);

    // Bytes handed to this connection that the peer has not taken yet: the
    // socket's write buffer and the queued messages with their headers.
    qint64 pendingSendBytes() const;
    // The payloads not yet handed to the socket: the rest of the one in
    // flight, then the queued ones. They share their bytes with the caller's.
    // Walks the whole queue; counted in sendQueueEntriesWalked.
    QList<QByteArray> pendingMessages() const;
    // Queue entries that pendingMessages() has read, in all connections of the process.
    static quint64 sendQueueEntriesWalked;
    // Told when a non-empty message starts waiting (queued, or only partly in the
    // socket) and when it stops (its last bytes in the socket, or dropped), with held
    // true and false; messages stop waiting in the order they started. Lets an owner
    // keep running totals instead of walking the queues.
    using SendHoldObserver = std::function<void(const QByteArray& message, bool held)>;
    void setSendHoldObserver(SendHoldObserver observer) { sendHoldObserver = std::move(observer); }
    // A non-file frame must be whole within this many ms of its header, or the
    // connection is closed: its payload is held in memory until then. 0, the
    // default, waits as long as the peer keeps sending.
    void setFrameDeadline(int ms) { frameDeadline_MS = ms; }
    // How long the peer may take none of the bytes waiting for it; 0: the watchdog interval.
    void setWriteStallTimeout(int ms) { writeStall_MS = ms; }
    // Bytes the peer has taken out of the kernel's send queue on this socket so
    // far; without a way to ask the kernel, the bytes handed to it.
    qint64 bytesTakenByPeer() const;

    // Closes the socket at once, dropping what the kernel would not take; the end is
    // reported before this returns.
    Q_INVOKABLE void forceDisconnect();
    // (Re)starts the receive watchdog with the given interval.
    Q_INVOKABLE void setWatchDogTimeout(int timeout_MS);

    // Files. A file goes as one frame: the header, a 512-byte block with the
    // destination and the sender's path (UTF-8, zero-padded to 256 bytes each),
    // then the file's bytes in 10240-byte chunks, topped up at each bytesWritten. The
    // 48-byte FileStopMarker written in place of the remaining bytes halts it.
    // Signals of one transfer: fileStartSend or fileStartReceive, then
    // filePercentileComplete at each change, then fileSent or fileReceived and
    // fileTransferComplete. A transfer that fails after its start signal ends
    // with fileTransferComplete and fileTransferFailed, one refused before it
    // with fileTransferFailed alone; a halted file emits nothing. A received
    // file's end is told also after the connection's end, once its copy ends;
    // one still coming in when the connection is deleted fails then.

    // Incoming files are written only below this folder, at the relative path
    // that the peer names: no absolute path, no "..", and no link leading out
    // of the folder. Empty, the default, refuses every incoming file: its frame
    // is read and dropped, a warning logged and fileTransferFailed() emitted.
    // The client role leaves it empty. Receive signals name the absolute
    // destination below this folder.
    void setFileReceiveRoot(const QString& directory) { fileReceiveRoot = directory; }
    QString FileReceiveRoot() const { return fileReceiveRoot; }

    // Starts the oldest queued file. A file that cannot be opened is dropped
    // with fileTransferFailed() and the next one tried; false when none started.
    bool handleFileSendQueue();
    // True when data ends with the cancel marker.
    static bool dataContainsFileStop(const QByteArray& data);
    static const QByteArray FileStopMarker;
    // The marker is this many bytes ("filestop") six times over.
    static constexpr int FileStopWordSize = 8;
    static constexpr int FileChunkSize = 10240;
    // Chunks are added while the socket holds fewer bytes than this.
    static constexpr qint64 FileSendBacklog = 8 * FileChunkSize;
    // Numbers the temporary receive files of all connections.
    static quint32 uniqueTempFileTagId;
    // Received files waiting for their copy into place, the one being copied
    // and the one coming in included. Copies run one at a time per connection;
    // at this many, reading stops before the next file frame (TCP holds the
    // rest at the sender) until a copy has ended.
    static constexpr int MaxWaitingLocalCopies = 32;
    // The same for all connections of the process together, with the files
    // that ended connections left waiting: a connection that would pass it
    // waits the same way until any copy ends.
    static constexpr int MaxWaitingLocalCopiesInTotal = 8 * MaxWaitingLocalCopies;
    // Threads that copy what ended connections left waiting, in the process;
    // past them, an ending connection hands its files to one of them.
    static constexpr int MaxLeftoverCopiers = 4;
    // Received files whose end (fileReceived, or fileTransferFailed) is still
    // to be told, also after the connection has ended: an owner that deletes
    // the connection before this is 0 is told nothing more of them, though
    // they still land.
    int unsettledReceivedFiles() const { return pendingLocalCopies.size() + leftoverFiles; }

public slots:
    // False for the file type (use sendFile) or when the socket refuses the write.
    bool SendMessage(QByteArray message, ZqMessageTypes::ZqMessageType msgType);
    bool SendMessage(QByteArray message);
    // Queues a file; false when it does not exist or the destination is longer
    // than its 256-byte field.
    bool sendFile(QString localFilePath, QString remoteFilePath);
    // Drops a queued pair, or halts that pair's file in flight. False when
    // there is neither, or when too few bytes of the file remain to put the
    // marker in their place (the file then finishes).
    bool cancelFileSend(QString localFilePath, QString remoteFilePath);
    // Blocks for at most 30000 ms.
    void WaitWriteAvailableBytes();

signals:
    void hostAddressChanged();
    void connectedChanged();
    void connected();
    // Once per connection.
    void disconnected(ZqNetHostConnection* connection);
    // Every complete non-file frame with a payload, pings included; a frame with
    // no payload is dropped.
    void messageReceived(QByteArray message, ZqMessageTypes::ZqMessageType msgType);
    void messageSent();
    void fileStartSend(QString localFilePath, QString remoteFilePath);
    void fileSent(QString localFilePath, QString remoteFilePath);
    void fileStartReceive(QString localFilePath, QString remoteFilePath);
    void fileReceived(QString localFilePath, QString remoteFilePath);
    void fileTransferComplete();
    void fileTransferFailed();
    void filePercentileComplete(uint percentage);

private slots:
    void OnHostFound();
    void OnConnected();
    void OnReadyRead();
    void OnBytesWritten(qlonglong bytes);
    void OnDisconnected();
    void OnWatchDogTimeout();
    void OnPingTimeout();
    void OnLocalFileCopyComplete(ZqFileCopier* copier);
    void OnLocalFileCopyFailed(ZqFileCopier* copier, QString failString);

private:
    friend class ZqLeftoverCopies;

    // Finds the cancel marker in a stream that arrives in pieces, also where
    // it spans two pieces.
    struct FileStopScan {
        QByteArray tail; // the last bytes fed, fewer than a marker
        // The offset just past the first marker ending in data, or -1.
        qint64 feed(const char* data, qint64 size);
    };

    struct PendingLocalCopy {
        ZqFileCopier* copier = nullptr;
        QString localFilePath;
        QString tempFilePath;
        QString remoteFilePath;
    };

    void handleAvailableBytes();
    void receiveFrames();
    // Queues one more pass over the received bytes, once.
    void scheduleReceivePass();
    // Reads and checks one header; false after a protocol error.
    bool readMessageHeader();
    // Closes the connection after a peer broke the framing.
    void protocolError(const QString& reason);
    void clearCurrentReceiveTrackers();
    void clearCurrentSendTrackers();
    void sendNextQueued();
    // True while a frame (message, file or ping) is not yet all in the socket: the next
    // frame waits, so frames never interleave on the wire.
    bool frameBeingWritten() const;
    // Frames and writes a message now; fromQueue: it was held in the queue until now.
    bool writeMessage(const QByteArray& message, ZqMessageTypes::ZqMessageType msgType, bool fromQueue);
    void noteSendHold(const QByteArray& message, bool held);
    // The message in flight no longer waits (its last bytes are in the socket, or it goes).
    void releaseCurrentSend();
    // Drops what waits to be sent, the message in flight first.
    void dropQueuedMessages();
    // Hands the message in flight to the socket while it holds little; false on a write error.
    bool writeMessageChunks();
    // Starts timing the peer's taking of the bytes waiting to be written (see writeStallTimer).
    void watchWriteProgress();
    void sampleWriteProgress();
    // How long the peer may take none of the bytes waiting for it; also the interval
    // in which a file frame's data must bring at least a chunk (or its rest).
    int writeStallLimit() const;
    void onWriteStalled();
    // Drops the socket and what it holds, then ends the connection as lost.
    void endAndAbort();

    // File half. One step of the receiver for the file frame in progress; false when
    // it has to wait for more bytes.
    bool handleFileReceiveStep();
    // Feeds the next chunk of the file in flight; true once the file has finished and
    // the send tracker is clear.
    bool sendNextFileChunk();
    // Reads and writes one chunk; true when that ended the file (as failed).
    bool writeFileChunk();
    void updateCurrentSendPercentage();
    void updateCurrentReceivePercentStats();
    // Writes the marker in place of the rest of the file in flight; false when
    // too few bytes remain for it.
    bool haltFileSend();
    // Ends the file in flight as failed: with the marker, or else by closing
    // the connection.
    void failFileSend();
    // Skips the part of a cancel marker that followed its early match; false
    // while too few bytes are there to tell.
    bool skipFileStopEcho();
    // The length of the longest start of the marker that ends the frame's file bytes.
    int markerStartAtFrameEnd() const;
    // The file's last bytes were no marker: 100 %, then the file goes into place.
    void finishHeldFileReceive();
    // Looks past the frame for the rest of a marker its last bytes began: a cancel, or
    // else the file is finished; false while too few bytes are there to tell.
    bool resolveHeldMarkerStart();
    void beginFileReceive();
    void finishFileReceive();
    // Removes the copier's record and its temp file; false when the copier is not ours.
    bool takePendingCopy(ZqFileCopier* copier, PendingLocalCopy* done);
    void failFileReceive();
    // The absolute destination below fileReceiveRoot, or empty with a reason.
    QString receiveDestination(const QString& remotePath, QString& reason) const;
    bool openReceiveTempFile();
    bool openReceiveTempFileIn(const QString& folder);
    // Removes a temporary receive file, and its folder with the last one.
    static void removeReceiveTempFile(const QString& path);
    void startNextLocalCopy();
    QString receiveRootForCopy() const;
    void onFrameDeadline();
    // Ends transfers in flight when the connection goes.
    void abandonFileTransfers();
    // Gives the files waiting for their copy to a copier of ended connections.
    void handOverWaitingCopies();
    // The end of a file handed over, told as the connection's own.
    void settleLeftoverCopy(const QString& localFilePath, const QString& remoteFilePath, bool copied);
    void enlistForCopies();
    // Room among the waiting copies for the file frame about to be read; without
    // it, reading pauses until a copy ends.
    bool takeCopyRoom();
    void releaseCopyRoom();
    void pauseReading();
    void resumeReading();

    // receive tracker
    ZqMessageTypes::ZqMessageType currentReceiveMessageType = ZqMessageTypes::ZqMessage_None;
    quint64 currentReceiveMessageSize = 0;
    quint64 currentReceiveMessageBytesReceived = 0;
    uint currentReceivePercent = 0;
    // send tracker
    ZqMessageTypes::ZqMessageType currentSendMessageType = ZqMessageTypes::ZqMessage_None;
    quint64 currentSendMessageSize = 0;
    quint64 currentSendBytesRemaining = 0;
    uint currentSendPercent = 0;

    QList<QPair<QByteArray, ZqMessageTypes::ZqMessageType>> messageSendQueue;
    // Headers and payloads in messageSendQueue.
    qint64 queuedSendBytes = 0;
    // currentSendMessage was reported held to sendHoldObserver.
    bool currentSendHeld = false;
    SendHoldObserver sendHoldObserver;
    // The non-file message in flight, until its last bytes are in the socket.
    QByteArray currentSendMessage;
    QFile currentSendFile;
    QFile currentReceiveFile;
    // The received file's destination and sender's path; the file being sent
    // keeps its own pair, so that both directions can run at once.
    QString currentRemoteFilePath;
    QString currentLocalFilePath;
    QPair<QString, QString> currentSendFilePaths;
    FileStopScan sendStopScan;
    FileStopScan receiveStopScan;
    int receiveMarkerEchoBytes = 0;
    // The frame is whole, but its last bytes may begin a marker that runs past it.
    int receiveHeldMarkerBytes = 0;
    QString currentReceiveTempPath;
    // The file frame being received is read and dropped (refused or failed).
    bool currentReceiveDiscarding = false;
    QString fileReceiveRoot;
    // New pairs go to the front, the oldest is taken from the back.
    QList<QPair<QString, QString>> fileSendQueue;
    // Oldest first; only the first one is being copied, by localCopier.
    QVector<PendingLocalCopy> pendingLocalCopies;
    ZqFileCopier* localCopier = nullptr;
    // Waiting files handed over at the end, not yet told.
    int leftoverFiles = 0;
    // The file frame being received holds a place among the waiting copies.
    bool receiveHoldsCopyRoom = false;
    // Reading stopped until a copy ends (takeCopyRoom).
    bool readPaused = false;
    // This connection among all of the process, for copies that outlive it.
    quint64 connectionNumber = 0;
    quint64 fileProgressMark = 0;
    QTimer watchDogTimer;
    bool watchDogTimedOut = false;
    QTimer pingTimer;
    QTimer frameDeadlineTimer;
    int frameDeadline_MS = 0;
    int writeStall_MS = 0;
    // Samples, while bytes wait to be written, what the peer has taken; a peer that takes
    // nothing at all for a watchdog interval is lost, even when it still pings.
    QTimer writeStallTimer;
    QElapsedTimer sinceWriteProgress;
    qint64 takenAtLastSample = 0;
    qint64 bytesToKernel = 0;
    // Warnings the peer can make this side repeat: bounded per connection.
    ZqRepeatedWarnings peerWarnings;
    QTcpSocket* socket = nullptr;
    bool isDisconnected = true;
    bool receivePassScheduled = false;
    QString tempDirectory;
};
