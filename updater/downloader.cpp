#include "downloader.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cmath>

namespace {

bool hasSuccessStatus(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status <= 299;
}

} // namespace

Downloader::Downloader(QWidget *parent)
    : QObject(nullptr)
    , m_manager(new QNetworkAccessManager)
{
    Q_UNUSED(parent)
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

Downloader::~Downloader()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        delete m_reply;
    }
    m_file.reset(); // an unfinished installer is discarded, never committed
    delete m_manager;
}

void Downloader::startDownload(const QUrl &url)
{
    dropReply();
    m_file.reset();
    m_bytesWritten = 0;
    m_failed = false;

    m_url = url;
    m_startTime = QDateTime::currentSecsSinceEpoch();

    // What is saved here gets launched, so it must come over TLS.
    if (url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        emit downloadFileNotFound(url.toString());
        return;
    }

    m_reply = m_manager->get(QNetworkRequest(url));
    connect(m_reply, &QNetworkReply::downloadProgress, this, &Downloader::updateProgress);
    connect(m_reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &Downloader::onDownloadFinished);
}

void Downloader::cancelDownload()
{
    if (m_reply)
        m_reply->abort(); // finishes with an error: reported as not found
}

// A reply that is replaced must not report into the new download.
void Downloader::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

bool Downloader::openSaveFile()
{
    // Error pages and redirect bodies are never written.
    if (!hasSuccessStatus(m_reply))
        return false;

    const QString address = m_reply->url().toString();
    const QString name = address.mid(address.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;

    // A folder of our own (mode 0700, unpredictable name) instead of a fixed
    // name in the shared temporary folder, which another user could pre-empt.
    if (m_saveDir.isEmpty() || !QFileInfo(m_saveDir).isDir()) {
        QTemporaryDir dir;
        if (!dir.isValid())
            return false;
        dir.setAutoRemove(false); // the installer must outlive this process
        m_saveDir = dir.path();
    }

    m_file.reset(new QSaveFile(m_saveDir + QLatin1Char('/') + name));
    if (!m_file->open(QIODevice::WriteOnly)) {
        m_file.reset();
        return false;
    }
    return true;
}

void Downloader::onReadyRead()
{
    const QByteArray chunk = m_reply->readAll();
    if (m_failed)
        return;
    if ((!m_file && !openSaveFile()) || m_file->write(chunk) != chunk.size()) {
        m_failed = true;
        m_file.reset();
        // The rest of a good answer is not wanted. Error answers are left to
        // end by themselves: aborting one makes Qt report a second error.
        if (hasSuccessStatus(m_reply) && m_reply->error() == QNetworkReply::NoError)
            m_reply->abort();
        return;
    }
    m_bytesWritten += chunk.size();
}

void Downloader::onDownloadFinished()
{
    if (!m_failed && m_reply->bytesAvailable() > 0)
        onReadyRead();
    if (!m_reply)
        return; // already finished from within onReadyRead

    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();

    // Only a complete 2xx body counts: an error page, a redirect or a
    // connection that ended early must never be offered as the installer.
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool complete = !m_failed && m_file && reply->error() == QNetworkReply::NoError
        && hasSuccessStatus(reply) && m_bytesWritten > 0
        && (!declared.isValid() || declared.toLongLong() == m_bytesWritten);

    // commit() alone misses a failure to write the last buffered part (a
    // full disk) and would keep a cut-off installer.
    if (complete && m_file->flush() && m_file->commit()) {
        m_filePath = m_file->fileName();
        m_file.reset();
        emit downloadFinished(reply->url().toString(), m_filePath);
        return;
    }
    m_file.reset();
    emit downloadFileNotFound(m_url.toString());
}

bool Downloader::openDownload()
{
    if (m_filePath.isEmpty()) {
        emit downloadFileNotFound(m_url.toString());
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(m_filePath));
}

bool Downloader::isInstallerReady() const
{
    return !m_filePath.isEmpty() && QFile::exists(m_filePath);
}

float Downloader::round(const float &input)
{
    return std::round(input * 100.0f) / 100.0f;
}

QString Downloader::totalSizeText(qint64 total)
{
    if (total < 1024)
        return tr("%1 bytes").arg(total);
    if (total < 1048576)
        return tr("%1 KB").arg(double(round(float(total / 1024))), 0, 'g', 6);
    return tr("%1 MB").arg(double(round(float(total / 1048576))), 0, 'g', 6);
}

QString Downloader::receivedSizeText(qint64 received)
{
    if (received < 1024)
        return tr("%1 bytes").arg(received);
    if (received < 1048576)
        return tr("%1 KB").arg(received / 1024);
    return tr("%1 MB").arg(received / 1048576);
}

QString Downloader::timeRemainingText(qint64 received, qint64 total, qint64 elapsedSeconds)
{
    if (elapsedSeconds <= 0)
        return QString();
    const qint64 speed = received / elapsedSeconds;
    if (speed <= 0)
        return QString();
    // An unknown total (-1) reads as nothing left.
    const qint64 t = qMax<qint64>(total, 0) / speed;
    if (t >= 7201)
        return tr("About %1 hours").arg(qint64(float(t) / 3600.0f + 0.5f));
    if (t >= 61)
        return tr("About %1 minutes").arg(qint64(float(t) / 60.0f + 0.5f));
    return tr("%1 seconds").arg(t);
}

void Downloader::updateProgress(qint64 received, qint64 total)
{
    const qint64 elapsed = QDateTime::currentSecsSinceEpoch() - m_startTime;
    emit downloadProgressUpdate(received, total, receivedSizeText(received), totalSizeText(total),
                                timeRemainingText(received, total, elapsed));
}
