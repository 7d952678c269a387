#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

class Downloader;
class Updater;

// QML facade of the update checker. Every instance forwards to one
// process-wide Updater and Downloader, made by the first instance and never
// freed, and relays their answers to QML.
class UpdateHelper : public QObject {
    Q_OBJECT
public:
    explicit UpdateHelper(QObject* parent = nullptr);

    Q_INVOKABLE void checkForUpdate();
    Q_INVOKABLE QString getUpdateVersionNumber();
    Q_INVOKABLE QString getUpdateReleaseNotes();
    // Downloads the offered installer; answers returnDownloadUpdateResponse(false)
    // at once when no update (or no https installer address) is known.
    Q_INVOKABLE void startDownload();
    Q_INVOKABLE bool isInstallerReady();
    Q_INVOKABLE bool launchInstaller();

    // Feed address; read once, when the first instance is made.
    static QString definitionsURL;
    // Running version; set by main before the first instance is made. When it
    // is still empty then, the application's version is taken.
    static QString applicationVersion;
    static bool initialized;
    static Updater* updater;
    static Downloader* downloader;

public slots:
    void checkForUpdateFinished(QString url);
    void downloadUpdateProgress(
        qint64 received, qint64 total, QString sizeReceived, QString sizeTotal, QString timeRemaining);
    void downloadUpdateFinished(QString url, QString filePath);
    void downloadUpdateFileNotFound(QString url);

signals:
    void returnCheckForUpdateResponse(QVariant updateExists);
    void returnDownloadProgressUpdate(
        QVariant received, QVariant total, QVariant sizeReceived, QVariant sizeTotal, QVariant timeRemaining);
    void returnDownloadUpdateResponse(QVariant downloadWasSuccessful);
    void returnDownloadFileNotFound(QString url);
};
