#include "utilities.h"

#include "buildconfig.h"
#include "encrypt.h"
#include "httpsstandin.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

namespace {

const QString groupKey = QStringLiteral("0123456789abcdefghijklmnopqrstuv"); // 32 characters: AES-128
const QString password = QStringLiteral("Pa55w0rd!");
const QByteArray credential = "agent@veltrisan.invalid:t0ken-For-Tests";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sampleDocument()
{
    return QByteArrayLiteral("<ZqMaterial><FriendlyName>Harz grün</FriendlyName></ZqMaterial>");
}

// Mounts a small tmpfs on dir in a mount namespace of this thread's own, so
// that a disk-full can be provoked. False where the system does not allow it.
bool mountSmallFilesystem(const QString &dir)
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=256k") == 0;
}

// Takes up the free space of the filesystem at dir until `leave` bytes remain.
bool fillUpTo(const QString &dir, qint64 leave)
{
    struct statvfs info;
    if (::statvfs(QFile::encodeName(dir).constData(), &info) != 0)
        return false;
    const qint64 free = qint64(info.f_bavail) * qint64(info.f_frsize);
    QFile filler(dir + QStringLiteral("/filler"));
    return free > leave && filler.open(QIODevice::WriteOnly)
        && filler.write(QByteArray(int(free - leave), 'f')) == free - leave && filler.flush();
}

// Collects every message while a support request runs.
QStringList collectedMessages;
void collectMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    collectedMessages.append(message);
}

} // namespace

class tst_Utilities : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void fileNameFromPath_data();
    void fileNameFromPath();
    void absolutePathFromPath();
    void filePathFromURL_data();
    void filePathFromURL();
    void fileExists();

    void installPayloadDecrypts();
    void installPayloadIsEmptyForRejectedKey_data();
    void installPayloadIsEmptyForRejectedKey();
    void distributableWrittenTwiceDiffersAndDecrypts();
    void distributableFailsWithoutWriting_data();
    void distributableFailsWithoutWriting();
    void distributableOnFullDiskKeepsTheOldFile();

    void supportRequestIsPostedOverTls();
    void supportRequestResultFollowsStatus_data();
    void supportRequestResultFollowsStatus();
    void supportRequestToRefusedPortFailsQuickly();
    void supportRequestNeedsHttps();
    void supportRequestWithoutCredentialFailsAtOnce();

private:
    void useServiceDesk(const QUrl &base, const QByteArray &credentialValue);

    HttpsStandIn m_server;
    QTemporaryDir m_dir;
};

void tst_Utilities::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_server.start(QHostAddress(QStringLiteral("127.0.0.1"))), qPrintable(m_server.failureReason()));
    m_server.trustInProcess();
}

void tst_Utilities::init()
{
    m_server.clearRequests();
    m_server.clearAnswers();
    useServiceDesk(m_server.url(QStringLiteral("/")), credential);
}

void tst_Utilities::useServiceDesk(const QUrl &base, const QByteArray &credentialValue)
{
    QString text = base.toString();
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    qputenv("GELV_SERVICE_DESK_URL", text.toUtf8());
    qputenv("GELV_SERVICE_DESK_CREDENTIAL", credentialValue);
}

void tst_Utilities::fileNameFromPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("file URL text") << "file:////home/u/Harz grün.zqmat" << "Harz grün.zqmat";
    QTest::newRow("path") << "/home/u/m.zqmat" << "m.zqmat";
    QTest::newRow("bare name") << "m.zqmat" << "m.zqmat";
    QTest::newRow("trailing slash") << "/home/u/" << "";
    QTest::newRow("empty") << "" << "";
}

void tst_Utilities::fileNameFromPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Utilities().fileNameFromPath(path), expected);
}

void tst_Utilities::absolutePathFromPath()
{
    QCOMPARE(Utilities().absolutePathFromPath(QStringLiteral("/a/b.zqmat")), QStringLiteral("/a/b.zqmat"));
    QCOMPARE(Utilities().absolutePathFromPath(QStringLiteral("b.zqmat")), QDir::current().absoluteFilePath(QStringLiteral("b.zqmat")));
}

