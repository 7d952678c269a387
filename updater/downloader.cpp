#include "downloader.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool hasSuccessStatus(const QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status <= 299;
}

} // namespace

int Downloader::lowSpeedWindowMs = 30000;
qint64 Downloader::maxInstallerSize = qint64(2) * 1024 * 1024 * 1024;

Downloader::Downloader(QWidget* parent)
    : QObject(nullptr)
    , m_manager(new QNetworkAccessManager)
    , m_speedTimer(new QTimer(this))
{
    Q_UNUSED(parent)
    // Release hosts answer installer addresses with redirects; never to http.
    m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    connect(m_speedTimer, &QTimer::timeout, this, &Downloader::checkSpeed);
}

Downloader::~Downloader()
{
    m_speedTimer->stop();
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        delete m_reply;
    }
    m_file.reset(); // an unfinished installer is discarded, never committed
    delete m_manager;
}

void Downloader::startDownload(const QUrl& url)
{
    dropReply();
    m_file.reset();
    m_bytesWritten = 0;
    m_bytesReceived = 0;
    m_receivedAtWindowStart = 0;
    m_failed = false;

    m_url = url;
    m_startTime = QDateTime::currentSecsSinceEpoch();

    // What is saved here gets launched, so it must come over TLS.
    if (url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        emit downloadFileNotFound(url.toString());
        return;
    }

    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(maxRedirects);
    // When Qt picks the encoding itself it inflates a compressed answer without limit.
    request.setRawHeader("Accept-Encoding", "identity");
    m_reply = m_manager->get(request);
    // Unbounded, Qt's network thread reads a fast endless body into memory
    // far quicker than it can be written out.
    m_reply->setReadBufferSize(readBufferSize);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &Downloader::updateProgress);
    connect(m_reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &Downloader::onDownloadFinished);
    m_speedTimer->start(lowSpeedWindowMs);
}

// Like curl's low-speed limit: a server that stalls, trickles or never ends
// its headers must not hold the download (and the interface) for ever.
void Downloader::checkSpeed()
{
    if (!m_reply) {
        m_speedTimer->stop();
        return;
    }
    if (m_bytesReceived - m_receivedAtWindowStart < lowSpeedLimit) {
        qWarning() << "Downloader: fewer than" << lowSpeedLimit << "bytes arrived in" << lowSpeedWindowMs
                   << "ms, download abandoned:" << m_url.toString();
        m_reply->abort(); // finishes at once, reported as not found
        return;
    }
    m_receivedAtWindowStart = m_bytesReceived;
}

QString Downloader::saveFolder()
{
    const QString path
        = QDir::tempPath() + QStringLiteral("/gelvantrium-installer-") + QString::number(::getuid());
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    // The name is predictable in a shared folder: use it only when it is our
    // own private folder, not a link or another user's folder.
    struct stat info;
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()
        || (info.st_mode & 077) != 0)
        return QString();
    return path;
}

// Only one installer is kept: once a new one is in place, whatever an earlier
// download (of this run or another) left is removed.
void Downloader::removeOtherInstallers()
{
    const QFileInfo kept(m_filePath);
    QDir dir(kept.absolutePath());
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        if (name != kept.fileName())
            dir.remove(name);
}

void Downloader::cancelDownload()
{
    if (m_reply)
        m_reply->abort(); // finishes with an error: reported as not found
}

// A reply that is replaced must not report into the new download.
void Downloader::dropReply()
{
    m_speedTimer->stop();
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
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

    // Asked for uncompressed; a server that compresses anyway sends no installer.
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return false;

    // The name comes from the address's path (never its query), as asked for,
    // not from where a redirect led.
    const QString name = m_url.fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;

    const QString folder = saveFolder();
    if (folder.isEmpty())
        return false;
    m_file.reset(new QSaveFile(folder + QLatin1Char('/') + name));
    if (!m_file->open(QIODevice::WriteOnly)) {
        m_file.reset();
        return false;
    }
    return true;
}

void Downloader::onReadyRead()
{
    const QByteArray chunk = m_reply->readAll();
    m_bytesReceived += chunk.size();
    const QVariant declared = m_reply->header(QNetworkRequest::ContentLengthHeader);
    // Whatever the answer, an error page too, no more than an installer's worth is taken.
    if (m_bytesReceived > maxInstallerSize
        || (declared.isValid() && declared.toLongLong() > maxInstallerSize)) {
        qWarning() << "Downloader: the installer is larger than" << maxInstallerSize
                   << "bytes, download abandoned:" << m_url.toString();
        m_failed = true;
        m_file.reset();
        m_reply->abort(); // finishes at once, reported as not found
        return;
    }
    if (m_failed)
        return;
    const bool beyondLength = declared.isValid() && m_bytesWritten + chunk.size() > declared.toLongLong();
    if ((!m_file && !openSaveFile()) || beyondLength || m_file->write(chunk) != chunk.size()) {
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
    m_speedTimer->stop();
    if (!m_failed && m_reply->bytesAvailable() > 0)
        onReadyRead();
    if (!m_reply)
        return; // already finished from within onReadyRead

    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();

    // Only a complete 2xx body counts: an error page, a redirect or a
    // connection that ended early must never be offered as the installer.
    // Without a length or a chunked ending a body cut by a bare close looks
    // whole, so such a body is never offered either.
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool chunked = reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    const bool verified = declared.isValid() ? declared.toLongLong() == m_bytesWritten : chunked;
    const bool complete = !m_failed && m_file && reply->error() == QNetworkReply::NoError
        && hasSuccessStatus(reply) && m_bytesWritten > 0 && verified;

    // commit() alone misses a failure to write the last buffered part (a
    // full disk) and would keep a cut-off installer.
    if (complete && m_file->flush() && m_file->commit()) {
        m_filePath = m_file->fileName();
        m_file.reset();
        removeOtherInstallers();
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

bool Downloader::isInstallerReady() const { return !m_filePath.isEmpty() && QFile::exists(m_filePath); }

float Downloader::round(const float& input) { return std::round(input * 100.0f) / 100.0f; }

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
