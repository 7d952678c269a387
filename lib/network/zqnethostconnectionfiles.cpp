// The file half of ZqNetHostConnection: file frames, the cancel marker and the copy
// into place. Until it is built, file frames are consumed and dropped whole so that
// the framing stays intact, and nothing can be sent.
#include "zqnethostconnection.h"

#include <QDebug>

using namespace ZqMessageTypes;

const QByteArray ZqNetHostConnection::FileStopMarker
    = QByteArrayLiteral("filestopfilestopfilestopfilestopfilestopfilestop");

quint32 ZqNetHostConnection::uniqueTempFileTagId = 0;

bool ZqNetHostConnection::dataContainsFileStop(const QByteArray& data)
{
    return data.endsWith(FileStopMarker);
}

bool ZqNetHostConnection::sendFile(QString localFilePath, QString)
{
    qWarning().noquote() << "ZqNetHostConnection::sendFile: " + localFilePath
            + " not sent, file transfer is not available";
    return false;
}

bool ZqNetHostConnection::cancelFileSend(QString, QString) { return false; }

bool ZqNetHostConnection::handleFileSendQueue() { return false; }

bool ZqNetHostConnection::sendNextFileChunk()
{
    clearCurrentSendTrackers();
    return true;
}

bool ZqNetHostConnection::handleFileReceiveStep()
{
    const qint64 wanted = qint64(currentReceiveMessageSize - currentReceiveMessageBytesReceived);
    const qint64 skipped = socket->skip(qMin(wanted, socket->bytesAvailable()));
    if (skipped <= 0)
        return false;
    currentReceiveMessageBytesReceived += quint64(skipped);
    if (currentReceiveMessageBytesReceived == currentReceiveMessageSize)
        clearCurrentReceiveTrackers();
    return true;
}

void ZqNetHostConnection::updateCurrentSendPercentage() { }

void ZqNetHostConnection::updateCurrentReceivePercentStats() { }

void ZqNetHostConnection::OnLocalFileCopyComplete(ZqFileCopier*) { }

void ZqNetHostConnection::OnLocalFileCopyFailed(ZqFileCopier*, QString) { }
