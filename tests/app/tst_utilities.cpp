#include "utilities.h"

#include "../fulldisk.h"
#include "encrypt.h"
#include "httpsstandin.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QRegularExpression>
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

const char requestBody[] = "{\"serviceDeskId\":\"1\",\"requestFieldValues\":{\"summary\":\"Härtung – \\\"zu weich\\\"\\n\"}}";
const char createdBody[] = "{\"issueKey\":\"SD-1\"}";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isUpperHex(const QString &text)
{
    return QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(text).hasMatch();
}

void useServiceDesk(const QUrl &base, const QByteArray &credentialValue)
{
    Utilities::serviceDeskUrl = base.toString(QUrl::StripTrailingSlash);
    Utilities::serviceDeskCredential = credentialValue;
}

// Every message logged while a support request runs.
QStringList collectedMessages;
void collectMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    collectedMessages.append(message);
}

// One support request, run until its answer and a little after.
struct Outcome
{
    int answers = 0;
    bool succeeded = false;
    QString failure;
    qint64 ms = 0;
    bool managerFreed = false;
};

Outcome submit(const QString &body = QStringLiteral("{}"))
{
    Outcome outcome;
    Utilities utilities;
    QSignalSpy success(&utilities, &Utilities::supportRequestSuccess);
    QSignalSpy fail(&utilities, &Utilities::supportRequestFail);
    collectedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
    QElapsedTimer timer;
    timer.start();
    utilities.submitSupportRequest(body);
    while (success.isEmpty() && fail.isEmpty() && timer.elapsed() < 10000)
        QTest::qWait(5);
    outcome.ms = timer.elapsed();
    QTest::qWait(50); // nothing more may follow
    qInstallMessageHandler(previous);
    outcome.answers = success.count() + fail.count();
    outcome.succeeded = !success.isEmpty();
    outcome.failure = fail.isEmpty() ? QString() : fail.constFirst().constFirst().toString();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    outcome.managerFreed = utilities.findChildren<QNetworkAccessManager *>().isEmpty();
    return outcome;
}

} // namespace

class tst_Utilities : public QObject
{
    Q_OBJECT

