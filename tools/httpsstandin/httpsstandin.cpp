#include "httpsstandin.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

constexpr int MaxHeadSize = 64 * 1024;
constexpr qint64 ChunkSize = 256 * 1024;
constexpr qint64 HighWater = 1024 * 1024; // bytes queued in the socket before we wait for it to drain
constexpr int PatternPeriod = 65521; // prime, so no power-of-two chunking lines up with it

const QByteArray& pattern()
{
    static const QByteArray bytes = [] {
        QByteArray p(PatternPeriod, Qt::Uninitialized);
        quint32 x = 2463534242u;
        for (int i = 0; i < PatternPeriod; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            p[i] = char(x & 0xff);
        }
        return p;
    }();
    return bytes;
}

struct Credentials {
    QSslCertificate certificate;
    QSslKey key;
    QString failure;
};

// Making a key takes a noticeable moment, so each address gets one per process.
Credentials credentialsFor(const QHostAddress& address)
{
    static QMutex mutex;
    static std::map<QString, Credentials> made;
    QMutexLocker lock(&mutex);
    const QString ip = address.toString();
    auto found = made.find(ip);
    if (found != made.end())
        return found->second;

    Credentials c;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        c.failure = QStringLiteral("cannot make a temporary folder: %1").arg(dir.errorString());
        return c;
    }
    const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
            QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=%1").arg(ip),
            QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:%1,DNS:localhost").arg(ip),
            QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath });
    if (!openssl.waitForStarted(10000) || !openssl.waitForFinished(30000)
        || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        c.failure = QStringLiteral("openssl failed: %1 %2")
                        .arg(openssl.errorString(), QString::fromLocal8Bit(openssl.readAll()));
        return c;
    }
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        c.failure = QStringLiteral("cannot read what openssl made");
        return c;
    }
    c.certificate = QSslCertificate(certFile.readAll(), QSsl::Pem);
    c.key = QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
    if (c.certificate.isNull() || c.key.isNull()) {
        c.failure = QStringLiteral("openssl's certificate or key did not load");
        return c;
    }
    made.emplace(ip, c);
    return c;
}

bool isLoopback(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok && (v4 >> 24) == 127;
}

} // namespace

// One accepted connection: reads one request, records it, answers, closes.
class HttpsStandInConnection : public QObject {
public:
    HttpsStandInConnection(HttpsStandIn* server, QSslSocket* socket)
        : QObject(socket)
        , m_server(server)
        , m_socket(socket)
    {
        connect(socket, &QSslSocket::readyRead, this, &HttpsStandInConnection::onReadyRead);
        connect(socket, &QSslSocket::encryptedBytesWritten, this, &HttpsStandInConnection::onDrained);
        connect(socket, &QSslSocket::bytesWritten, this, &HttpsStandInConnection::onDrained);
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(
            socket, &QAbstractSocket::errorOccurred, socket, [socket](QAbstractSocket::SocketError error) {
                if (error != QAbstractSocket::RemoteHostClosedError)
                    socket->abort();
                socket->deleteLater();
            });
    }

private:
    enum class State { Head, Body, Sending, Closing, Idle };

    void onReadyRead()
    {
        if (m_state != State::Head && m_state != State::Body) {
            m_socket->readAll(); // anything after the request is ignored
            return;
        }
        m_buffer += m_socket->readAll();
        if (m_state == State::Head && !parseHead())
            return;
        if (m_state == State::Body && m_buffer.size() >= m_contentLength) {
            m_request.body = m_buffer.left(int(m_contentLength));
            m_buffer.clear();
            m_server->record(m_request);
            respond(m_server->answerFor(m_request));
        }
    }

