#include "zqfilecopyworker.h"

#include "zqfilesystemutils.h"

#include <QDebug>
#include <QFileInfo>

ZqFileCopyWorker::ZqFileCopyWorker(
    QString originFile, QString destinationFile, bool makeDestinationDirectories, QObject* parent)
    : QObject(parent)
    , m_sourceFile(originFile, this)
    , m_destinationFile(destinationFile, this)
    , m_makeDestinationDirectories(makeDestinationDirectories)
{
}

ZqFileCopyWorker::~ZqFileCopyWorker() = default;

void ZqFileCopyWorker::setCancelled() { m_cancelled = true; }

void ZqFileCopyWorker::discardDestination()
{
    if (m_destinationFile.isOpen()) {
        m_destinationFile.cancelWriting();
        m_destinationFile.commit(); // removes the temporary file
    }
    m_sourceFile.close();
}

void ZqFileCopyWorker::fail(const QString& errorString)
{
    discardDestination();
    emit copyFailed(errorString);
}

void ZqFileCopyWorker::Copy()
{
    if (m_cancelled) {
        qDebug("ZqFileCopyWorker: Copy Process cancelled");
        m_cancelled = false;
        emit copyCancelled();
        return;
    }
    const QString destinationName = m_destinationFile.fileName();
    if (QFileInfo::exists(destinationName))
        qInfo().noquote() << "ZqFileCopyWorker: replacing existing file " + destinationName;
    const qint64 size = m_sourceFile.size();
    if (m_makeDestinationDirectories)
        ZqFileSystemUtils::CreateDirectory(QFileInfo(destinationName).absolutePath());

    if (!m_destinationFile.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qWarning().noquote() << "ZqFileCopyWorker: Copy Failed. Failed to open destination, Error String: "
                + m_destinationFile.errorString();
        qDebug().noquote() << "DestinationFile:" + destinationName;
        emit copyFailed(m_destinationFile.errorString());
        return;
    }
    if (!m_sourceFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qWarning().noquote() << "ZqFileCopyWorker: Copy Failed. Failed to open source, Error String: "
                + m_sourceFile.errorString();
        fail(m_sourceFile.errorString());
        return;
    }

    // Never more than the size taken at the start: a growing source is cut
    // there, and an empty one gives an empty copy without a division. The
    // disk is read and written in blocks of many chunks; progress and the
    // cancel flag still go chunk by chunk.
    QByteArray block(int(LocalCopyChunkSize * 256), Qt::Uninitialized);
    qint64 total = 0;
    while (total < size) {
        const qint64 got = m_sourceFile.read(block.data(), qMin(qint64(block.size()), size - total));
        if (got <= 0) {
            const QString error = got < 0
                ? m_sourceFile.errorString()
                : QStringLiteral("source ended after %1 of %2 bytes").arg(total).arg(size);
            qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to read data, Error String: "
                    + error;
            fail(error);
            return;
        }
        if (m_destinationFile.write(block.constData(), got) != got) {
            const QString error = m_destinationFile.errorString();
            qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to read data, Error String: "
                    + error;
            fail(error);
            return;
        }
        for (const qint64 end = total + got; total < end;) {
            total = qMin(end, total + LocalCopyChunkSize);
            const int percent = total == size ? 100 : qMin(99, int(double(total) / double(size) * 100.0));
            if (percent > m_reportedPercent) {
                m_reportedPercent = percent;
                if (percent >= 100)
                    break;
                emit percentComplete(percent);
            }
            if (m_cancelled) {
                qDebug("ZqFileCopyWorker: Copy Process cancelled");
                discardDestination();
                m_reportedPercent = 0;
                m_cancelled = false;
                emit copyCancelled();
                return;
            }
        }
    }
    m_sourceFile.close();
    // A full disk may fail only when the last buffered bytes go out, which
    // commit() alone does not always report.
    if (!m_destinationFile.flush()) {
        const QString error = m_destinationFile.errorString();
        qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to write data, Error String: "
                + error;
        fail(error);
        return;
    }
    if (!m_destinationFile.commit()) {
        const QString error = m_destinationFile.errorString();
        qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to write data, Error String: "
                + error;
        emit copyFailed(error);
        return;
    }
    m_reportedPercent = 100;
    emit percentComplete(m_reportedPercent);
}
