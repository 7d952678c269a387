#include "zqfilecopyworker.h"

#include "zqfilesystemutils.h"

#include <QDebug>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

} // namespace

ZqFileCopyWorker::ZqFileCopyWorker(
    QString originFile, QString destinationFile, bool makeDestinationDirectories, QObject* parent)
    : QObject(parent)
    , sourceFile(originFile, this)
    , destinationFile(this)
    , makeDestinationDirectories(makeDestinationDirectories)
    , destinationName(destinationFile)
{
}

ZqFileCopyWorker::~ZqFileCopyWorker() { discardDestination(); }

void ZqFileCopyWorker::setCancelled() { cancelled = true; }

bool ZqFileCopyWorker::openSource(QString& error)
{
    // Non-blocking, so that opening a pipe never waits for a writer.
    const int fd = ::open(QFile::encodeName(sourceFile.fileName()).constData(),
        O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followOriginLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        error = errnoText(errno);
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = QStringLiteral("%1 is not a regular file").arg(sourceFile.fileName());
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!sourceFile.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        error = sourceFile.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

int ZqFileCopyWorker::openDestinationFolder(QString& error)
{
    const QFileInfo destination(destinationName);
    if (destinationRoot.isEmpty()) {
        if (makeDestinationDirectories)
            ZqFileSystemUtils::CreateDirectory(destination.absolutePath());
        const int fd = ::open(
            QFile::encodeName(destination.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            error = errnoText(errno);
        return fd;
    }
    const QString prefix = destinationRoot + QLatin1Char('/');
    const QStringList steps = destinationName.startsWith(prefix)
        ? destinationName.mid(prefix.size()).split(QLatin1Char('/'))
        : QStringList();
    if (steps.isEmpty() || steps.contains(QString()) || steps.contains(QStringLiteral(".."))
        || steps.contains(QStringLiteral("."))) {
        error = QStringLiteral("%1 does not lie below %2").arg(destinationName, destinationRoot);
        return -1;
    }
    int fd = ::open(QFile::encodeName(destinationRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; fd >= 0 && i + 1 < steps.size(); ++i) {
        const QByteArray step = QFile::encodeName(steps.at(i));
        if (makeDestinationDirectories)
            ::mkdirat(fd, step.constData(), 0777);
        const int next = ::openat(fd, step.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int openError = errno;
        ::close(fd);
        fd = next;
        errno = openError;
    }
    if (fd < 0) {
        error = errno == ELOOP || errno == ENOTDIR
            ? QStringLiteral("%1 leads out of %2 through a link or a file")
                  .arg(destinationName, destinationRoot)
            : errnoText(errno);
    }
    return fd;
}

bool ZqFileCopyWorker::openDestination(QString& error)
{
    destinationFolder = openDestinationFolder(error);
    if (destinationFolder < 0)
        return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = ".zqcopy-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::openat(
            destinationFolder, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            error = errnoText(errno);
            return false;
        }
        temporaryName = name;
        if (!destinationFile.open(
                fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            error = destinationFile.errorString();
            ::close(fd);
            return false;
        }
        return true;
    }
    error = QStringLiteral("no free temporary name");
    return false;
}

bool ZqFileCopyWorker::writeAll(int fd, const char* data, qint64 size, QString& error)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = errnoText(written < 0 ? errno : ENOSPC);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool ZqFileCopyWorker::commitDestination(QString& error)
{
    const QByteArray name = QFile::encodeName(QFileInfo(destinationName).fileName());
    if (::fdatasync(destinationFile.handle()) != 0
        || ::renameat(destinationFolder, temporaryName.constData(), destinationFolder, name.constData())
            != 0) {
        error = errnoText(errno);
        return false;
    }
    temporaryName.clear();
    discardDestination();
    return true;
}

void ZqFileCopyWorker::discardDestination()
{
    destinationFile.close();
    if (destinationFolder >= 0) {
        if (!temporaryName.isEmpty())
            ::unlinkat(destinationFolder, temporaryName.constData(), 0);
        ::close(destinationFolder);
    }
    destinationFolder = -1;
    temporaryName.clear();
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
    if (QFileInfo::exists(destinationName))
        qInfo().noquote() << "ZqFileCopyWorker: removing existing file " + destinationName;

    QString error;
    // The source first: a pipe or a device fails before anything is written.
    if (!openSource(error)) {
        qWarning().noquote() << "ZqFileCopyWorker: Copy Failed. Failed to open source, Error String: "
                + error;
        fail(error);
        return;
    }
    const qint64 size = sourceFile.size();
    if (!openDestination(error)) {
        qWarning().noquote() << "ZqFileCopyWorker: Copy Failed. Failed to open destination, Error String: "
                + error;
        qDebug().noquote() << "DestinationFile:" + destinationName;
        fail(error);
        return;
    }

    // Read to the end of the file whatever size it reports: a file of the
    // proc file system reports 0 and still has content. The disk is read and
    // written in blocks of many chunks; progress and the cancel flag still go
    // chunk by chunk, and progress holds once the reported size is reached.
    QByteArray block(int(LocalCopyChunkSize * 256), Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 got = sourceFile.read(block.data(), block.size());
        if (got == 0)
            break;
        if (got < 0) {
            error = sourceFile.errorString();
            qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to read data, Error String: "
                    + error;
            fail(error);
            return;
        }
        if (!writeAll(destinationFile.handle(), block.constData(), got, error)) {
            qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to write data, Error String: "
                    + error;
            fail(error);
            return;
        }
        for (const qint64 end = total + got; total < end;) {
            total = qMin(end, total + LocalCopyChunkSize);
            const int percent = total >= size ? 0 : int(double(total) / double(size) * 100.0);
            if (percent > reportedPercent) {
                reportedPercent = percent;
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
    if (!commitDestination(error)) {
        qCritical().noquote() << "ZqFileCopyWorker: Copy Failed. failed to write data, Error String: "
                + error;
        fail(error);
        return;
    }
    reportedPercent = 100;
    emit percentComplete(reportedPercent);
}
