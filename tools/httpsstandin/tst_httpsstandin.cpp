#include "httpsstandin.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class tst_HttpsStandIn : public QObject {
    Q_OBJECT

    HttpsStandIn m_server;
    QNetworkAccessManager m_nam;

    QNetworkReply* run(QNetworkReply* reply)
    {
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(20000);
        return reply;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(), qPrintable(m_server.failureReason()));
        QCOMPARE(m_server.serverAddress(), QHostAddress(QStringLiteral("127.0.0.1")));
        QVERIFY(m_server.serverPort() != 0);
    }

    // Runs before trustInProcess(): proves the trust comes from that call.
    void untrustedCertificateIsRefused()
    {
        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> reply(run(nam.get(QNetworkRequest(m_server.url()))));
        QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
        m_server.trustInProcess();
        QCOMPARE(m_server.requestCount(), 0);
    }

    void getIsAnsweredFromScript()
    {
        HttpsStandIn::Answer answer;
        answer.status = 201;
        answer.reason = "Made";
        answer.headers = { { "X-Thing", "one" } };
        answer.body = "hello";
        m_server.setAnswer("/a", answer);
        m_server.clearRequests();

        QSignalSpy received(&m_server, &HttpsStandIn::requestReceived);
        std::unique_ptr<QNetworkReply> reply(run(m_nam.get(QNetworkRequest(m_server.url("/a?x=1&y=%C3%A9")))));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 201);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray(), QByteArray("Made"));
        QCOMPARE(reply->rawHeader("X-Thing"), QByteArray("one"));
        QCOMPARE(reply->readAll(), QByteArray("hello"));

        QCOMPARE(received.count(), 1);
        const auto request = received.first().first().value<HttpsStandIn::Request>();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, QByteArray("/a?x=1&y=%C3%A9"));
        QCOMPARE(request.path(), QByteArray("/a"));
        QVERIFY(request.body.isEmpty());
    }

    void postIsRecordedByteForByte()
    {
        m_server.clearRequests();
        QByteArray body;
        for (int i = 0; i < 300000; ++i)
            body += char(i * 7);
        QNetworkRequest request(m_server.url("/post"));
        request.setRawHeader("Zeta", "first");
        request.setRawHeader("alpha", "Second Value");
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
        std::unique_ptr<QNetworkReply> reply(run(m_nam.post(request, body)));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);

        QCOMPARE(m_server.requestCount(), 1);
        const HttpsStandIn::Request got = m_server.lastRequest();
        QCOMPARE(got.method, QByteArray("POST"));
        QCOMPARE(got.body, body);
        QCOMPARE(got.header("content-length"), QByteArray::number(body.size()));
        int zeta = -1, alpha = -1;
        for (int i = 0; i < got.headers.size(); ++i) {
            if (got.headers.at(i).first == "Zeta")
                zeta = i;
            if (got.headers.at(i).first == "alpha")
                alpha = i;
        }
        QVERIFY(zeta >= 0 && alpha > zeta);
        QCOMPARE(got.headers.at(alpha).second, QByteArray("Second Value"));
    }

    void generatedBodyArrivesWhole()
    {
        const qint64 size = 5 * 1000 * 1000 + 17;
        HttpsStandIn::Answer answer;
        answer.generatedSize = size;
        m_server.setAnswer("/big", answer);
        std::unique_ptr<QNetworkReply> reply(run(m_nam.get(QNetworkRequest(m_server.url("/big")))));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(), size);
        const QByteArray got = reply->readAll();
        QCOMPARE(got.size(), size);
        QVERIFY(got == HttpsStandIn::generatedBody(0, size));
    }

    void truncatedBodyIsAnError_data()
    {
        QTest::addColumn<qint64>("declared");
        QTest::addColumn<qint64>("dropAfter");
        QTest::newRow("declared-longer") << qint64(1000) << qint64(-1);
        QTest::newRow("dropped") << qint64(-1) << qint64(100);
    }

    void truncatedBodyIsAnError()
    {
        QFETCH(qint64, declared);
        QFETCH(qint64, dropAfter);
        HttpsStandIn::Answer answer;
        answer.body = QByteArray(500, 'x');
        answer.declaredLength = declared;
        answer.dropAfter = dropAfter;
        m_server.setAnswer("/cut", answer);
        std::unique_ptr<QNetworkReply> reply(run(m_nam.get(QNetworkRequest(m_server.url("/cut")))));
        QVERIFY(reply->isFinished());
        QVERIFY2(reply->error() != QNetworkReply::NoError, "a short body must not look complete");
    }

    void oversizedBodyGets413()
    {
        m_server.clearRequests();
        m_server.setMaxBodySize(1000);
        QNetworkRequest request(m_server.url("/post"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
        std::unique_ptr<QNetworkReply> reply(run(m_nam.post(request, QByteArray(1001, 'y'))));
        m_server.setMaxBodySize(HttpsStandIn::DefaultMaxBodySize);
        QCOMPARE(m_server.requestCount(), 1);
        QVERIFY(m_server.lastRequest().bodyTooLarge);
        QVERIFY(m_server.lastRequest().body.isEmpty());
    }

    void refusesNonLoopback()
    {
        HttpsStandIn other;
        QVERIFY(!other.start(QHostAddress(QStringLiteral("0.0.0.0"))));
        QVERIFY(!other.isListening());
    }
};

QTEST_GUILESS_MAIN(tst_HttpsStandIn)
#include "tst_httpsstandin.moc"
