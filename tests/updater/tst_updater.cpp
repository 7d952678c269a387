#include "httpsstandin.h"
#include "updater.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

namespace {

constexpr int WaitMs = 15000;

QByteArray feedWith(const QJsonValue &version, const QString &downloadUrl = QStringLiteral("https://127.0.0.1/setup.dmg"))
{
    QJsonObject entry{ { "latest-version", version },
                       { "changelog", "Fixes." },
                       { "download-url", downloadUrl },
                       { "open-url", "https://127.0.0.1/release" } };
    return QJsonDocument(QJsonObject{ { "updates", QJsonObject{ { "osx", entry } } } }).toJson();
}

HttpsStandIn::Answer answer(int status, const QByteArray &body, const QList<HttpsStandIn::Header> &headers = {})
{
    HttpsStandIn::Answer a;
    a.status = status;
    a.body = body;
    a.headers = headers;
    return a;
}

// A loopback port that nobody listens on: connections to it are refused.
QString refusedUrl()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        return QString();
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("https://127.0.0.1:%1/updates.json").arg(port);
}

} // namespace

class tst_Updater : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void defaults();
    void compare_data();
    void compare();
    void feedAnswers_data();
    void feedAnswers();
    void unreachableHostBeforeAnySuccessAnswersFalse();
    void failedCheckKeepsPreviousAnswer_data();
    void failedCheckKeepsPreviousAnswer();
    void downloadUrlOnlyWithHttps_data();
    void downloadUrlOnlyWithHttps();
    void oversizedFeedIsAFailedCheck_data();
    void oversizedFeedIsAFailedCheck();
    void feedAtTheSizeLimitIsRead();
    void overlappingChecksEachFinish();

private:
    // Serves the body at /updates.json and runs one check; false if it never finished.
    bool check(Updater &updater, const HttpsStandIn::Answer &served);

    HttpsStandIn m_server;
};

void tst_Updater::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.failureReason()));
    m_server.trustInProcess();
}

bool tst_Updater::check(Updater &updater, const HttpsStandIn::Answer &served)
{
    m_server.setAnswer("/updates.json", served);
    updater.setUrl(m_server.url(QStringLiteral("/updates.json")).toString());
    QSignalSpy finished(&updater, &Updater::checkingFinished);
    updater.checkForUpdates();
    return finished.wait(WaitMs) && finished.count() == 1;
}

void tst_Updater::defaults()
{
    Updater updater;
    QCOMPARE(updater.platformKey(), QStringLiteral("osx"));
    QVERIFY(updater.url().isEmpty());
    QVERIFY(!updater.updateAvailable());
    QVERIFY(updater.notifyOnUpdate());
    QVERIFY(!updater.notifyOnFinish());
    QVERIFY(updater.latestVersion().isEmpty());
    QVERIFY(updater.downloadUrl().isEmpty());
    QVERIFY(updater.changelog().isEmpty());
    QVERIFY(updater.moduleVersion().isEmpty());
    QVERIFY(updater.moduleName().isEmpty());
}

void tst_Updater::compare_data()
{
    QTest::addColumn<QString>("x");
    QTest::addColumn<QString>("y");
    QTest::addColumn<bool>("newer");

    QTest::newRow("patch") << "1.0.1" << "1.0.0" << true;
    QTest::newRow("numeric, not textual") << "1.0.10" << "1.0.9" << true;
    QTest::newRow("major beats longer") << "2" << "1.9.9" << true;
    QTest::newRow("equal") << "1.0" << "1.0" << false;
    QTest::newRow("extra nonzero part") << "1.0.1" << "1.0" << true;
    QTest::newRow("extra zero part") << "1.0.0" << "1.0" << true;
    QTest::newRow("fewer parts") << "1.0" << "1.0.0" << false;
    QTest::newRow("empty") << "" << "1.0.0" << false;
    QTest::newRow("suffix letter") << "1.0.0b" << "1.0.0" << false;

    // Parts go through a plain base-10 int conversion.
    QTest::newRow("plus sign") << "+1" << "0" << true;
    QTest::newRow("plus sign equals digit") << "+1" << "1" << false;
    QTest::newRow("leading blank") << " 2" << "1" << true;
    QTest::newRow("int max") << "2147483647" << "2147483646" << true;
    QTest::newRow("overflow is zero") << "2147483648" << "1" << false;
    QTest::newRow("overflow equals zero") << "99999999999.1" << "0.0" << true;
    QTest::newRow("empty middle part") << "1..2" << "1.0" << true;
    QTest::newRow("empty middle part is zero") << "1..2" << "1.0.2" << false;
    QTest::newRow("empty against empty") << "" << "" << false;
    QTest::newRow("empty against zero") << "0" << "" << false;
    QTest::newRow("negative") << "-1" << "0" << false;
}