void tst_Utilities::filePathFromURL_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("expected");
    QTest::newRow("local") << QUrl::fromLocalFile(QStringLiteral("/a/m#1.zqmat")) << "/a/m#1.zqmat";
    QTest::newRow("document key form") << QUrl(QStringLiteral("file:////a/m.zqmat")) << "//a/m.zqmat";
    QTest::newRow("not local") << QUrl(QStringLiteral("https://example.invalid/m.zqmat")) << "";
    QTest::newRow("empty") << QUrl() << "";
}

void tst_Utilities::filePathFromURL()
{
    QFETCH(QUrl, url);
    QFETCH(QString, expected);
    QCOMPARE(Utilities().filePathFromURL(url), expected);
}

void tst_Utilities::fileExists()
{
    Utilities utilities;
    const QString path = m_dir.filePath(QStringLiteral("exists.zqmat"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(utilities.fileExists(QUrl::fromLocalFile(path)));
    QVERIFY(!utilities.fileExists(QUrl::fromLocalFile(m_dir.path())));
    QVERIFY(QFile::remove(path));
    QVERIFY(!utilities.fileExists(QUrl::fromLocalFile(path)));
    QVERIFY(!utilities.fileExists(QUrl(QStringLiteral("https://example.invalid/x"))));
    QVERIFY(!utilities.fileExists(QUrl()));
}

void tst_Utilities::installPayloadDecrypts()
{
    const QByteArray document = sampleDocument();
    const QString text = Utilities().encryptDocumentForInstall(groupKey, document);
    QCOMPARE(text.size(), 32 + 2 * (document.size() + 12));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(text).hasMatch());
    Zq::Encrypt encrypt;
    QCOMPARE(encrypt.DecryptWithKey(groupKey, text.toUtf8(), false), document);
}

void tst_Utilities::installPayloadIsEmptyForRejectedKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("empty") << QString();
    QTest::newRow("31 characters") << groupKey.left(31);
    QTest::newRow("34 characters") << groupKey + QStringLiteral("xy");
}

// Used to send the IV alone to the printer as if it were a material.
void tst_Utilities::installPayloadIsEmptyForRejectedKey()
{
    QFETCH(QString, key);
    QCOMPARE(Utilities().encryptDocumentForInstall(key, sampleDocument()), QString());
}

void tst_Utilities::distributableWrittenTwiceDiffersAndDecrypts()
{
    Utilities utilities;
    const QByteArray document = sampleDocument();
    const QString first = m_dir.filePath(QStringLiteral("first.zqmatd"));
    const QString second = m_dir.filePath(QStringLiteral("second.zqmatd"));
    QVERIFY(utilities.encryptedDataToPath(QUrl::fromLocalFile(first), password, groupKey, document));
    QVERIFY(utilities.encryptedDataToPath(QUrl::fromLocalFile(second), password, groupKey, document));

    const QByteArray a = readAll(first);
    const QByteArray b = readAll(second);
    QVERIFY(a != b);
    for (const QByteArray &text : {a, b}) {
        QCOMPARE(text.size(), 32 + 2 * (64 + 2 * (document.size() + 12) + 12));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(QString::fromLatin1(text)).hasMatch());
        Zq::Encrypt outer;
        const QByteArray inner = outer.DecryptWithKey(groupKey, text, false);
        QCOMPARE(inner.size(), 64 + 2 * (document.size() + 12));
        Zq::Encrypt innerLayer;
        QCOMPARE(innerLayer.DecryptWithPassword(password, inner), document);
    }
}

void tst_Utilities::distributableFailsWithoutWriting_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("fileExistedBefore");
    QTest::newRow("rejected group key, new file") << groupKey.left(31) << "new.zqmatd" << false;
    QTest::newRow("rejected group key, existing file") << groupKey.left(20) << "existing.zqmatd" << true;
    QTest::newRow("missing folder") << groupKey << "no/such/folder/m.zqmatd" << false;
    QTest::newRow("folder as target") << groupKey << "." << true;
}

