#include "utilities.h"

#include "buildconfig.h"
#include "encrypt.h"

#include <QDebug>
#include <QFileInfo>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QTimer>

const QString Utilities::supportRequestPath = QStringLiteral("/rest/servicedeskapi/request");
QString Utilities::serviceDeskUrl = QStringLiteral(GELV_SERVICE_DESK_URL);
QByteArray Utilities::serviceDeskCredential = GELV_SERVICE_DESK_CREDENTIAL;
int Utilities::supportRequestTimeoutMs = 30000;

namespace {

// Set on a support reply that was abandoned for taking too long.
const char timedOutProperty[] = "gelvTimedOut";

// The hex text up to its first NUL byte (it has none when well formed).
QString textUpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

} // namespace

Utilities::Utilities(QObject* parent)
    : QObject(parent)
{
}

QString Utilities::fileNameFromPath(const QString& path) const { return QFileInfo(path).fileName(); }

QString Utilities::absolutePathFromPath(const QString& path) const
{
    return QFileInfo(path).absoluteFilePath();
}

QString Utilities::filePathFromURL(const QUrl& url) const { return url.toLocalFile(); }

bool Utilities::fileExists(const QUrl& url) const
{
    const QString path = url.toLocalFile();
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool Utilities::folderExists(const QUrl& url) const
{
    const QString path = url.toLocalFile();
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QString Utilities::encryptDocumentForInstall(const QString& groupKey, const QByteArray& data) const
{
    Zq::Encrypt encrypt;
    return textUpToNul(encrypt.EncryptWithKey(groupKey, data));
}

bool Utilities::encryptedDataToPath(
    const QUrl& url, const QString& password, const QString& groupKey, const QByteArray& data) const
{
    Zq::Encrypt passwordLayer;
    const QByteArray inner = passwordLayer.EncryptWithPassword(password, data);
    if (inner.isEmpty()) {
        qWarning() << "Utilities::encryptedDataToPath: password encryption failed, nothing written";
        return false;
    }
    Zq::Encrypt keyLayer;
    const QByteArray outer = keyLayer.EncryptWithKey(groupKey, inner);
    if (outer.isEmpty()) {
        qWarning() << "Utilities::encryptedDataToPath: group key encryption failed, nothing written";
        return false;
    }
    const QString path = filePathFromURL(url);
    if (path.isEmpty()) {
        qWarning() << "Utilities::encryptedDataToPath: not a local file:" << url;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning() << "Utilities::encryptedDataToPath: cannot open" << path << file.errorString();
        return false;
    }
    file.write(outer);
    // commit() alone misses a failure to write the last buffered part (a full
    // disk) and would keep a cut-off file.
    if (!file.flush() || !file.commit()) {
        qWarning() << "Utilities::encryptedDataToPath: cannot write" << path << file.errorString();
        return false;
    }
    return true;
}

void Utilities::submitSupportRequest(const QString& body) const
{
    auto* self = const_cast<Utilities*>(this);
    auto failSoon = [self](const QString& message) {
        // Queued, so the caller sees the outcome after its call returns, as with a reply.
        QMetaObject::invokeMethod(
            self, [self, message] { emit self->supportRequestFail(message); }, Qt::QueuedConnection);
    };

    const QByteArray credential = serviceDeskCredential;
    if (credential.isEmpty()) {
        failSoon(tr("Support requests are not available: no service-desk credential is configured."));
        return;
    }
    QUrl url(serviceDeskUrl);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        failSoon(tr("Support requests are not available: the service-desk address is not an https address."));
        return;
    }
    QString basePath = url.path();
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + supportRequestPath);

    auto* manager = new QNetworkAccessManager(self);
    connect(manager, &QNetworkAccessManager::finished, self, &Utilities::submitSupportReceiveResponse);

    QNetworkRequest request(url);
    request.setSslConfiguration(QSslConfiguration::defaultConfiguration());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Authorization", "Basic " + credential.toBase64());
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");
    QNetworkReply* reply = manager->post(request, body.toUtf8());
    // The answer's body is never looked at: drop it as it arrives instead of
    // holding an answer of any size in memory.
    connect(reply, &QNetworkReply::readyRead, reply, [reply] { reply->skip(reply->bytesAvailable()); });
    // A host that takes the connection and never answers would otherwise keep
    // the support form waiting for ever. Aborting finishes the reply as failed.
    QTimer::singleShot(supportRequestTimeoutMs, reply, [reply] {
        if (!reply->isRunning())
            return;
        reply->setProperty(timedOutProperty, true);
        reply->abort();
    });
}

void Utilities::submitSupportReceiveResponse(QNetworkReply* response)
{
    response->deleteLater();
    if (QNetworkAccessManager* manager = response->manager())
        manager->deleteLater();

    const QVariant statusAttribute = response->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    if (response->property(timedOutProperty).toBool()) {
        emit supportRequestFail(tr("The service desk did not answer in time."));
        return;
    }
    if (response->error() != QNetworkReply::NoError) {
        emit supportRequestFail(response->errorString());
        return;
    }
    // Qt reports no error for a redirect; only a 2xx answer means the request was taken.
    if (status < 200 || status > 299) {
        emit supportRequestFail(tr("The service desk answered with HTTP status %1.").arg(status));
        return;
    }
    emit supportRequestSuccess();
}
