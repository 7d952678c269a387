#include "../testsupport.h"
#include "utilities.h"

#include "../fulldisk.h"
#include "encrypt.h"
#include "httpsstandin.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString groupKey = QStringLiteral("0123456789abcdefghijklmnopqrstuv"); // 32 characters: AES-128
const QString password = QStringLiteral("Pa55w0rd!");
const QByteArray credential = "agent@veltrisan.invalid:t0ken-For-Tests";
const QByteArray document = "<ZqMaterial><FriendlyName>Harz grün</FriendlyName></ZqMaterial>";

// Every message logged while a support request runs.
QStringList collectedMessages;
void collectMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    collectedMessages.append(message);
}

} // namespace

class tst_Utilities : public QObject {
    Q_OBJECT

    HttpsStandIn m_server;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(), qPrintable(m_server.failureReason()));
        m_server.trustInProcess();
    }

    // A rejected key used to send the IV alone to the printer as if it were a material.
    // A distributable has the password layer inside, the group key outside.
    void encryptedTextsDecrypt()
    {
        const QString text = Utilities().encryptDocumentForInstall(groupKey, document);
        QCOMPARE(text.size(), 32 + 2 * (document.size() + 12));
        QCOMPARE(text, text.toUpper());
        QCOMPARE(Zq::Encrypt().DecryptWithKey(groupKey, text.toUtf8(), false), document);
        QCOMPARE(Utilities().encryptDocumentForInstall(groupKey.left(31), document), QString());

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("m #1.zqmatd"));
        QVERIFY(Utilities().encryptedDataToPath(QUrl::fromLocalFile(path), password, groupKey, document));
        const QByteArray inner = Zq::Encrypt().DecryptWithKey(groupKey, fileBytes(path), false);
        QCOMPARE(Zq::Encrypt().DecryptWithPassword(password, inner), document);
    }

    // A distributable small enough to sit in the write buffer was cut off at
    // the disk's end and reported written.
    void distributableFailsWithoutWriting_data()
    {
        columns<QString, QString>("key", "fileName");
        QTest::newRow("rejected group key, new file") << groupKey.left(31) << "new.zqmatd";
        QTest::newRow("missing folder") << groupKey << "no/such/folder/m.zqmatd";
        QTest::newRow("full disk, old file") << groupKey << "old.zqmatd";
    }
    void distributableFailsWithoutWriting()
    {
        QFETCH(QString, key);
        QFETCH(QString, fileName);
        QTemporaryDir dir;
        const bool full = fileName == QLatin1String("old.zqmatd");
        GELV_FULL_DISK(disk, full, dir.path());
        const QUrl url = QUrl::fromLocalFile(dir.filePath(fileName));
        Utilities utilities;
        if (full) {
            QVERIFY(utilities.encryptedDataToPath(url, password, groupKey, document));
            QVERIFY(disk->fill());
        }
        const QByteArray before = fileBytes(url.toLocalFile());
        const QStringList entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        // About 10 KB of text: less than the file's write buffer, more than the space left.
        QVERIFY(!utilities.encryptedDataToPath(url, password, key, QByteArray(2500, 'x')));
        QCOMPARE(fileBytes(url.toLocalFile()), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
    }

    // Exactly one answer, soon, and the network manager is freed after it.
    void supportRequest_data()
    {
        // status: answered by the server; 0: never reaches it
        // failure: a word of the failure; null: success
        columns<QUrl, QByteArray, int, QString>("base", "credentialValue", "status", "failure");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
        const QUrl refused(QStringLiteral("https://127.0.0.1:%1").arg(probe.serverPort()));
        QUrl plain = m_server.url();
        plain.setScheme(QStringLiteral("http"));
        QTest::newRow("created") << m_server.url() << credential << 201 << QString();
        QTest::newRow("204") << m_server.url() << credential << 204 << QString();
        QTest::newRow("302 is not followed") << m_server.url() << credential << 302 << "302";
        QTest::newRow("refused port") << refused << credential << 0 << "";
        // The credential must never travel in clear text.
        QTest::newRow("plain http") << plain << credential << 0 << "https";
        QTest::newRow("no credential") << m_server.url() << QByteArray() << 0 << "credential";
    }
    void supportRequest()
    {
        QFETCH(QUrl, base);
        QFETCH(QByteArray, credentialValue);
        QFETCH(int, status);
        QFETCH(QString, failure);
        Utilities::serviceDeskUrl = base.toString(QUrl::StripTrailingSlash);
        Utilities::serviceDeskCredential = credentialValue;
        HttpsStandIn::Answer answer { status, {}, "<html>page</html>" };
        if (status == 302)
            answer.headers.append(HttpsStandIn::Header("Location", "https://127.0.0.1:1/login"));
        m_server.setAnswer("/rest/servicedeskapi/request", answer);
        m_server.clearRequests();
        const QByteArray body = "{\"serviceDeskId\":\"1\",\"requestFieldValues\":{\"summary\":\"Härtung – "
                                "\\\"zu weich\\\"\\n\"}}";

        Utilities utilities;
        QSignalSpy success(&utilities, &Utilities::supportRequestSuccess);
        QSignalSpy fail(&utilities, &Utilities::supportRequestFail);
        collectedMessages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
        utilities.submitSupportRequest(QString::fromUtf8(body));
        QTRY_VERIFY_WITH_TIMEOUT(!success.isEmpty() || !fail.isEmpty(), 20000);
        QTest::qWait(50); // nothing more may follow
        qInstallMessageHandler(previous);
        QCOMPARE(success.count(), int(failure.isNull()));
        QCOMPARE(fail.count(), int(!failure.isNull()));
        if (!fail.isEmpty())
            QVERIFY2(fail.first().first().toString().contains(failure),
                qPrintable(fail.first().first().toString()));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(utilities.findChildren<QNetworkAccessManager*>().isEmpty());
        QCOMPARE(m_server.requestCount(), int(status > 0));
        for (const QString& message : qAsConst(collectedMessages))
            QVERIFY2(!message.contains(credential) && !message.contains(credential.toBase64()),
                qPrintable(message));
        if (status == 0)
            return;
        const HttpsStandIn::Request request = m_server.lastRequest();
        QCOMPARE(request.method + ' ' + request.target, QByteArray("POST /rest/servicedeskapi/request"));
        QCOMPARE(request.body, body);
        QList<QByteArray> ours;
        for (const HttpsStandIn::Header& header : request.headers)
            if (QByteArray("|authorization|content-type|accept|")
                    .contains('|' + header.first.toLower() + '|'))
                ours.append(header.first + ": " + header.second);
        QCOMPARE(ours,
            (QList<QByteArray> { "Authorization: Basic " + credential.toBase64(),
                "Content-Type: application/json", "Accept: application/json" }));
        QCOMPARE(request.header("Content-Length"), QByteArray::number(body.size()));
    }
};

QTEST_GUILESS_MAIN(tst_Utilities)
#include "tst_utilities.moc"
