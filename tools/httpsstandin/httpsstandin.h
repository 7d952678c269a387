#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

// A local HTTPS server for tests and benchmarks: loopback only, answers from a
// script, records each request as received. Its certificate is made on first use.
class HttpsStandIn : public QTcpServer {
    Q_OBJECT
public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request {
        QByteArray method;
        QByteArray target;
        QList<Header> headers; // raw, in the order received
        QByteArray body;
        QByteArray header(const QByteArray& name) const; // first value, name in any case; null if absent
    };

    // Hostile behaviours: no answer at all; no Content-Length (the body ends with the
    // connection); a chunked body; the connection left open after what was sent; the
    // body one byte every 100 ms; header lines without end.
    enum Trick { NoTrick, NeverAnswer, NoLength, Chunked, KeepOpen, Trickle, EndlessHead };

    struct Answer {
        int status = 200;
        QList<Header> headers;
        QByteArray body;
        qint64 generatedSize = -1; // >= 0: send this many bytes of generatedBody() instead of body
        qint64 cutAfter = -1; // >= 0: close (or keep open) after this many body bytes, length as promised
        Trick trick = NoTrick;
    };

    // Listens on an ephemeral port of a 127.0.0.0/8 address.
    bool start(const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.1")));
    QString failureReason() const { return m_failure; }
    QUrl url(const QString& path = QStringLiteral("/")) const;
    // Makes Qt clients in this process accept the certificate.
    void trustInProcess() const;

    // Looked up by exact target; anything else is answered 404.
    void setAnswer(const QByteArray& target, const Answer& answer) { m_answers.insert(target, answer); }

    int requestCount() const { return m_requests.size(); }
    Request lastRequest() const { return m_requests.value(m_requests.size() - 1); }
    void clearRequests() { m_requests.clear(); }

    // A fixed byte pattern with a prime period, so misplaced or lost chunks show up.
    static QByteArray generatedBody(qint64 offset, qint64 length);

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    friend class HttpsStandInConnection;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QByteArray, Answer> m_answers;
    QList<Request> m_requests;
    QString m_failure;
};
