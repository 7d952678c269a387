#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkReply;

// Stateless services for QML: local-path helpers for file URLs, the install
// and distribution encryption, and the support-request POST.
class Utilities : public QObject {
    Q_OBJECT
public:
    explicit Utilities(QObject* parent = nullptr);

    Q_INVOKABLE QString fileNameFromPath(const QString& path) const;
    Q_INVOKABLE QString absolutePathFromPath(const QString& path) const;
    Q_INVOKABLE QString filePathFromURL(const QUrl& url) const;
    // True for an existing regular file; a directory gives false.
    Q_INVOKABLE bool fileExists(const QUrl& url) const;
    // True for an existing directory.
    Q_INVOKABLE bool folderExists(const QUrl& url) const;

    // The document encrypted under the group key as hex text; "" when the
    // encryption fails (for example a group key of a length AES rejects).
    Q_INVOKABLE QString encryptDocumentForInstall(const QString& groupKey, const QByteArray& data) const;

    // Writes a distributable file: data encrypted under the password, that
    // text encrypted under the group key. Returns false, and leaves any
    // existing file untouched, when either encryption or the write fails.
    Q_INVOKABLE bool encryptedDataToPath(
        const QUrl& url, const QString& password, const QString& groupKey, const QByteArray& data) const;

    // POSTs body (JSON text) to serviceDeskUrl with serviceDeskCredential. The
    // outcome arrives as supportRequestSuccess() (HTTP 2xx only) or
    // supportRequestFail(), at the latest after supportRequestTimeoutMs.
    Q_INVOKABLE void submitSupportRequest(const QString& body) const;

    static const QString supportRequestPath;
    // A request still running after this long (30 s) is abandoned and fails,
    // whatever the host does. Only tests shorten it.
    static int supportRequestTimeoutMs;
    // From the build configuration; nothing outside the program changes them
    // (tests point them at a stand-in). The credential is "user:token".
    static QString serviceDeskUrl;
    static QByteArray serviceDeskCredential;

signals:
    void supportRequestFail(QString errorString);
    void supportRequestSuccess();

public slots:
    void submitSupportReceiveResponse(QNetworkReply* response);
};
