#pragma once

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the update feed and tells whether it names a version newer than
// the running one. One instance serves the whole process (see UpdateHelper).
class Updater : public QObject {
    Q_OBJECT
public:
    Updater();
    ~Updater() override;

    QString url() const { return m_url; }
    // Kept for callers; nothing here depends on them.
    bool notifyOnUpdate() const { return m_notifyOnUpdate; }
    bool notifyOnFinish() const { return m_notifyOnFinish; }
    // Result of the last feed that was read; unchanged by failed requests.
    bool updateAvailable() const { return m_updateAvailable; }
    QString platformKey() const { return m_platformKey; }
    QString changelog() const { return m_changelog; }
    QString moduleName() const { return m_moduleName; }
    // Empty unless the feed gave an https address; without one no update is reported.
    QString downloadUrl() const { return m_downloadUrl; }
    QString moduleVersion() const { return m_moduleVersion; }
    QString latestVersion() const { return m_latestVersion; }

    // True when dotted version x is newer than y. Parts that are not 32-bit
    // decimal integers count as 0; with equal common parts, more parts is newer.
    static bool compare(const QString& x, const QString& y);

    // A feed is a few hundred bytes; a body larger than this is abandoned
    // and the check counts as failed.
    static constexpr qint64 maxFeedSize = 1024 * 1024;
    static constexpr int maxRedirects = 5;
    // A check still running after this long (30 s) is abandoned and counts
    // as failed, whatever the server sends. Only tests shorten it.
    static int checkTimeoutMs;

    // Takes the fields of a fetched feed body, as a finished check does.
    // A body that is not JSON changes nothing and gives false.
    bool readFeed(const QByteArray& body);

public slots:
    // Starts a GET of url(); every call is a request of its own. Follows at
    // most maxRedirects https redirects, never to http.
    void checkForUpdates();
    void setUrl(const QString& url);
    void setNotifyOnUpdate(bool notify);
    void setNotifyOnFinish(bool notify);
    void setModuleName(const QString& name);
    void setModuleVersion(const QString& version);
    void setPlatformKey(const QString& key);

signals:
    // Emitted once per finished request, also when it failed; not for a
    // body that is not JSON.
    void checkingFinished(const QString& url);

private slots:
    void onReply(QNetworkReply* reply);
    void setUpdateAvailable(bool available);

private:
    QString m_url;
    bool m_notifyOnUpdate = true;
    bool m_notifyOnFinish = false;
    bool m_updateAvailable = false;
    // The feed's web page for the release; read and kept, not used.
    QString m_openUrl;
    QString m_platformKey;
    QString m_changelog;
    QString m_moduleName;
    QString m_downloadUrl;
    QString m_moduleVersion;
    QString m_latestVersion;
    QNetworkAccessManager* m_manager;
};