void tst_Utilities::distributableFailsWithoutWriting()
{
    QFETCH(QString, key);
    QFETCH(QString, fileName);
    QFETCH(bool, fileExistedBefore);
    const QString path = m_dir.filePath(fileName);
    if (fileExistedBefore && !QFileInfo(path).isDir()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("previous content");
    }
    const QStringList before = QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    QVERIFY(!Utilities().encryptedDataToPath(QUrl::fromLocalFile(path), password, key, sampleDocument()));

    QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    if (fileExistedBefore && !QFileInfo(path).isDir())
        QCOMPARE(readAll(path), QByteArray("previous content"));
    else if (!fileExistedBefore)
        QVERIFY(!QFileInfo::exists(path));
}

// Regression: a distributable small enough to sit in the write buffer was
// cut off at the disk's end and reported written.
void tst_Utilities::distributableOnFullDiskKeepsTheOldFile()
{
    QTemporaryDir dir;
    if (!mountSmallFilesystem(dir.path()))
        QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
    const QString path = dir.filePath(QStringLiteral("m.zqmatd"));
    Utilities utilities;
    const bool firstWritten = utilities.encryptedDataToPath(QUrl::fromLocalFile(path), password, groupKey, sampleDocument());
    const QByteArray before = readAll(path);
    const bool filled = fillUpTo(dir.path(), 4096);

    // About 10 KB of text: less than the file's write buffer, more than the space left.
    const bool written = utilities.encryptedDataToPath(QUrl::fromLocalFile(path), password, groupKey,
                                                       QByteArray(2500, 'x'));
    const QByteArray after = readAll(path);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files);
    ::umount(QFile::encodeName(dir.path()).constData());

    QVERIFY(firstWritten);
    QVERIFY(filled);
    QVERIFY(!written);
    QCOMPARE(after, before);
    QCOMPARE(left, QStringList({QStringLiteral("filler"), QStringLiteral("m.zqmatd")}));
}

void tst_Utilities::supportRequestIsPostedOverTls()
{
    HttpsStandIn::Answer created;
    created.status = 201;
    created.body = R"({"issueKey":"SD-1"})";
    m_server.setAnswer("/rest/servicedeskapi/request", created);

    Utilities utilities;
    QSignalSpy success(&utilities, &Utilities::supportRequestSuccess);
    QSignalSpy fail(&utilities, &Utilities::supportRequestFail);
    const QString body = QStringLiteral(R"({"serviceDeskId":"1","requestFieldValues":{"summary":"Härtung – \"zu weich\"\n"}})");

    collectedMessages.clear();
    QtMessageHandler previous = qInstallMessageHandler(collectMessage);
    utilities.submitSupportRequest(body);
    const bool answered = success.wait(10000);
    qInstallMessageHandler(previous);
    QVERIFY2(answered, qPrintable(fail.isEmpty() ? QStringLiteral("no answer") : fail.constFirst().constFirst().toString()));
    QCOMPARE(fail.count(), 0);

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

    for (const QString &message : qAsConst(collectedMessages)) {
        QVERIFY2(!message.contains(QString::fromUtf8(credential)) && !message.contains(QString::fromLatin1(credential.toBase64())),
                 qPrintable(message));
    }
    // The reply and its manager are freed once the answer is out.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(utilities.findChildren<QNetworkAccessManager *>().isEmpty());
}

void tst_Utilities::supportRequestResultFollowsStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("200") << 200 << true;
    QTest::newRow("201") << 201 << true;
    QTest::newRow("204") << 204 << true;
    QTest::newRow("302 redirect") << 302 << false;
    QTest::newRow("401") << 401 << false;
    QTest::newRow("404") << 404 << false;
    QTest::newRow("500") << 500 << false;
}

