#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QTimer;
class QWidget;

// Downloads the installer into the user's private folder under the temporary
// folder, reports progress with short texts, and opens the saved file with the
// desktop's default handler. One instance serves the whole process.
class Downloader : public QObject {
    Q_OBJECT
public:
    // The parent is ignored: the object never has one.
    explicit Downloader(QWidget* parent = nullptr);
    ~Downloader() override;

    // Starts over: a download still running is aborted and reports nothing.
    // The previous installer stays until the new one has arrived whole, then
    // it is removed. Ends in exactly one downloadFinished or
    // downloadFileNotFound. Follows at most maxRedirects https redirects;
    // gives up when fewer than lowSpeedLimit bytes arrive within
    // lowSpeedWindowMs, and when the body grows past maxInstallerSize.
    void startDownload(const QUrl& url);
    // Aborts the running download, which then reports downloadFileNotFound.
    void cancelDownload();
    // Opens the last saved installer; false (and downloadFileNotFound when
    // nothing was saved) if that is not possible.
    bool openDownload();
    bool isInstallerReady() const;
    // Path of the last saved installer; empty until one was saved.
    QString filePath() const { return m_filePath; }

    static constexpr int maxRedirects = 5;
    static constexpr qint64 lowSpeedLimit = 1024;
    // 30 s; only tests shorten it.
    static int lowSpeedWindowMs;
    // The feed gives no size, so a body is cut off past its Content-Length or
    // this ceiling (2 GiB), whichever is smaller. Only tests lower it.
    static qint64 maxInstallerSize;
    // What Qt may hold of a body that has not been written to disk yet.
    static constexpr qint64 readBufferSize = 1024 * 1024;
    // The user's own folder (mode 0700) that holds the installer; created on
    // demand. Empty when it cannot be made or is not private.
    static QString saveFolder();

    // Two decimals, halves away from zero.
    static float round(const float& input);
    // "%1 bytes" / "%1 KB" / "%1 MB"; the total is written as a general-format
    // floating-point number, the received count as an integer.
    static QString totalSizeText(qint64 total);
    static QString receivedSizeText(qint64 received);
    // Estimated duration of the whole download from the average speed so far;
    // empty when no estimate is possible yet.
    static QString timeRemainingText(qint64 received, qint64 total, qint64 elapsedSeconds);

signals:
    void downloadProgressUpdate(
        qint64 received, qint64 total, QString sizeReceived, QString sizeTotal, QString timeRemaining);
    void downloadFinished(QString url, QString filepath);
    void downloadFileNotFound(QString url);

private slots:
    void updateProgress(qint64 received, qint64 total);
    void onDownloadFinished();
    void onReadyRead();
    void checkSpeed();

private:
    void dropReply();
    bool openSaveFile();
    void removeOtherInstallers();

    QUrl m_url;
    qint64 m_startTime = 0; // seconds since the epoch
    QString m_filePath;
    QNetworkReply* m_reply = nullptr;
    QNetworkAccessManager* m_manager;

    std::unique_ptr<QSaveFile> m_file; // the installer being written
    qint64 m_bytesWritten = 0;
    qint64 m_bytesReceived = 0;
    qint64 m_receivedAtWindowStart = 0;
    QTimer* m_speedTimer;
    bool m_failed = false;
};
