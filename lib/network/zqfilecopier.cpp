#include "zqfilecopier.h"

#include "zqfilecopyworker.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// Also true for two names of one file (a hard link, a link, "./x" and "x").
bool sameFile(const QString& a, const QString& b)
{
    struct stat first, second;
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

} // namespace

ZqFileCopier::ZqFileCopier(bool makeDestinationDirectories, QObject* parent)
    : QObject(parent)
    , m_makeDestinationDirectories(makeDestinationDirectories)
{
    qRegisterMetaType<ZqFileCopier*>();
    workerThread.start(QThread::InheritPriority);
}

ZqFileCopier::~ZqFileCopier()
{
    workerThread.quit();
    workerThread.wait();
}

void ZqFileCopier::setOriginFile(const QString& path) { m_originFile = path; }

void ZqFileCopier::setDestinationFile(const QString& path)
{
    m_destinationFile = path;
    emit destinationExistsChanged(this);
}

bool ZqFileCopier::destinationExists() const { return QFileInfo::exists(m_destinationFile); }

void ZqFileCopier::setMakeDestinationDirectories(bool make)
{
    m_makeDestinationDirectories = make;
    emit makeDestinationDirectoriesChanged();
}

bool ZqFileCopier::copy()
{
    m_percentComplete = 0;
    if (worker) {
        qInfo("ZqFileCopier::copy: Already Currently Copying....");
        return false;
    }
    if (!QFileInfo::exists(m_originFile)) {
        qWarning().noquote() << "ZqFileCopier::copy: originFile " + m_originFile + " Does not exist";
        return false;
    }
    if (m_destinationFile.isEmpty()) {
        qWarning("ZqFileCopier::copy: destinationFile path is empty");
        return false;
    }
    if (sameFile(m_originFile, m_destinationFile)) {
        qWarning().noquote() << "ZqFileCopier::copy: " + m_destinationFile + " is the origin itself";
        return false;
    }
    worker = new ZqFileCopyWorker(m_originFile, m_destinationFile, m_makeDestinationDirectories);
    worker->setDestinationRoot(m_destinationRoot);
    worker->setFollowOriginLink(m_followOriginLink);
    worker->moveToThread(&workerThread);
    connect(&workerThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &ZqFileCopier::deleteWorker, worker, &QObject::deleteLater);
    connect(this, &ZqFileCopier::startCopy, worker, &ZqFileCopyWorker::Copy);
    connect(worker, &ZqFileCopyWorker::percentComplete, this, &ZqFileCopier::onPercentComplete);
    connect(worker, &ZqFileCopyWorker::copyCancelled, this, &ZqFileCopier::onCopyCancelled);
    connect(worker, &ZqFileCopyWorker::copyFailed, this, &ZqFileCopier::onCopyFailed);
    emit startCopy();
    return true;
}

bool ZqFileCopier::cancelCopy()
{
    if (!worker || m_percentComplete > 99)
        return false;
    // Directly, not queued: a queued call would run only after the copy.
    worker->setCancelled();
    return true;
}

void ZqFileCopier::releaseWorker()
{
    // A worker not yet deleted must not take the next copy's start too.
    disconnect(this, &ZqFileCopier::startCopy, worker, nullptr);
    emit deleteWorker();
    // Nor a later deleteWorker(): that emission would race this worker's own
    // deletion on its thread, which leaks the connection's slot in Qt. The
    // call already queued is still delivered.
    disconnect(this, &ZqFileCopier::deleteWorker, worker, nullptr);
    worker = nullptr;
}

void ZqFileCopier::onPercentComplete(int percentComp)
{
    m_percentComplete = percentComp;
    emit percentCompleteChanged(this);
    if (percentComp < 100)
        return;
    releaseWorker();
    emit copyComplete(this);
    m_percentComplete = 0;
}

void ZqFileCopier::onCopyFailed(QString errorString)
{
    qCritical().noquote() << "ZqFileCopier: Copy Failed: " + errorString;
    qDebug().noquote() << "ZqFileCopier: From:" + m_originFile + ", To:" + m_destinationFile;
    releaseWorker();
    m_percentComplete = 0;
    emit copyFailed(this, errorString);
}

void ZqFileCopier::onCopyCancelled()
{
    qWarning("ZqFileCopier: Copy Cancelled");
    releaseWorker();
    m_percentComplete = 0;
    emit copyCancelled();
}