void tst_Updater::compare()
{
    QFETCH(QString, x);
    QFETCH(QString, y);
    QFETCH(bool, newer);
    QCOMPARE(Updater::compare(x, y), newer);
}

void tst_Updater::feedAnswers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("available");
    QTest::addColumn<QString>("latest");

    QTest::newRow("same version") << feedWith("1.0.0") << false << "1.0.0";
    QTest::newRow("newer") << feedWith("1.0.1") << true << "1.0.1";
    QTest::newRow("more parts") << feedWith("1.0.0.0") << true << "1.0.0.0";
    QTest::newRow("older") << feedWith("0.9.9") << false << "0.9.9";
    QTest::newRow("numeric version") << feedWith(1.1) << false << "";
    QTest::newRow("missing osx entry")
        << QByteArray(R"({"updates":{"win":{"latest-version":"9.0.0"}}})") << false << "";
    QTest::newRow("updates not an object") << QByteArray(R"({"updates":["1.0.1"]})") << false << "";
    QTest::newRow("array root") << QByteArray(R"([{"updates":{"osx":{"latest-version":"9"}}}])") << false << "";
    // Regression: a body that is not JSON used to end the check without any answer.
    QTest::newRow("invalid JSON") << QByteArray("<html>maintenance</html>") << false << "";
    QTest::newRow("empty body") << QByteArray() << false << "";
}

void tst_Updater::feedAnswers()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, available);
    QFETCH(QString, latest);

    Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    // A prior offer must not survive a feed that no longer makes one.
    QVERIFY(check(updater, answer(200, feedWith("2.0.0"))));
    QVERIFY(updater.updateAvailable());

    QVERIFY(check(updater, answer(200, body)));
    QCOMPARE(updater.updateAvailable(), available);
    QCOMPARE(updater.latestVersion(), latest);
    if (body.contains("Fixes.")) {
        QCOMPARE(updater.changelog(), QStringLiteral("Fixes."));
        QCOMPARE(updater.downloadUrl(), QStringLiteral("https://127.0.0.1/setup.dmg"));
    } else {
        QVERIFY(updater.changelog().isEmpty());
        QVERIFY(updater.downloadUrl().isEmpty());
    }

    const HttpsStandIn::Request request = m_server.lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/updates.json"));
}

void tst_Updater::unreachableHostBeforeAnySuccessAnswersFalse()
{
    const QString url = refusedUrl();
    QVERIFY(!url.isEmpty());
    Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    updater.setUrl(url);
    QSignalSpy finished(&updater, &Updater::checkingFinished);
    updater.checkForUpdates();
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toString(), url);
    QVERIFY(!updater.updateAvailable());
}

void tst_Updater::failedCheckKeepsPreviousAnswer_data()
{
    QTest::addColumn<int>("status"); // 0: unreachable host
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("location");

    QTest::newRow("unreachable host") << 0 << QByteArray() << QByteArray();
    QTest::newRow("404") << 404 << QByteArray("Not Found") << QByteArray();
    QTest::newRow("500 with a feed body") << 500 << feedWith("1.0.0") << QByteArray();
    // Qt reports a redirect without error; its body is not the feed.
    QTest::newRow("302 with a feed body") << 302 << feedWith("1.0.0") << QByteArray("https://127.0.0.1/x.json");
}