    HttpsStandIn m_server;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(QHostAddress(QStringLiteral("127.0.0.1"))), qPrintable(m_server.failureReason()));
        m_server.trustInProcess();
    }

    void init()
    {
        m_server.clearRequests();
        m_server.clearAnswers();
        useServiceDesk(m_server.url(QStringLiteral("/")), credential);
    }

    // A rejected key used to send the IV alone to the printer as if it were a material.
    void installPayload()
    {
        const QString text = Utilities().encryptDocumentForInstall(groupKey, document);
        QCOMPARE(text.size(), 32 + 2 * (document.size() + 12));
        QVERIFY(isUpperHex(text));
        QCOMPARE(Zq::Encrypt().DecryptWithKey(groupKey, text.toUtf8(), false), document);
        QCOMPARE(Utilities().encryptDocumentForInstall(groupKey.left(31), document), QString());
    }

    // Password layer inside, group key outside.
    void distributableDecryptsThroughBothLayers()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("m #1.zqmatd"));
        QVERIFY(Utilities().encryptedDataToPath(QUrl::fromLocalFile(path), password, groupKey, document));
        const QByteArray inner = Zq::Encrypt().DecryptWithKey(groupKey, readAll(path), false);
        QCOMPARE(Zq::Encrypt().DecryptWithPassword(password, inner), document);
    }

    // A distributable small enough to sit in the write buffer was cut off at
    // the disk's end and reported written.
    void distributableFailsWithoutWriting_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("rejected group key, new file") << groupKey.left(31) << "new.zqmatd" << false << false;
        QTest::newRow("missing folder") << groupKey << "no/such/folder/m.zqmatd" << false << false;
        QTest::newRow("folder as target") << groupKey << "." << false << false;
        QTest::newRow("full disk, old file") << groupKey << "old.zqmatd" << true << true;
    }
    void distributableFailsWithoutWriting()
    {
        QFETCH(QString, key);
        QFETCH(QString, fileName);
        QFETCH(bool, existing);
        QFETCH(bool, fullDisk);
        QTemporaryDir dir;
        std::unique_ptr<FullDisk> disk(fullDisk ? new FullDisk(dir.path()) : nullptr);
        if (disk && !disk->mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        const QUrl url = QUrl::fromLocalFile(dir.filePath(fileName));
        Utilities utilities;
        if (existing)
            QVERIFY(utilities.encryptedDataToPath(url, password, groupKey, document));
        const QByteArray before = readAll(url.toLocalFile());
        if (disk)
            QVERIFY(disk->fill());
        const QStringList entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        // About 10 KB of text: less than the file's write buffer, more than the space left.
        QVERIFY(!utilities.encryptedDataToPath(url, password, key, QByteArray(2500, 'x')));
        QCOMPARE(readAll(url.toLocalFile()), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
    }

    void supportRequestIsPostedOverTls()
    {
        HttpsStandIn::Answer created;
        created.status = 201;
        created.body = createdBody;
        m_server.setAnswer("/rest/servicedeskapi/request", created);
        const QString body = QString::fromUtf8(requestBody);
        const Outcome outcome = submit(body);
        QVERIFY2(outcome.succeeded, qPrintable(outcome.failure));
        QCOMPARE(outcome.answers, 1);
        QVERIFY(outcome.managerFreed);

        QCOMPARE(m_server.requestCount(), 1);
        const HttpsStandIn::Request request = m_server.lastRequest();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/rest/servicedeskapi/request"));
        QCOMPARE(request.body, body.toUtf8());
        QList<QByteArray> ours;
        for (const HttpsStandIn::Header &header : request.headers) {
            const QByteArray name = header.first.toLower();
            if (name == "authorization" || name == "content-type" || name == "accept")
                ours.append(header.first + ": " + header.second);
        }
        QCOMPARE(ours, (QList<QByteArray>{"Authorization: Basic " + credential.toBase64(), "Content-Type: application/json",
                                          "Accept: application/json"}));
        QCOMPARE(request.header("Content-Length"), QByteArray::number(body.toUtf8().size()));
        for (const QString &message : qAsConst(collectedMessages))
            QVERIFY2(!message.contains(QString::fromUtf8(credential)) && !message.contains(QString::fromLatin1(credential.toBase64())),
                     qPrintable(message));
    }

    void supportRequestResultFollowsStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("204") << 204;
        QTest::newRow("302 redirect") << 302;
        QTest::newRow("500") << 500;
    }
    void supportRequestResultFollowsStatus()
    {
        QFETCH(int, status);
        HttpsStandIn::Answer answer;
        answer.status = status;
        if (status == 302)
            answer.headers.append(HttpsStandIn::Header("Location", "https://127.0.0.1:1/login"));
        answer.body = "<html>page</html>";
        m_server.setAnswer("/rest/servicedeskapi/request", answer);

        const Outcome outcome = submit();
        QCOMPARE(outcome.answers, 1);
        QCOMPARE(outcome.succeeded, status < 300);
        QCOMPARE(outcome.failure.isEmpty(), status < 300);
        if (status == 302)
            QVERIFY2(outcome.failure.contains(QStringLiteral("302")), qPrintable(outcome.failure));
        QCOMPARE(m_server.requestCount(), 1); // a redirect is not followed
        QVERIFY(outcome.managerFreed);
    }

    void supportRequestFailsWithoutAnAnswer_data()
    {
        QTest::addColumn<QUrl>("base");
        QTest::addColumn<QByteArray>("credentialValue");
        QTest::addColumn<QString>("word");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
        const QUrl refused(QStringLiteral("https://127.0.0.1:%1").arg(probe.serverPort()));
        probe.close();
        QUrl plain = m_server.url(QStringLiteral("/"));
        plain.setScheme(QStringLiteral("http"));
        QTest::newRow("refused port") << refused << credential << "";
        // The credential must never travel in clear text.
        QTest::newRow("plain http") << plain << credential << "https";
        QTest::newRow("no credential") << m_server.url(QStringLiteral("/")) << QByteArray() << "credential";
    }
    void supportRequestFailsWithoutAnAnswer()
    {
        QFETCH(QUrl, base);
        QFETCH(QByteArray, credentialValue);
        QFETCH(QString, word);
        useServiceDesk(base, credentialValue);
        const Outcome outcome = submit();
        QCOMPARE(outcome.answers, 1);
        QVERIFY(!outcome.succeeded);
        QVERIFY2(!outcome.failure.isEmpty() && outcome.failure.contains(word), qPrintable(outcome.failure));
        QVERIFY2(outcome.ms < 1500, qPrintable(QString::number(outcome.ms)));
        QCOMPARE(m_server.requestCount(), 0);
        QVERIFY(outcome.managerFreed);
    }
};

QTEST_GUILESS_MAIN(tst_Utilities)
#include "tst_utilities.moc"
