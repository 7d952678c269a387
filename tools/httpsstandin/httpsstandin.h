#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

// A local HTTPS server for tests and benchmarks. It listens on a loopback
// address only, answers from a script, and records every request exactly as
// received. Its certificate is made on first use and never stored with the sources.
class HttpsStandIn : public QTcpServer {
    Q_OBJECT
public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request {
        QByteArray method;
        QByteArray target; // path with query, as sent
        QList<Header> headers; // raw names and values, in the order received
        QByteArray body; // byte for byte; empty when bodyTooLarge
        bool bodyTooLarge = false; // the request was answered 413 and its body not read

        QByteArray path() const; // target without the query
        // First value of a header, name compared case-insensitively; null if absent.
        QByteArray header(const QByteArray& name) const;
    };

    struct Answer {
        int status = 200;
        QByteArray reason; // empty: the usual phrase for the status
        QList<Header> headers; // sent after the status line, before Content-Length
        QByteArray body;
        // >= 0: send this many bytes of generatedBody() instead of body, produced
        // as the socket drains so that large bodies are never held in memory.
        qint64 generatedSize = -1;
        // >= 0: announce this Content-Length whatever the body's real size;
        // the connection is closed cleanly after the real body (truncated body).
        qint64 declaredLength = -1;
        // >= 0: abort the connection once this many body bytes have been sent.
        qint64 dropAfter = -1;
        // Read the request, then never answer (for timeout tests).
        bool neverAnswer = false;
    };

    static constexpr qint64 DefaultMaxBodySize = 16 * 1024 * 1024;

    explicit HttpsStandIn(QObject* parent = nullptr);
    ~HttpsStandIn() override;

    // Makes (or reuses) a certificate for the address and listens on an
    // ephemeral port. Only 127.0.0.0/8 is accepted. Returns false with failureReason() set.
    bool start(const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.1")));
    QString failureReason() const { return m_failure; }

    // https://<address>:<port><path>
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // Adds this server's certificate to QSslConfiguration::defaultConfiguration()
    // as a trusted CA, so that Qt clients in this process accept it unchanged.
    void trustInProcess() const;
    QSslCertificate certificate() const { return m_certificate; }

    // Answers are looked up by exact target (with query), then by path alone, then the default (404).
    void setAnswer(const QByteArray& pathOrTarget, const Answer& answer);
    void setDefaultAnswer(const Answer& answer) { m_defaultAnswer = answer; }
    void clearAnswers();

    void setMaxBodySize(qint64 bytes) { m_maxBodySize = bytes; }
    qint64 maxBodySize() const { return m_maxBodySize; }

    QList<Request> requests() const { return m_requests; }
    int requestCount() const { return m_requests.size(); }
    Request lastRequest() const { return m_requests.isEmpty() ? Request() : m_requests.last(); }
    void clearRequests() { m_requests.clear(); }

    // The bytes a generated body holds at [offset, offset + length): a fixed
    // pattern that does not repeat with any power-of-two period, so misplaced
    // or lost chunks show up when compared.
    static QByteArray generatedBody(qint64 offset, qint64 length);
    static void fillGenerated(char* out, qint64 offset, qint64 length);

    static QByteArray reasonPhrase(int status);

signals:
    void requestReceived(const HttpsStandIn::Request& request);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    friend class HttpsStandInConnection;
    Answer answerFor(const Request& request) const;
    void record(const Request& request);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QByteArray, Answer> m_answers;
    Answer m_defaultAnswer;
    QList<Request> m_requests;
    qint64 m_maxBodySize = DefaultMaxBodySize;
    QString m_failure;
};

Q_DECLARE_METATYPE(HttpsStandIn::Request)