void tst_Utilities::supportRequestResultFollowsStatus()
{
    QFETCH(int, status);
    QFETCH(bool, succeeds);
    HttpsStandIn::Answer answer;
    answer.status = status;
    if (status == 302)
        answer.headers.append(HttpsStandIn::Header("Location", "https://127.0.0.1:1/login"));
    if (status == 401)
        answer.headers.append(HttpsStandIn::Header("WWW-Authenticate", "Basic realm=\"desk\""));
    answer.body = "<html>page</html>";
    m_server.setAnswer("/rest/servicedeskapi/request", answer);

    Utilities utilities;
    QSignalSpy success(&utilities, &Utilities::supportRequestSuccess);
    QSignalSpy fail(&utilities, &Utilities::supportRequestFail);
    utilities.submitSupportRequest(QStringLiteral("{}"));
    QTRY_COMPARE_WITH_TIMEOUT(success.count() + fail.count(), 1, 10000);
    QCOMPARE(success.count(), succeeds ? 1 : 0);
    QCOMPARE(m_server.requestCount(), 1); // a redirect is not followed
    if (!succeeds) {
        const QString message = fail.constFirst().constFirst().toString();
        QVERIFY(!message.isEmpty());
        if (status == 302)
            QVERIFY2(message.contains(QStringLiteral("302")), qPrintable(message));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(utilities.findChildren<QNetworkAccessManager *>().isEmpty());
}

void tst_Utilities::supportRequestToRefusedPortFailsQuickly()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    const quint16 port = probe.serverPort();
    probe.close();
    useServiceDesk(QUrl(QStringLiteral("https://127.0.0.1:%1").arg(port)), credential);

    Utilities utilities;
    QSignalSpy success(&utilities, &Utilities::supportRequestSuccess);
    QSignalSpy fail(&utilities, &Utilities::supportRequestFail);
    QElapsedTimer timer;
    timer.start();
    utilities.submitSupportRequest(QStringLiteral("{}"));
    QVERIFY(fail.wait(5000));
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(success.count(), 0);
    QVERIFY(!fail.constFirst().constFirst().toString().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(utilities.findChildren<QNetworkAccessManager *>().isEmpty());
}

// The credential must never travel in clear text.
void tst_Utilities::supportRequestNeedsHttps()
{
    QUrl plain = m_server.url(QStringLiteral("/"));
    plain.setScheme(QStringLiteral("http"));
    useServiceDesk(plain, credential);
    Utilities utilities;
    QSignalSpy fail(&utilities, &Utilities::supportRequestFail);
    utilities.submitSupportRequest(QStringLiteral("{}"));
    QCOMPARE(fail.count(), 0); // reported after the call returns
    QVERIFY(fail.wait(2000));
    QVERIFY(fail.constFirst().constFirst().toString().contains(QStringLiteral("https")));
    QTest::qWait(100);
    QCOMPARE(m_server.requestCount(), 0);
}

void tst_Utilities::supportRequestWithoutCredentialFailsAtOnce()
{
    if (qstrlen(GELV_SERVICE_DESK_CREDENTIAL) != 0)
        QSKIP("This build has a service-desk credential configured");
    qunsetenv("GELV_SERVICE_DESK_CREDENTIAL");
    Utilities utilities;
    QSignalSpy fail(&utilities, &Utilities::supportRequestFail);
    QElapsedTimer timer;
    timer.start();
    utilities.submitSupportRequest(QStringLiteral("{}"));
    QVERIFY(fail.wait(2000));
    QVERIFY(timer.elapsed() < 500);
    QVERIFY(fail.constFirst().constFirst().toString().contains(QStringLiteral("credential")));
    QTest::qWait(100);
    QCOMPARE(m_server.requestCount(), 0);
    QVERIFY(utilities.findChildren<QNetworkAccessManager *>().isEmpty());
}

QTEST_GUILESS_MAIN(tst_Utilities)
#include "tst_utilities.moc"
