#include "httpsstandin.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace {

constexpr qint64 ChunkSize = 256 * 1024;
constexpr qint64 HighWater = 1024 * 1024;

// Making a key takes a moment: once per address and process. Empty failure on success.
QString makeCredentials(const QString& ip, QSslCertificate& certificate, QSslKey& key)
{
    static QHash<QString, QPair<QSslCertificate, QSslKey>> made;
    if (!made.contains(ip)) {
        QTemporaryDir dir;
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
            { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=" + ip, "-addext",
                "subjectAltName=IP:" + ip, "-keyout", dir.filePath("key.pem"), "-out",
                dir.filePath("cert.pem") });
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return "openssl failed: " + QString::fromLocal8Bit(openssl.readAll());
        QFile certFile(dir.filePath("cert.pem")), keyFile(dir.filePath("key.pem"));
        certFile.open(QIODevice::ReadOnly), keyFile.open(QIODevice::ReadOnly);
        made.insert(ip, { QSslCertificate(certFile.readAll()), QSslKey(keyFile.readAll(), QSsl::Rsa) });
    }
    certificate = made.value(ip).first;
    key = made.value(ip).second;
    return certificate.isNull() || key.isNull() ? QStringLiteral("no certificate") : QString();
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
        connect(socket, &QSslSocket::encryptedBytesWritten, this, &HttpsStandInConnection::pump);
        connect(socket, &QSslSocket::bytesWritten, this, &HttpsStandInConnection::pump);
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);
    }

private:
    void onReadyRead()
    {
        m_buffer += m_socket->readAll();
        const int end = m_buffer.indexOf("\r\n\r\n");
        if (m_answered || end < 0)
            return;
        HttpsStandIn::Request request;
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            request.headers.append({ lines.at(i).left(colon), lines.at(i).mid(colon + 1).trimmed() });
        }
        const int length = request.header("Content-Length").toInt();
        if (m_buffer.size() < end + 4 + length)
            return;
        request.body = m_buffer.mid(end + 4, length);
        m_answered = true;
        m_server->m_requests.append(request);
        emit m_server->requestReceived();
        respond(m_server->m_answers.value(request.target, HttpsStandIn::Answer { 404, {}, "Not Found" }));
    }

    void respond(const HttpsStandIn::Answer& answer)
    {
        m_answer = answer;
        if (answer.trick == HttpsStandIn::NeverAnswer)
            return;
        if (answer.trick == HttpsStandIn::Chunked)
            m_answer.body
                = QByteArray::number(answer.body.size(), 16) + "\r\n" + answer.body + "\r\n0\r\n\r\n";
        const qint64 size = answer.generatedSize >= 0 ? answer.generatedSize : m_answer.body.size();
        m_limit = answer.cutAfter >= 0 ? qMin(answer.cutAfter, size) : size;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n";
        for (const HttpsStandIn::Header& h : answer.headers)
            head += h.first + ": " + h.second + "\r\n";
        if (answer.trick == HttpsStandIn::Chunked || answer.trick == HttpsStandIn::EndlessChunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (answer.trick != HttpsStandIn::NoLength)
            head += "Content-Length: " + QByteArray::number(size) + "\r\n";
        m_socket->write(
            head + "Connection: close\r\n" + (answer.trick == HttpsStandIn::EndlessHead ? "" : "\r\n"));
        if (answer.trick == HttpsStandIn::Trickle) {
            auto* timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this,
                [this] { m_socket->write(m_answer.body.mid(int(m_sent++), 1)); });
            timer->start(100);
            return;
        }
        m_sending = true;
        pump();
    }

    qint64 queued() const { return m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite(); }

    void pump()
    {
        static const QByteArray filler = "X-Filler: " + QByteArray(1000, 'f') + "\r\n";
        const bool flood = m_answer.trick == HttpsStandIn::EndlessHead;
        const bool endless = m_answer.trick == HttpsStandIn::EndlessChunked;
        while (m_sending && endless && queued() < HighWater) {
            m_socket->write(QByteArray::number(ChunkSize, 16) + "\r\n"
                + HttpsStandIn::generatedBody(m_sent, ChunkSize) + "\r\n");
            m_sent += ChunkSize;
        }
        while (m_sending && queued() < HighWater && (flood || m_sent < m_limit)) {
            const qint64 n = flood ? 0 : qMin(ChunkSize, m_limit - m_sent);
            m_socket->write(flood                 ? filler
                    : m_answer.generatedSize >= 0 ? HttpsStandIn::generatedBody(m_sent, n)
                                                  : m_answer.body.mid(int(m_sent), int(n)));
            m_sent += n;
        }
        if (!m_sending || flood || endless || m_sent < m_limit)
            return;
        m_sending = false;
        if (m_answer.trick != HttpsStandIn::KeepOpen)
            m_socket->disconnectFromHost(); // flushes first
    }

    HttpsStandIn* m_server;
    QSslSocket* m_socket;
    QByteArray m_buffer;
    bool m_answered = false;
    bool m_sending = false;
    HttpsStandIn::Answer m_answer;
    qint64 m_limit = 0;
    qint64 m_sent = 0;
};

QByteArray HttpsStandIn::Request::header(const QByteArray& name) const
{
    for (const Header& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return QByteArray();
}

bool HttpsStandIn::start(const QHostAddress& address)
{
    if ((address.toIPv4Address() >> 24) != 127)
        m_failure = QStringLiteral("loopback only");
    else
        m_failure = makeCredentials(address.toString(), m_certificate, m_key);
    if (m_failure.isEmpty() && !listen(address, 0))
        m_failure = errorString();
    return m_failure.isEmpty();
}

QUrl HttpsStandIn::url(const QString& path) const
{
    return QUrl(
        QStringLiteral("https://%1:%2%3").arg(serverAddress().toString()).arg(serverPort()).arg(path));
}

void HttpsStandIn::trustInProcess() const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificate(m_certificate);
    QSslConfiguration::setDefaultConfiguration(config);
}

QByteArray HttpsStandIn::generatedBody(qint64 offset, qint64 length)
{
    QByteArray bytes(int(length), Qt::Uninitialized);
    qint64 at = offset % 65521;
    for (char& byte : bytes) {
        byte = char(at ^ (at >> 8));
        at = at == 65520 ? 0 : at + 1;
    }
    return bytes;
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
    new HttpsStandInConnection(this, socket);
    socket->startServerEncryption();
}
