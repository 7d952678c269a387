#include "updatehelper.h"

#include "buildconfig.h"
#include "downloader.h"
#include "updater.h"

#include <QCoreApplication>
#include <QFile>
#include <QUrl>

QString UpdateHelper::definitionsURL = QStringLiteral(GELV_UPDATE_FEED_URL "/updates.json");
QString UpdateHelper::applicationVersion;
bool UpdateHelper::initialized = false;
Updater* UpdateHelper::updater = nullptr;
Downloader* UpdateHelper::downloader = nullptr;

UpdateHelper::UpdateHelper(QObject* parent)
    : QObject(parent)
{
    if (!initialized) {
        updater = new Updater;
        downloader = new Downloader;
        // An empty running version would make every feed version look newer.
        if (applicationVersion.isEmpty())
            applicationVersion = QCoreApplication::applicationVersion();
        updater->setUrl(definitionsURL);
        updater->setModuleVersion(applicationVersion);
        updater->setNotifyOnFinish(false);
        updater->setNotifyOnUpdate(false);
        initialized = true;
    }
    connect(updater, &Updater::checkingFinished, this, &UpdateHelper::checkForUpdateFinished);
    connect(downloader, &Downloader::downloadProgressUpdate, this, &UpdateHelper::downloadUpdateProgress);
    connect(downloader, &Downloader::downloadFinished, this, &UpdateHelper::downloadUpdateFinished);
    connect(downloader, &Downloader::downloadFileNotFound, this, &UpdateHelper::downloadUpdateFileNotFound);
}

void UpdateHelper::checkForUpdate() { updater->checkForUpdates(); }

QString UpdateHelper::getUpdateVersionNumber() { return updater->latestVersion(); }

QString UpdateHelper::getUpdateReleaseNotes() { return updater->changelog(); }

void UpdateHelper::startDownload()
{
    if (updater->updateAvailable() && !updater->downloadUrl().isEmpty())
        downloader->startDownload(QUrl(updater->downloadUrl()));
    else
        downloadUpdateFinished(QString(), QString());
}

bool UpdateHelper::isInstallerReady() { return downloader->isInstallerReady(); }

bool UpdateHelper::launchInstaller() { return downloader->openDownload(); }

void UpdateHelper::checkForUpdateFinished(QString url)
{
    Q_UNUSED(url)
    emit returnCheckForUpdateResponse(QVariant(updater->updateAvailable()));
}

void UpdateHelper::downloadUpdateProgress(
    qint64 received, qint64 total, QString sizeReceived, QString sizeTotal, QString timeRemaining)
{
    emit returnDownloadProgressUpdate(QVariant(received), QVariant(total), QVariant(sizeReceived),
        QVariant(sizeTotal), QVariant(timeRemaining));
}

void UpdateHelper::downloadUpdateFinished(QString url, QString filePath)
{
    Q_UNUSED(url)
    emit returnDownloadUpdateResponse(QVariant(!filePath.isEmpty() && QFile::exists(filePath)));
}

void UpdateHelper::downloadUpdateFileNotFound(QString url) { emit returnDownloadFileNotFound(url); }