    // Returns true once the head is complete and the body is expected.
    bool parseHead()
    {
        const int end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > MaxHeadSize)
                fail(431);
            return false;
        }
        if (end > MaxHeadSize) {
            fail(431);
            return false;
        }
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        m_buffer.remove(0, end + 4);
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")) {
            fail(400);
            return false;
        }
        m_request.method = requestLine.at(0);
        m_request.target = requestLine.at(1);
        for (int i = 1; i < lines.size(); ++i) {
            QByteArray line = lines.at(i);
            if (line.endsWith('\r'))
                line.chop(1);
            const int colon = line.indexOf(':');
            if (colon <= 0) {
                fail(400);
                return false;
            }
            m_request.headers.append({ line.left(colon), line.mid(colon + 1).trimmed() });
        }
        if (!m_request.header("Transfer-Encoding").isNull()) {
            fail(501);
            return false;
        }
        const QByteArray length = m_request.header("Content-Length");
        m_contentLength = 0;
        if (!length.isNull()) {
            bool ok = false;
            m_contentLength = length.toLongLong(&ok);
            if (!ok || m_contentLength < 0) {
                fail(400);
                return false;
            }
        }
        if (m_contentLength > m_server->maxBodySize()) {
            m_request.bodyTooLarge = true;
            m_server->record(m_request);
            fail(413);
            return false;
        }
        m_state = State::Body;
        return true;
    }

    void fail(int status)
    {
        HttpsStandIn::Answer answer;
        answer.status = status;
        answer.body = HttpsStandIn::reasonPhrase(status);
        respond(answer);
    }

    void respond(const HttpsStandIn::Answer& answer)
    {
        m_answer = answer;
        if (answer.neverAnswer) {
            m_state = State::Idle;
            return;
        }
        m_bodySize = answer.generatedSize >= 0 ? answer.generatedSize : answer.body.size();
        m_bodyLimit = answer.dropAfter >= 0 ? std::min(answer.dropAfter, m_bodySize) : m_bodySize;
        m_sent = 0;

        const QByteArray reason
            = answer.reason.isEmpty() ? HttpsStandIn::reasonPhrase(answer.status) : answer.reason;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reason + "\r\n";
        bool hasLength = false;
        bool hasConnection = false;
        for (const HttpsStandIn::Header& h : answer.headers) {
            hasLength = hasLength || h.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
            hasConnection = hasConnection || h.first.compare("Connection", Qt::CaseInsensitive) == 0;
            head += h.first + ": " + h.second + "\r\n";
        }
        if (!hasLength) {
            const qint64 declared = answer.declaredLength >= 0 ? answer.declaredLength : m_bodySize;
            head += "Content-Length: " + QByteArray::number(declared) + "\r\n";
        }
        if (!hasConnection)
            head += "Connection: close\r\n";
        head += "\r\n";
        m_state = State::Sending;
        m_socket->write(head);
        pump();
    }

    void onDrained()
    {
        if (m_state == State::Sending)
            pump();
        else if (m_state == State::Closing)
            closeWhenFlushed();
    }

    qint64 queued() const { return m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite(); }

    void pump()
    {
        while (m_sent < m_bodyLimit && queued() < HighWater) {
            const qint64 n = std::min(ChunkSize, m_bodyLimit - m_sent);
            if (m_answer.generatedSize >= 0) {
                m_chunk.resize(int(n));
                HttpsStandIn::fillGenerated(m_chunk.data(), m_sent, n);
                m_socket->write(m_chunk);
            } else {
                m_socket->write(m_answer.body.constData() + m_sent, n);
            }
            m_sent += n;
        }
        if (m_sent >= m_bodyLimit) {
            m_state = State::Closing;
            closeWhenFlushed();
        }
    }

    void closeWhenFlushed()
    {
        if (m_answer.dropAfter >= 0 && m_bodyLimit < m_bodySize) {
            // An abrupt drop: no TLS close, once what was promised has left.
            if (queued() == 0) {
                m_state = State::Idle;
                m_socket->abort();
            }
            return;
        }
        m_state = State::Idle;
        m_socket->disconnectFromHost(); // flushes first
    }

    HttpsStandIn* m_server;
    QSslSocket* m_socket;
    State m_state = State::Head;
    QByteArray m_buffer;
    HttpsStandIn::Request m_request;
    qint64 m_contentLength = 0;
    HttpsStandIn::Answer m_answer;
    qint64 m_bodySize = 0;
    qint64 m_bodyLimit = 0;
    qint64 m_sent = 0;
    QByteArray m_chunk;
};

QByteArray HttpsStandIn::Request::path() const
{
    const int q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray HttpsStandIn::Request::header(const QByteArray& name) const
{
    for (const Header& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

HttpsStandIn::HttpsStandIn(QObject* parent)
    : QTcpServer(parent)
{
    qRegisterMetaType<HttpsStandIn::Request>();
    m_defaultAnswer.status = 404;
    m_defaultAnswer.body = "Not Found";
}

HttpsStandIn::~HttpsStandIn() = default;

bool HttpsStandIn::start(const QHostAddress& address)
{
    m_failure.clear();
    if (!isLoopback(address)) {
        m_failure = QStringLiteral("refusing to listen on %1: loopback only").arg(address.toString());
        return false;
    }
    const Credentials c = credentialsFor(address);
    if (!c.failure.isEmpty()) {
        m_failure = c.failure;
        return false;
    }
    m_certificate = c.certificate;
    m_key = c.key;
    if (!listen(address, 0)) {
        m_failure = errorString();
        return false;
    }
    return true;
}

QUrl HttpsStandIn::url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("https://%1:%2%3")
                    .arg(serverAddress().toString())
                    .arg(serverPort())
                    .arg(pathAndQuery));
}

void HttpsStandIn::trustInProcess() const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (config.caCertificates().contains(m_certificate))
        return;
    config.addCaCertificate(m_certificate);
    QSslConfiguration::setDefaultConfiguration(config);
}

void HttpsStandIn::setAnswer(const QByteArray& pathOrTarget, const Answer& answer)
{
    m_answers.insert(pathOrTarget, answer);
}

void HttpsStandIn::clearAnswers() { m_answers.clear(); }

HttpsStandIn::Answer HttpsStandIn::answerFor(const Request& request) const
{
    auto it = m_answers.constFind(request.target);
    if (it == m_answers.constEnd())
        it = m_answers.constFind(request.path());
    return it == m_answers.constEnd() ? m_defaultAnswer : it.value();
}

void HttpsStandIn::record(const Request& request)
{
    m_requests.append(request);
    emit requestReceived(request);
}

void HttpsStandIn::fillGenerated(char* out, qint64 offset, qint64 length)
{
    const QByteArray& p = pattern();
    qint64 pos = offset % PatternPeriod;
    while (length > 0) {
        const qint64 n = std::min<qint64>(length, PatternPeriod - pos);
        std::memcpy(out, p.constData() + pos, size_t(n));
        out += n;
        length -= n;
        pos = 0;
    }
}

QByteArray HttpsStandIn::generatedBody(qint64 offset, qint64 length)
{
    QByteArray bytes(int(length), Qt::Uninitialized);
    fillGenerated(bytes.data(), offset, length);
    return bytes;
}

QByteArray HttpsStandIn::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

void HttpsStandIn::incomingConnection(qintptr socketDescriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->setProtocol(QSsl::TlsV1_2OrLater);
    new HttpsStandInConnection(this, socket);
    socket->startServerEncryption();
}
