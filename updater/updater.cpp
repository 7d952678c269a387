#include "updater.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QTimer>
#include <QUrl>

int Updater::checkTimeoutMs = 30000;

Updater::Updater()
    : m_platformKey(QStringLiteral("osx"))
    , m_manager(new QNetworkAccessManager)
{
    m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    connect(m_manager, &QNetworkAccessManager::finished, this, &Updater::onReply);
}

Updater::~Updater() { delete m_manager; }

bool Updater::compare(const QString& x, const QString& y)
{
    const QStringList xs = x.split(QLatin1Char('.'));
    const QStringList ys = y.split(QLatin1Char('.'));
    const int common = qMin(xs.size(), ys.size());
    for (int i = 0; i < common; ++i) {
        // toInt() yields 0 for anything that is not a valid int, overflow included.
        const int a = xs.at(i).toInt(nullptr, 10);
        const int b = ys.at(i).toInt(nullptr, 10);
        if (a != b)
            return a > b;
    }
    return xs.size() > ys.size();
}

void Updater::checkForUpdates()
{
    QNetworkRequest request { QUrl(m_url) };
    request.setMaximumRedirectsAllowed(maxRedirects);
    QNetworkReply* reply = m_manager->get(request);
    // A silent or trickling server, or one that never ends its headers, would
    // otherwise hold the check for ever. Aborting finishes it as failed.
    QTimer::singleShot(checkTimeoutMs, reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
    // The body is held in memory until it is parsed: give up on one that
    // announces or delivers more than a feed ever needs.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > maxFeedSize || total > maxFeedSize)
            reply->abort();
    });
}

void Updater::setUrl(const QString& url) { m_url = url; }

void Updater::setNotifyOnUpdate(bool notify) { m_notifyOnUpdate = notify; }

void Updater::setNotifyOnFinish(bool notify) { m_notifyOnFinish = notify; }

void Updater::setModuleName(const QString& name) { m_moduleName = name; }

void Updater::setModuleVersion(const QString& version) { m_moduleVersion = version; }

void Updater::setPlatformKey(const QString& key) { m_platformKey = key; }

void Updater::setUpdateAvailable(bool available) { m_updateAvailable = available; }

void Updater::onReply(QNetworkReply* reply)
{
    reply->deleteLater();

    // Qt reports no error for a redirect or other non-2xx answer without a
    // body error, so the status decides too: such an answer is no feed.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299
        || reply->bytesAvailable() > maxFeedSize) {
        emit checkingFinished(m_url);
        return;
    }

    // A body that is not JSON (a maintenance page, say) is no answer at all:
    // the last feed's offer stands and the interface keeps its state.
    if (!readFeed(reply->readAll()))
        return;
    emit checkingFinished(m_url);
}

bool Updater::readFeed(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isNull())
        return false;
    const QJsonObject entry
        = document.object().value(QLatin1String("updates")).toObject().value(m_platformKey).toObject();
    m_openUrl = entry.value(QLatin1String("open-url")).toString();
    m_changelog = entry.value(QLatin1String("changelog")).toString();
    m_latestVersion = entry.value(QLatin1String("latest-version")).toString();

    // The installer is launched after download, so it must come over TLS.
    const QString download = entry.value(QLatin1String("download-url")).toString();
    const QUrl downloadAddress(download, QUrl::StrictMode);
    const bool secure = downloadAddress.isValid() && downloadAddress.scheme() == QLatin1String("https")
        && !downloadAddress.host().isEmpty();
    m_downloadUrl = secure ? download : QString();

    bool available = compare(m_latestVersion, m_moduleVersion);
    // An offer that can never be downloaded would only end in "Update failed.".
    if (available && m_downloadUrl.isEmpty()) {
        qWarning().noquote() << "Updater: version" << m_latestVersion
                             << "is offered without an https download address; no update reported";
        available = false;
    }
    setUpdateAvailable(available);
    return true;
}
