// The file half of ZqNetHostConnection: file frames, the cancel marker and the
// copy of a received file into place.
#include "zqnethostconnection.h"

#include "zqfilecopier.h"
#include "zqfilecopyworker.h"
#include "zqfilesystemutils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QPointer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZqMessageTypes;

const QByteArray ZqNetHostConnection::FileStopMarker
    = QByteArrayLiteral("filestopfilestopfilestopfilestopfilestopfilestop");

quint32 ZqNetHostConnection::uniqueTempFileTagId = 0;

namespace {

constexpr int PathFieldSize = ZqMessage_FileDataMessage_Path_String_Length;
constexpr int NameMax = 255; // bytes of one file name

// UTF-8, cut at a character boundary to fit, zero-padded.
QByteArray pathField(const QString& path)
{
    QByteArray bytes = path.toUtf8();
    if (bytes.size() > PathFieldSize) {
        int cut = PathFieldSize;
        while (cut > 0 && (uchar(bytes.at(cut)) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return bytes + QByteArray(PathFieldSize - bytes.size(), '\0');
}

QString pathFromField(const QByteArray& field)
{
    const int end = field.indexOf('\0');
    return QString::fromUtf8(end < 0 ? field : field.left(end));
}

// The start of text that fits in at most `bytes` UTF-8 bytes.
QString fittingUtf8(const QString& text, int bytes)
{
    QString fitted = text;
    while (fitted.toUtf8().size() > bytes)
        fitted.chop(fitted.size() >= 2 && fitted.at(fitted.size() - 1).isLowSurrogate() ? 2 : 1);
    return fitted;
}

// Temporary receive files live in a folder of the process's own below the
// temporary directory, made with mode 0700, so that nobody else can put or
// swap anything where they are. One folder per temporary directory, counted
// per file and removed with its last one.
QMutex receiveFoldersLock;
QHash<QString, QString> receiveFolderOf; // temporary directory -> folder
QHash<QString, int> receiveFolderFiles; // folder -> temporary files in it

bool isPrivateFolder(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

QString takeReceiveFolder(const QString& tempDirectory)
{
    QMutexLocker lock(&receiveFoldersLock);
    QString folder = receiveFolderOf.value(tempDirectory);
    if (folder.isEmpty() || !isPrivateFolder(folder)) {
        QByteArray name = QFile::encodeName(tempDirectory + QStringLiteral("/zqreceive-XXXXXX"));
        if (!::mkdtemp(name.data()))
            return QString();
        folder = QFile::decodeName(name);
        receiveFolderOf.insert(tempDirectory, folder);
    }
    ++receiveFolderFiles[folder];
    return folder;
}

void releaseReceiveFolder(const QString& folder)
{
    QMutexLocker lock(&receiveFoldersLock);
    const auto files = receiveFolderFiles.find(folder);
    if (files == receiveFolderFiles.end() || --files.value() > 0)
        return;
    receiveFolderFiles.erase(files);
    ::rmdir(QFile::encodeName(folder).constData());
    for (auto it = receiveFolderOf.begin(); it != receiveFolderOf.end(); ++it) {
        if (it.value() == folder) {
            receiveFolderOf.erase(it);
            break;
        }
    }
}

void removeTempFile(const QString& path)
{
    if (path.isEmpty())
        return;
    QFile::remove(path);
    releaseReceiveFolder(QFileInfo(path).path());
}

} // namespace

void ZqNetHostConnection::removeReceiveTempFile(const QString& path) { removeTempFile(path); }

qint64 ZqNetHostConnection::FileStopScan::feed(const char* data, qint64 size)
{
    const QByteArray& marker = FileStopMarker;
    const int keep = marker.size() - 1;
    if (!tail.isEmpty()) {
        const QByteArray joint = tail + QByteArray::fromRawData(data, int(qMin<qint64>(size, keep)));
        const int at = joint.indexOf(marker);
        if (at >= 0) {
            tail.clear();
            return at + marker.size() - (joint.size() - int(qMin<qint64>(size, keep)));
        }
    }
    if (const void* hit = ::memmem(data, size_t(size), marker.constData(), size_t(marker.size()))) {
        tail.clear();
        return static_cast<const char*>(hit) - data + marker.size();
    }
    if (size >= keep) {
        tail = QByteArray(data + size - keep, keep);
    } else {
        tail.append(data, int(size));
        tail = tail.right(keep);
    }
    return -1;
}

// Received files waiting for their copy into place, in every connection and
// left by every ended one, the connections that wait for room among them, and
// the copiers of ended connections: one count for the process, as connections
// may live on several threads.
namespace {

QMutex waitingCopiesLock;
int waitingCopies = 0;
QVector<ZqLeftoverCopies*> leftoverCopiers;
int nextLeftoverCopier = 0;
// Live connections by number, so that a report for one that has gone (or whose
// address a new one took) is dropped.
QHash<quint64, ZqNetHostConnection*> liveConnections;
quint64 nextConnectionNumber = 1;
QVector<quint64> waitingForRoom;

} // namespace

// Copies the received files that ended connections left waiting, on the thread
// of one such connection's copier, and tells each file's end to its connection
// while that is still there. Both go once the last one is in place. Past
// MaxLeftoverCopiers, later ends hand their files to one of these instead of
// keeping a thread of their own.
class ZqLeftoverCopies : public QObject {
public:
    struct Entry {
        QString tempFilePath;
        QString remoteFilePath;
        QString root;
        QString localFilePath;
        quint64 connection = 0;
    };

    static quint64 enlist(ZqNetHostConnection* connection)
    {
        QMutexLocker lock(&waitingCopiesLock);
        liveConnections.insert(nextConnectionNumber, connection);
        return nextConnectionNumber++;
    }
    static void delist(quint64 number)
    {
        QMutexLocker lock(&waitingCopiesLock);
        liveConnections.remove(number);
        waitingForRoom.removeAll(number);
    }

    // False when all connections together hold as many as they may: the
    // connection is then told when room is made.
    static bool reserve(quint64 connection)
    {
        QMutexLocker lock(&waitingCopiesLock);
        if (waitingCopies < ZqNetHostConnection::MaxWaitingLocalCopiesInTotal) {
            ++waitingCopies;
            return true;
        }
        if (!waitingForRoom.contains(connection))
            waitingForRoom.append(connection);
        return false;
    }
    static void release(int count)
    {
        QMutexLocker lock(&waitingCopiesLock);
        waitingCopies -= count;
        for (const quint64 number : qAsConst(waitingForRoom)) {
            if (ZqNetHostConnection* connection = liveConnections.value(number))
                QMetaObject::invokeMethod(
                    connection, [connection] { connection->resumeReading(); }, Qt::QueuedConnection);
        }
        waitingForRoom.clear();
    }

    // Takes the files and, when it keeps them itself, the copier, which may be
    // busy with the first one (copying). False: the copier is the caller's to end.
    static bool take(ZqFileCopier* copier, bool copying, const QVector<Entry>& files)
    {
        QMutexLocker lock(&waitingCopiesLock);
        if (leftoverCopiers.size() < ZqNetHostConnection::MaxLeftoverCopiers) {
            leftoverCopiers.append(new ZqLeftoverCopies(copier, copying, files));
            return true;
        }
        // Picked up once its own list is done; it unregisters only with none left here.
        ZqLeftoverCopies* other = leftoverCopiers.at(nextLeftoverCopier++ % leftoverCopiers.size());
        other->incoming += files;
        return false;
    }

    // copying: the copier is busy with the first entry. Made by take().
    ZqLeftoverCopies(ZqFileCopier* copier, bool copying, QVector<Entry> waiting)
        : copier(copier)
        , waiting(std::move(waiting))
    {
        // Files not copied by the time the application goes are removed then.
        if (QCoreApplication::instance() && QCoreApplication::instance()->thread() == thread())
            setParent(QCoreApplication::instance());
        copier->setParent(this);
        connect(copier, &ZqFileCopier::copyComplete, this, [this] { finishFirst(true); });
        connect(copier, &ZqFileCopier::copyFailed, this, [this] { finishFirst(false); });
        // Not from inside a signal the copier may be emitting right now.
        if (!copying)
            QMetaObject::invokeMethod(
                this, [this] { startNext(); }, Qt::QueuedConnection);
    }
    ~ZqLeftoverCopies() override
    {
        {
            QMutexLocker lock(&waitingCopiesLock);
            leftoverCopiers.removeOne(this);
            waiting += incoming;
            incoming.clear();
        }
        release(waiting.size());
        if (copier) {
            copier->cancelCopy();
            delete copier;
        }
        if (!waiting.isEmpty()) {
            qWarning().noquote() << "ZqNetHostConnection: " + QString::number(waiting.size())
                    + " received files not copied into place";
        }
        for (const Entry& entry : qAsConst(waiting)) {
            removeTempFile(entry.tempFilePath);
            tell(entry, false);
        }
    }

private:
    // The connection hears of its file on its own thread, if it is still there.
    static void tell(const Entry& entry, bool copied)
    {
        QMutexLocker lock(&waitingCopiesLock);
        ZqNetHostConnection* connection = liveConnections.value(entry.connection);
        if (!connection)
            return;
        QMetaObject::invokeMethod(
            connection,
            [connection, entry, copied] {
                connection->settleLeftoverCopy(entry.localFilePath, entry.remoteFilePath, copied);
            },
            Qt::QueuedConnection);
    }
    void finishFirst(bool copied)
    {
        if (!waiting.isEmpty()) {
            const Entry done = waiting.takeFirst();
            removeTempFile(done.tempFilePath);
            release(1);
            tell(done, copied);
        }
        startNext();
    }
    void startNext()
    {
        for (;;) {
            while (!waiting.isEmpty()) {
                copier->setOriginFile(waiting.first().tempFilePath);
                copier->setDestinationFile(waiting.first().remoteFilePath);
                copier->setDestinationRoot(waiting.first().root);
                copier->setFollowOriginLink(false);
                if (copier->copy())
                    return;
                qDebug("ZqNetHostConnection:: Error Copying temporary transfer file");
                const Entry failed = waiting.takeFirst();
                removeTempFile(failed.tempFilePath);
                release(1);
                tell(failed, false);
            }
            QMutexLocker lock(&waitingCopiesLock);
            if (incoming.isEmpty()) {
                leftoverCopiers.removeOne(this);
                break;
            }
            waiting.swap(incoming);
        }
        // The copier, a child, goes with this: it may be emitting right now.
        copier = nullptr;
        deleteLater();
    }

    ZqFileCopier* copier;
    QVector<Entry> waiting;
    // Handed over by later ends; guarded by waitingCopiesLock.
    QVector<Entry> incoming;
};

void ZqNetHostConnection::enlistForCopies() { connectionNumber = ZqLeftoverCopies::enlist(this); }

ZqNetHostConnection::~ZqNetHostConnection()
{
    // Nothing can be told to this connection from here on.
    ZqLeftoverCopies::delist(connectionNumber);
    // What waits to be sent goes with it; an owner's totals must not keep it.
    dropQueuedMessages();
    // A file still coming in ends as at a connection's end, but it can no
    // longer be told as copied: it fails.
    receiveHeldMarkerBytes = 0;
    abandonFileTransfers();
    // Its waiting files still land, untold.
    handOverWaitingCopies();
}

void ZqNetHostConnection::handOverWaitingCopies()
{
    if (pendingLocalCopies.isEmpty()) {
        // It may be emitting the last copy's end to a slot that deletes this connection.
        if (localCopier)
            localCopier->deleteLater();
        localCopier = nullptr;
        return;
    }
    // Nothing received is lost with the connection, and its end never waits for copies:
    // the copier takes the waiting files along.
    const bool copying = localCopier && pendingLocalCopies.first().copier == localCopier;
    if (localCopier)
        QObject::disconnect(localCopier, nullptr, this, nullptr);
    else
        localCopier = new ZqFileCopier(true);
    QVector<ZqLeftoverCopies::Entry> waiting;
    const QString root = receiveRootForCopy();
    for (const PendingLocalCopy& pending : qAsConst(pendingLocalCopies)) {
        waiting.append(
            { pending.tempFilePath, pending.remoteFilePath, root, pending.localFilePath, connectionNumber });
    }
    if (!ZqLeftoverCopies::take(localCopier, copying, waiting)) {
        // Another copier has the files, the one in progress included: it is
        // copied again from its temporary file, which stays until then.
        if (copying) {
            localCopier->cancelCopy();
            delete localCopier;
        } else {
            // It may be emitting the end of a copy to a slot that deletes this connection.
            localCopier->deleteLater();
        }
    }
    localCopier = nullptr;
    leftoverFiles += pendingLocalCopies.size();
    pendingLocalCopies.clear();
}

void ZqNetHostConnection::settleLeftoverCopy(
    const QString& localFilePath, const QString& remoteFilePath, bool copied)
{
    --leftoverFiles;
    const QPointer<ZqNetHostConnection> self(this);
    if (copied) {
        emit fileReceived(localFilePath, remoteFilePath);
        if (self)
            emit fileTransferComplete();
    } else {
        emit fileTransferComplete();
        if (self)
            emit fileTransferFailed();
    }
}

bool ZqNetHostConnection::dataContainsFileStop(const QByteArray& data)
{
    return data.endsWith(FileStopMarker);
}

bool ZqNetHostConnection::sendFile(QString localFilePath, QString remoteFilePath)
{
    if (!QFileInfo(localFilePath).isFile()) {
        qWarning().noquote() << "ZqNetHostConnection::sendFile: " + localFilePath + "File Does Not Exist";
        return false;
    }
    // A cut destination would put the file somewhere else.
    if (remoteFilePath.toUtf8().size() > PathFieldSize) {
        qWarning().noquote() << "ZqNetHostConnection::sendFile: destination longer than "
                + QString::number(PathFieldSize) + " bytes: " + remoteFilePath;
        return false;
    }
    qDebug().noquote() << "Enqueing File For Sending: " + localFilePath;
    fileSendQueue.prepend(qMakePair(localFilePath, remoteFilePath));
    if (currentSendMessageType == ZqMessage_None)
        handleFileSendQueue();
    return true;
}

bool ZqNetHostConnection::handleFileSendQueue()
{
    if (fileSendQueue.isEmpty()) {
        qDebug("ZqNetHostConnection::handleFileSendQueue: fileSendQueue is empty - check before calling this "
               "method");
        return false;
    }
    // A slot of fileTransferFailed may start a file or a message itself.
    while (!fileSendQueue.isEmpty() && !frameBeingWritten()) {
        const QPair<QString, QString> pair = fileSendQueue.takeLast();
        currentSendFile.close();
        currentSendFile.setFileName(pair.first);
        if (!currentSendFile.open(QIODevice::ReadOnly)) {
            qDebug().noquote() << "ZqNetHostConnection::sendFile: " + pair.first + "Could Not Be Opened";
            emit fileTransferFailed();
            continue;
        }
        const quint64 size = quint64(currentSendFile.size()) + FileDataPathBlockSize;
        const QByteArray pathBlock = pathField(pair.second) + pathField(pair.first);
        if (!writeMessageHeader(ZqMessage_FileDataMessage, qint64(size))
            || socket->write(pathBlock) != pathBlock.size()) {
            qWarning().noquote() << "ZqNetHostConnection::handleFileSendQueue: " + pair.first
                    + " not sent: " + socket->errorString();
            clearCurrentSendTrackers();
            emit fileTransferFailed();
            return false;
        }
        sendStopScan = FileStopScan();
        currentSendFilePaths = pair;
        currentSendMessageSize = size;
        currentSendBytesRemaining = size - FileDataPathBlockSize;
        currentSendPercent = 0;
        currentSendMessageType = ZqMessage_FileDataMessage;
        emit fileStartSend(pair.first, pair.second);
        qInfo().noquote() << "ZqNetHostConnection::handleFileSendQueue: " + pair.first
                + " file opened and header sent";
        return true;
    }
    return false;
}

bool ZqNetHostConnection::sendNextFileChunk()
{
    if (currentSendBytesRemaining == 0) {
        const QPair<QString, QString> pair = currentSendFilePaths;
        currentSendFile.close();
        emit fileSent(pair.first, pair.second);
        emit fileTransferComplete();
        clearCurrentSendTrackers();
        return true;
    }
    // Several chunks wait in the socket, so that it never runs dry between two
    // bytesWritten; a slot of the progress signal may halt the file meanwhile.
    const QPointer<ZqNetHostConnection> self(this);
    do {
        if (writeFileChunk())
            return true;
        if (!self)
            return false;
    } while (currentSendMessageType == ZqMessage_FileDataMessage && currentSendBytesRemaining > 0
        && socket->bytesToWrite() < FileSendBacklog);
    return false;
}

bool ZqNetHostConnection::writeFileChunk()
{
    // Never more than the header announced, even if the file has grown.
    const qint64 wanted = qint64(qMin<quint64>(FileChunkSize, currentSendBytesRemaining));
    const QByteArray chunk = currentSendFile.read(wanted);
    if (chunk.size() != wanted) {
        qWarning().noquote() << "ZqNetHostConnection::sendNextFileChunk: " + currentSendFilePaths.first
                + " ended early: " + currentSendFile.errorString();
        failFileSend();
        return true;
    }
    // The receiver takes the marker inside the file's own bytes as a cancel, so
    // the sender stops right there too, and the two stay in step.
    const qint64 stop = sendStopScan.feed(chunk.constData(), chunk.size());
    const qint64 length = stop < 0 ? chunk.size() : stop;
    const qint64 written = socket->write(chunk.constData(), length);
    if (written > 0)
        currentSendBytesRemaining -= quint64(written);
    if (stop >= 0 || written != length) {
        qWarning().noquote() << "ZqNetHostConnection::sendNextFileChunk: " + currentSendFilePaths.first
                + (stop >= 0 ? " holds the cancel marker; the receiver stops there"
                             : " not sent: " + socket->errorString());
        clearCurrentSendTrackers();
        emit fileTransferComplete();
        emit fileTransferFailed();
        return true;
    }
    updateCurrentSendPercentage();
    return false;
}

void ZqNetHostConnection::failFileSend()
{
    const bool halted = haltFileSend();
    clearCurrentSendTrackers();
    emit fileTransferComplete();
    emit fileTransferFailed();
    if (!halted) {
        // Too late for the marker: the frame cannot be ended in step any more.
        qWarning().noquote() << "ZqNetHostConnection(" + hostAddressString()
                + "): file frame cannot be ended, closing the connection";
        forceDisconnect();
    }
}

bool ZqNetHostConnection::haltFileSend()
{
    // Always the whole marker: a receiver that looks only at the end of one
    // read would miss a marker completed from file bytes that began it.
    if (currentSendBytesRemaining < quint64(FileStopMarker.size()))
        return false;
    socket->write(FileStopMarker);
    return true;
}

bool ZqNetHostConnection::cancelFileSend(QString localFilePath, QString remoteFilePath)
{
    const QPair<QString, QString> pair(localFilePath, remoteFilePath);
    const int queued = fileSendQueue.indexOf(pair);
    if (queued >= 0) {
        fileSendQueue.removeAt(queued);
        qDebug("ZqNetHostConnection::cancelFileSend: Removed entry from outgoing queue.");
        return true;
    }
    if (currentSendMessageType != ZqMessage_FileDataMessage || currentSendFilePaths != pair)
        return false;
    if (currentSendBytesRemaining < quint64(FileStopMarker.size())) {
        qDebug("ZqNetHostConnection::cancelFileSend: too few bytes left to halt; the file finishes.");
        return false;
    }
    qWarning("ZqNetHostConnection::cancelFileSend: Halting in-progress file send.");
    haltFileSend();
    clearCurrentSendTrackers();
    return true;
}

void ZqNetHostConnection::updateCurrentSendPercentage()
{
    if (currentSendMessageSize == 0)
        return;
    const uint percent
        = uint((1.0 - double(currentSendBytesRemaining) / double(currentSendMessageSize)) * 100.0);
    if (percent == currentSendPercent)
        return;
    currentSendPercent = percent;
    qDebug().noquote() << "ZqNetHostConnection::updateCurrentSendPercentage " + QString::number(percent);
    if (currentSendMessageType == ZqMessage_FileDataMessage)
        emit filePercentileComplete(percent);
}

void ZqNetHostConnection::updateCurrentReceivePercentStats()
{
    const uint percent = currentReceiveMessageSize == 0
        ? 0
        : uint(double(currentReceiveMessageBytesReceived) / double(currentReceiveMessageSize) * 100.0);
    if (percent == currentReceivePercent)
        return;
    currentReceivePercent = percent;
    if (currentReceiveMessageType == ZqMessage_FileDataMessage && !currentReceiveDiscarding) {
        emit filePercentileComplete(percent);
        qInfo().noquote() << "ZqNetHostConnection: File Transfer From: " + hostAddressString() + " %"
                + QString::number(percent);
    }
}

bool ZqNetHostConnection::handleFileReceiveStep()
{
    if (receiveHeldMarkerBytes > 0)
        return resolveHeldMarkerStart();
    if (currentReceiveMessageBytesReceived == 0) {
        if (socket->bytesAvailable() < FileDataPathBlockSize)
            return false;
        const QByteArray block = socket->read(FileDataPathBlockSize);
        currentRemoteFilePath = pathFromField(block.left(PathFieldSize));
        currentLocalFilePath = pathFromField(block.mid(PathFieldSize));
        currentReceiveMessageBytesReceived = FileDataPathBlockSize;
        receiveStopScan = FileStopScan();
        // The header and path block are held to the frame deadline; the file's
        // bytes go to disk, but still have to keep coming.
        fileProgressMark = currentReceiveMessageBytesReceived;
        if (frameDeadline_MS > 0)
            frameDeadlineTimer.start(writeStallLimit());
        beginFileReceive();
    } else {
        const qint64 wanted
            = qint64(qMin<quint64>(currentReceiveMessageSize - currentReceiveMessageBytesReceived,
                quint64(socket->bytesAvailable())));
        if (wanted <= 0)
            return false;
        // Bytes after a marker belong to the next frame: they go back unread.
        socket->startTransaction();
        const QByteArray data = socket->read(wanted);
        const qint64 stop = receiveStopScan.feed(data.constData(), data.size());
        if (stop >= 0) {
            socket->rollbackTransaction();
            socket->skip(stop);
            // File bytes that ended like the marker's start make it show up
            // early; the rest of the marker follows as whole words.
            receiveMarkerEchoBytes = FileStopMarker.size() - FileStopWordSize;
            peerWarnings.warn("cancelled", QStringLiteral("File transfer cancelled"));
            currentRemoteFilePath.clear();
            currentLocalFilePath.clear();
            clearCurrentReceiveTrackers();
            return true;
        }
        socket->commitTransaction();
        QString writeError;
        if (!currentReceiveDiscarding
            && !ZqFileCopyWorker::writeAll(
                currentReceiveFile.handle(), data.constData(), data.size(), writeError)) {
            if (peerWarnings.warn("write error",
                    "ZqNetHostConnection::FileRecieve(" + hostAddressString() + ") Error", QtCriticalMsg)) {
                qDebug().noquote() << "   buffsize: " + QString::number(data.size());
                qWarning().noquote() << "   errorstring: " + writeError;
                qDebug().noquote() << "   isOpen: " + QString(currentReceiveFile.isOpen() ? "true" : "false");
                qDebug().noquote() << "   currentReceiveMessageBytesReceived: "
                        + QString::number(currentReceiveMessageBytesReceived);
                qDebug().noquote() << "   currentReceiveMessageSize: "
                        + QString::number(currentReceiveMessageSize);
            }
            failFileReceive();
        }
        currentReceiveMessageBytesReceived += quint64(data.size());
    }
    if (currentReceiveMessageBytesReceived == currentReceiveMessageSize) {
        // A sender halts a file with the whole marker even when fewer file bytes were
        // left, so a marker may start in the frame's last bytes and run on past them.
        // 100 % is told only once that is settled: a cancel never reaches it.
        receiveHeldMarkerBytes = markerStartAtFrameEnd();
        if (receiveHeldMarkerBytes == 0)
            finishHeldFileReceive();
        return true;
    }
    updateCurrentReceivePercentStats();
    return true;
}

void ZqNetHostConnection::finishHeldFileReceive()
{
    receiveHeldMarkerBytes = 0;
    updateCurrentReceivePercentStats();
    finishFileReceive();
}

int ZqNetHostConnection::markerStartAtFrameEnd() const
{
    const QByteArray& tail = receiveStopScan.tail;
    for (int length = qMin(tail.size(), FileStopMarker.size() - 1); length > 0; --length) {
        if (tail.endsWith(QByteArray::fromRawData(FileStopMarker.constData(), length)))
            return length;
    }
    return 0;
}

bool ZqNetHostConnection::resolveHeldMarkerStart()
{
    const QByteArray rest = FileStopMarker.mid(receiveHeldMarkerBytes);
    const QByteArray next = socket->peek(rest.size());
    if (!rest.startsWith(next)) {
        // Not the marker: the held bytes were the file's own.
        finishHeldFileReceive();
        return true;
    }
    if (next.size() < rest.size())
        return false;
    socket->skip(rest.size());
    // Held file bytes that began like the marker make the rest of it follow as whole words.
    receiveMarkerEchoBytes = receiveHeldMarkerBytes / FileStopWordSize * FileStopWordSize;
    peerWarnings.warn("cancelled", QStringLiteral("File transfer cancelled"));
    currentRemoteFilePath.clear();
    currentLocalFilePath.clear();
    clearCurrentReceiveTrackers();
    return true;
}

void ZqNetHostConnection::beginFileReceive()
{
    QString reason;
    const QString destination = receiveDestination(currentRemoteFilePath, reason);
    if (destination.isEmpty()) {
        peerWarnings.warn("refused file",
            "ZqNetHostConnection::handleAvailableBytes: refusing file \"" + currentRemoteFilePath + "\" from "
                + hostAddressString() + ": " + reason);
        currentReceiveDiscarding = true;
        emit fileTransferFailed();
        return;
    }
    currentRemoteFilePath = destination;
    if (!openReceiveTempFile()) {
        peerWarnings.warn("temporary file", "fileLocalPath: " + currentLocalFilePath);
        currentReceiveDiscarding = true;
        emit fileTransferFailed();
        return;
    }
    emit fileStartReceive(currentLocalFilePath, currentRemoteFilePath);
}

QString ZqNetHostConnection::receiveDestination(const QString& remotePath, QString& reason) const
{
    if (fileReceiveRoot.isEmpty()) {
        reason = QStringLiteral("this connection takes no files");
        return QString();
    }
    const QString root = QFileInfo(fileReceiveRoot).canonicalFilePath();
    const QStringList parts = remotePath.split(QLatin1Char('/'));
    if (root.isEmpty()) {
        reason = QStringLiteral("the receive folder is missing");
    } else if (remotePath.isEmpty() || remotePath.startsWith(QLatin1Char('/'))) {
        reason = QStringLiteral("not a relative path");
    } else if (parts.contains(QStringLiteral(".."))) {
        reason = QStringLiteral("\"..\" in the path");
    } else if (parts.last().isEmpty() || parts.last() == QLatin1String(".")) {
        reason = QStringLiteral("no file name");
    } else {
        const QString destination = root + QLatin1Char('/') + QDir::cleanPath(remotePath);
        const QFileInfo info(destination);
        const QString target = info.isSymLink() ? info.canonicalFilePath() : ZqPaths::resolved(destination);
        if (target.isEmpty() || !ZqPaths::isWithin(target, root) || target == root)
            reason = QStringLiteral("it leads out of the receive folder");
        else if (info.isDir())
            reason = QStringLiteral("it is a folder");
        else
            return destination;
    }
    return QString();
}

bool ZqNetHostConnection::openReceiveTempFile()
{
    const QString folder = takeReceiveFolder(tempDirectory);
    if (folder.isEmpty()) {
        peerWarnings.warn("temporary folder",
            "ZqNetHostConnection::handleAvailableBytes: warning, unable to open file: \"" + tempDirectory
                + "/zqreceive-*\" for writing! " + QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (openReceiveTempFileIn(folder))
        return true;
    releaseReceiveFolder(folder);
    return false;
}

bool ZqNetHostConnection::openReceiveTempFileIn(const QString& folder)
{
    const QString peer = hostAddressString();
    QString base = currentLocalFilePath.mid(currentLocalFilePath.lastIndexOf(QLatin1Char('/')) + 1);
    // Room for "_<peer>_<counter>.tmp" within one file name.
    base = fittingUtf8(base, NameMax - peer.toUtf8().size() - 16);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString path = folder + QLatin1Char('/') + base + QLatin1Char('_') + peer + QLatin1Char('_')
            + QString::number(uniqueTempFileTagId++) + QStringLiteral(".tmp");
        // Exclusive: a name taken, or a link planted there, is never written through.
        const int fd = ::open(
            QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (!currentReceiveFile.open(
                    fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
                ::close(fd);
                QFile::remove(path);
                break;
            }
            currentReceiveTempPath = path;
            return true;
        }
        if (errno != EEXIST) {
            peerWarnings.warn("temporary file open",
                "ZqNetHostConnection::handleAvailableBytes: warning, unable to open file: \"" + path
                    + "\" for writing!");
            return false;
        }
    }
    peerWarnings.warn("temporary file name",
        "ZqNetHostConnection::handleAvailableBytes: warning, unable to open file: \"" + folder + "/" + base
            + "_*.tmp\" for writing!");
    return false;
}

void ZqNetHostConnection::failFileReceive()
{
    // The rest of the frame is still read, so that the framing holds.
    currentReceiveFile.close();
    removeReceiveTempFile(currentReceiveTempPath);
    currentReceiveTempPath.clear();
    currentReceiveDiscarding = true;
    emit fileTransferComplete();
    emit fileTransferFailed();
}

void ZqNetHostConnection::finishFileReceive()
{
    const QString localFilePath = currentLocalFilePath;
    const QString remoteFilePath = currentRemoteFilePath;
    const QString tempFilePath = currentReceiveTempPath;
    const bool received = !currentReceiveDiscarding;
    currentReceiveFile.close();
    currentLocalFilePath.clear();
    currentRemoteFilePath.clear();
    // The room the frame took for its copy goes to the copy.
    receiveHoldsCopyRoom = !received && receiveHoldsCopyRoom;
    // Closed above, so the tracker keeps the file for its copy.
    clearCurrentReceiveTrackers();
    // A marker right after the whole file (a halt that came too late) is no header.
    receiveMarkerEchoBytes = FileStopMarker.size();
    if (!received)
        return;
    // Copies run one after another on the connection's one copier thread.
    pendingLocalCopies.append({ nullptr, localFilePath, tempFilePath, remoteFilePath });
    if (pendingLocalCopies.size() == 1)
        startNextLocalCopy();
}

QString ZqNetHostConnection::receiveRootForCopy() const
{
    // The destination was checked when the frame began; a folder on its way
    // may have been swapped for a link since.
    const QString root = QFileInfo(fileReceiveRoot).canonicalFilePath();
    return root.isEmpty() ? fileReceiveRoot : root;
}

void ZqNetHostConnection::startNextLocalCopy()
{
    const QPointer<ZqNetHostConnection> self(this);
    while (self && !pendingLocalCopies.isEmpty() && !pendingLocalCopies.first().copier) {
        if (!localCopier) {
            // The copier replaces an existing destination only with a complete copy.
            localCopier = new ZqFileCopier(true);
            connect(localCopier, &ZqFileCopier::copyComplete, this,
                &ZqNetHostConnection::OnLocalFileCopyComplete);
            connect(
                localCopier, &ZqFileCopier::copyFailed, this, &ZqNetHostConnection::OnLocalFileCopyFailed);
        }
        PendingLocalCopy& next = pendingLocalCopies.first();
        localCopier->setOriginFile(next.tempFilePath);
        localCopier->setDestinationFile(next.remoteFilePath);
        localCopier->setDestinationRoot(receiveRootForCopy());
        // The temporary file is read as it is, never through a link put in its place.
        localCopier->setFollowOriginLink(false);
        next.copier = localCopier;
        if (localCopier->copy())
            return;
        qDebug("ZqNetHostConnection:: Error Copying temporary transfer file");
        removeReceiveTempFile(pendingLocalCopies.takeFirst().tempFilePath);
        releaseCopyRoom();
        emit fileTransferComplete();
        if (self)
            emit fileTransferFailed();
    }
    // Idle: the copier's thread goes until the next file.
    if (self && pendingLocalCopies.isEmpty() && localCopier) {
        localCopier->deleteLater();
        localCopier = nullptr;
    }
}

bool ZqNetHostConnection::takePendingCopy(ZqFileCopier* copier, PendingLocalCopy* done)
{
    if (pendingLocalCopies.isEmpty() || !copier || pendingLocalCopies.first().copier != copier)
        return false;
    *done = pendingLocalCopies.takeFirst();
    removeReceiveTempFile(done->tempFilePath);
    releaseCopyRoom();
    return true;
}

void ZqNetHostConnection::OnLocalFileCopyComplete(ZqFileCopier* copier)
{
    PendingLocalCopy done;
    if (!takePendingCopy(copier, &done))
        return;
    const QPointer<ZqNetHostConnection> self(this);
    emit fileReceived(done.localFilePath, done.remoteFilePath);
    if (self)
        emit fileTransferComplete();
    if (self)
        startNextLocalCopy();
    if (self)
        resumeReading();
}

void ZqNetHostConnection::OnLocalFileCopyFailed(ZqFileCopier* copier, QString failString)
{
    peerWarnings.warn(
        "copy failed", "ZqNetHostConnection::OnLocalFileCopyFailed - failString =" + failString);
    PendingLocalCopy done;
    if (!takePendingCopy(copier, &done))
        return;
    const QPointer<ZqNetHostConnection> self(this);
    emit fileTransferComplete();
    if (self)
        emit fileTransferFailed();
    if (self)
        startNextLocalCopy();
    if (self)
        resumeReading();
}

bool ZqNetHostConnection::takeCopyRoom()
{
    if (pendingLocalCopies.size() >= MaxWaitingLocalCopies || !ZqLeftoverCopies::reserve(connectionNumber)) {
        pauseReading();
        return false;
    }
    receiveHoldsCopyRoom = true;
    resumeReading();
    return true;
}

void ZqNetHostConnection::releaseCopyRoom() { ZqLeftoverCopies::release(1); }

void ZqNetHostConnection::pauseReading()
{
    if (readPaused)
        return;
    readPaused = true;
    // This side stopped reading: the peer is not idle meanwhile.
    watchDogTimer.stop();
    // Nothing more is taken from the kernel; TCP holds the rest at the sender.
    socket->setReadBufferSize(qMax<qint64>(1, socket->bytesAvailable()));
}

void ZqNetHostConnection::resumeReading()
{
    if (!readPaused || isDisconnected)
        return;
    readPaused = false;
    socket->setReadBufferSize(ReadBufferSize);
    watchDogTimer.start();
    scheduleReceivePass();
}

bool ZqNetHostConnection::skipFileStopEcho()
{
    while (receiveMarkerEchoBytes > 0) {
        if (socket->bytesAvailable() < FileStopWordSize)
            return false;
        // No header starts with these bytes: as a length they are far beyond any frame.
        if (socket->peek(FileStopWordSize) != FileStopMarker.left(FileStopWordSize)) {
            receiveMarkerEchoBytes = 0;
            break;
        }
        socket->skip(FileStopWordSize);
        receiveMarkerEchoBytes -= FileStopWordSize;
    }
    return true;
}

void ZqNetHostConnection::abandonFileTransfers()
{
    // A whole frame whose last bytes were held: no marker followed them.
    if (receiveHeldMarkerBytes > 0)
        finishHeldFileReceive();
    receiveMarkerEchoBytes = 0;
    const bool sending = currentSendMessageType == ZqMessage_FileDataMessage;
    const bool receiving = currentReceiveMessageType == ZqMessage_FileDataMessage && !currentReceiveDiscarding
        && currentReceiveFile.isOpen();
    currentLocalFilePath.clear();
    currentRemoteFilePath.clear();
    clearCurrentSendTrackers();
    clearCurrentReceiveTrackers();
    for (int i = 0; i < int(sending) + int(receiving); ++i) {
        emit fileTransferComplete();
        emit fileTransferFailed();
    }
}
