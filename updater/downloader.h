#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QWidget;

// Downloads the installer into a private folder under the temporary folder,
// reports progress with short texts, and opens the saved file with the
// desktop's default handler. One instance serves the whole process.
class Downloader : public QObject {
    Q_OBJECT
public:
    // The parent is ignored: the object never has one.
    explicit Downloader(QWidget *parent = nullptr);
    ~Downloader() override;

    // Starts over: a download still running is aborted and reports nothing.
    // Ends in exactly one downloadFinished or downloadFileNotFound.
    void startDownload(const QUrl &url);
    // Aborts the running download, which then reports downloadFileNotFound.
    void cancelDownload();
    // Opens the last saved installer; false (and downloadFileNotFound when
    // nothing was saved) if that is not possible.
    bool openDownload();
    bool isInstallerReady() const;
    // Path of the last saved installer; empty until one was saved.
    QString filePath() const { return m_filePath; }

    // Two decimals, halves away from zero.
    static float round(const float &input);
    // "%1 bytes" / "%1 KB" / "%1 MB"; the total is written as a general-format
    // floating-point number, the received count as an integer.
    static QString totalSizeText(qint64 total);
    static QString receivedSizeText(qint64 received);
    // Estimated duration of the whole download from the average speed so far;
    // empty when no estimate is possible yet.
    static QString timeRemainingText(qint64 received, qint64 total, qint64 elapsedSeconds);

signals:
    void downloadProgressUpdate(qint64 received, qint64 total, QString sizeReceived, QString sizeTotal,
                                QString timeRemaining);
    void downloadFinished(QString url, QString filepath);
    void downloadFileNotFound(QString url);

private slots:
    void updateProgress(qint64 received, qint64 total);
    void onDownloadFinished();
    void onReadyRead();

private:
    void dropReply();
    bool openSaveFile();

    QUrl m_url;
    qint64 m_startTime = 0; // seconds since the epoch
    QString m_filePath;
    QNetworkReply *m_reply = nullptr;
    QNetworkAccessManager *m_manager;

    std::unique_ptr<QSaveFile> m_file; // the installer being written
    QString m_saveDir; // private folder, made on first use
    qint64 m_bytesWritten = 0;
    bool m_failed = false;
};
