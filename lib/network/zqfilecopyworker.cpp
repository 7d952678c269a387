#include "zqfilecopyworker.h"

#include "zqfilesystemutils.h"

#include <QDebug>
#include <QFileInfo>

ZqFileCopyWorker::ZqFileCopyWorker(
    QString originFile, QString destinationFile, bool makeDestinationDirectories, QObject* parent)
    : QObject(parent)
    , sourceFile(originFile, this)
    , destinationFile(destinationFile, this)
    , makeDestinationDirectories(makeDestinationDirectories)
{
}

ZqFileCopyWorker::~ZqFileCopyWorker() = default;

void ZqFileCopyWorker::setCancelled() { cancelled = true; }

void ZqFileCopyWorker::discardDestination()
{
    if (destinationFile.isOpen()) {
        destinationFile.cancelWriting();
        destinationFile.commit(); // removes the temporary file
    }
    sourceFile.close();
}

void ZqFileCopyWorker::fail(const QString& errorString)
{
    discardDestination();
    emit copyFailed(errorString);
}

void ZqFileCopyWorker::Copy()
{
    if (cancelled) {
        qDebug("ZqFileCopyWorker: Copy Process cancelled");
        cancelled = false;
        emit copyCancelled();
        return;
    }
    const QString destinationName = destinationFile.fileName();
    if (QFileInfo::exists(destinationName))
        qInfo().noquote() << "ZqFileCopyWorker: removing existing file " + destinationName;
    const qint64 size = sourceFile.size();
    if (makeDestinationDirectories)
        ZqFileSystemUtils::CreateDirectory(QFileInfo(destinationName).absolutePath());

    if (!destinationFile.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qWarning().noquote() << "ZqFileCopyWorker: Copy Failed. Failed to open destination, Error String: "
                + destinationFile.errorString();
        qDebug().noquote() << "DestinationFile:" + destinationName;
        emit copyFailed(destinationFile.errorString());
        return;
    }
    if (!sourceFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qWarning().noquote() << "ZqFileCopyWorker: Copy Failed. Failed to open source, Error String: "
                + sourceFile.errorString();
        fail(sourceFile.errorString());
        return;
    }

    // Never more than the size taken at the start: a growing source is cut
    // there, and an empty one gives an empty copy without a division. The
    // disk is read and written in blocks of many chunks; progress and the
    // cancel flag still go chunk by chunk.
    QByteArray block(int(LocalCopyChunkSize * 256), Qt::Uninitialized);
    qint64 total = 0;
    while (total < size) {
        const qint64 got = sourceFile.read(block.data(), qMin(qint64(block.size()), size - total));
        if (got <= 0) {
            const QString error = got < 0
                ? sourceFile.errorString()
                : QStringLiteral("source ended after %1 of %2 bytes").arg(total).arg(size);
            qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to read data, Error String: "
                    + error;
            fail(error);
            return;
        }
        if (destinationFile.write(block.constData(), got) != got) {
            const QString error = destinationFile.errorString();
            qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to read data, Error String: "
                    + error;
            fail(error);
            return;
        }
        for (const qint64 end = total + got; total < end;) {
            total = qMin(end, total + LocalCopyChunkSize);
            const int percent = total == size ? 100 : qMin(99, int(double(total) / double(size) * 100.0));
            if (percent > reportedPercent) {
                reportedPercent = percent;
                if (percent >= 100)
                    break;
                emit percentComplete(percent);
            }
            if (cancelled) {
                qDebug("ZqFileCopyWorker: Copy Process cancelled");
                discardDestination();
                reportedPercent = 0;
                cancelled = false;
                emit copyCancelled();
                return;
            }
        }
    }
    sourceFile.close();
    // A full disk may fail only when the last buffered bytes go out, which
    // commit() alone does not always report.
    if (!destinationFile.flush()) {
        const QString error = destinationFile.errorString();
        qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to write data, Error String: "
                + error;
        fail(error);
        return;
    }
    if (!destinationFile.commit()) {
        const QString error = destinationFile.errorString();
        qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to write data, Error String: "
                + error;
        emit copyFailed(error);
        return;
    }
    reportedPercent = 100;
    emit percentComplete(reportedPercent);
}