void tst_Updater::failedCheckKeepsPreviousAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, location);

    Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    QVERIFY(check(updater, answer(200, feedWith("1.0.1"))));
    QVERIFY(updater.updateAvailable());

    if (status == 0) {
        QSignalSpy finished(&updater, &Updater::checkingFinished);
        updater.setUrl(refusedUrl());
        updater.checkForUpdates();
        QVERIFY(finished.wait(WaitMs));
    } else {
        QList<HttpsStandIn::Header> headers;
        if (!location.isEmpty())
            headers.append(HttpsStandIn::Header("Location", location));
        QVERIFY(check(updater, answer(status, body, headers)));
    }
    QVERIFY(updater.updateAvailable());
    QCOMPARE(updater.latestVersion(), QStringLiteral("1.0.1"));
    QCOMPARE(updater.changelog(), QStringLiteral("Fixes."));
}

void tst_Updater::downloadUrlOnlyWithHttps_data()
{
    QTest::addColumn<QString>("downloadUrl");
    QTest::addColumn<bool>("kept");

    QTest::newRow("https") << "https://127.0.0.1:8443/Gelvantrium.dmg" << true;
    QTest::newRow("https upper-case scheme") << "HTTPS://127.0.0.1/Gelvantrium.dmg" << true;
    QTest::newRow("http") << "http://127.0.0.1/Gelvantrium.dmg" << false;
    QTest::newRow("file") << "file:///tmp/Gelvantrium.dmg" << false;
    QTest::newRow("relative") << "Gelvantrium.dmg" << false;
    QTest::newRow("https without host") << "https:///Gelvantrium.dmg" << false;
}

void tst_Updater::downloadUrlOnlyWithHttps()
{
    QFETCH(QString, downloadUrl);
    QFETCH(bool, kept);

    Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    QVERIFY(check(updater, answer(200, feedWith("1.0.1", downloadUrl))));
    QVERIFY(updater.updateAvailable());
    QCOMPARE(updater.downloadUrl(), kept ? downloadUrl : QString());
}

void tst_Updater::oversizedFeedIsAFailedCheck_data()
{
    QTest::addColumn<qint64>("size");

    QTest::newRow("one byte past the limit") << Updater::maxFeedSize + 1;
    QTest::newRow("far past the limit") << qint64(256) * 1024 * 1024;
}

// Regression: the whole body was buffered and parsed whatever its size. A
// body past the limit must be a failed check (the previous answer stands),
// not a feed read as "no update".
void tst_Updater::oversizedFeedIsAFailedCheck()
{
    QFETCH(qint64, size);

    Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    QVERIFY(check(updater, answer(200, feedWith("1.0.1"))));
    QVERIFY(updater.updateAvailable());

    HttpsStandIn::Answer oversized = answer(200, QByteArray());
    oversized.generatedSize = size;
    QVERIFY(check(updater, oversized));
    QVERIFY(updater.updateAvailable());
    QCOMPARE(updater.latestVersion(), QStringLiteral("1.0.1"));
}

void tst_Updater::feedAtTheSizeLimitIsRead()
{
    Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    QVERIFY(check(updater, answer(200, feedWith("1.0.1"))));
    QVERIFY(updater.updateAvailable());

    QByteArray feed = feedWith("1.0.0");
    feed.append(QByteArray(int(Updater::maxFeedSize) - feed.size(), ' '));
    QVERIFY(check(updater, answer(200, feed)));
    QVERIFY(!updater.updateAvailable());
    QCOMPARE(updater.latestVersion(), QStringLiteral("1.0.0"));
}

void tst_Updater::overlappingChecksEachFinish()
{
    Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    m_server.setAnswer("/updates.json", answer(200, feedWith("1.0.1")));
    updater.setUrl(m_server.url(QStringLiteral("/updates.json")).toString());
    QSignalSpy finished(&updater, &Updater::checkingFinished);
    updater.checkForUpdates();
    updater.checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, WaitMs);
    QVERIFY(updater.updateAvailable());
}

QTEST_GUILESS_MAIN(tst_Updater)
#include "tst_updater.moc"
