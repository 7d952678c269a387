#include "updatehelper.h"
#include "updater.h"
#include "updatertest.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class tst_Updater : public QObject {
    Q_OBJECT

    HttpsStandIn m_server;

    // Serves the answer at /updates.json and runs one check to its end.
    // Status 0 stands for a host that refuses the connection.
    bool check(Updater &updater, const HttpsStandIn::Answer &served)
    {
        m_server.setAnswer("/updates.json", served);
        updater.setUrl(served.status == 0 ? refusedUrl() : m_server.url(QStringLiteral("/updates.json")).toString());
        QSignalSpy finished(&updater, &Updater::checkingFinished);
        updater.checkForUpdates();
        return finished.wait(WaitMs) && finished.count() == 1 && finished.at(0).at(0).toString() == updater.url();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(), qPrintable(m_server.failureReason()));
        m_server.trustInProcess();
    }

    void compare_data()
    {
        QTest::addColumn<QString>("x");
        QTest::addColumn<QString>("y");
        QTest::addColumn<bool>("newer");
        QTest::newRow("patch") << "1.0.1" << "1.0.0" << true;
        QTest::newRow("numeric, not textual") << "1.0.10" << "1.0.9" << true;
        QTest::newRow("equal") << "1.0" << "1.0" << false;
        QTest::newRow("extra zero part") << "1.0.0" << "1.0" << true;
        QTest::newRow("fewer parts") << "1.0" << "1.0.0" << false;
        QTest::newRow("empty") << "" << "1.0.0" << false;
        QTest::newRow("suffix letter") << "1.0.0b" << "1.0.0" << false;
        QTest::newRow("overflow is zero") << "2147483648" << "1" << false;
    }
    void compare()
    {
        QFETCH(QString, x);
        QFETCH(QString, y);
        QFETCH(bool, newer);
        QCOMPARE(Updater::compare(x, y), newer);
    }

    void feedAnswers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("latest");
        QByteArray atLimit = feedWith("1.0.0");
        atLimit.append(QByteArray(int(Updater::maxFeedSize) - atLimit.size(), ' '));
        QTest::newRow("same version") << feedWith("1.0.0") << false << "1.0.0";
        QTest::newRow("newer") << feedWith("1.0.1") << true << "1.0.1";
        QTest::newRow("at the size limit") << atLimit << false << "1.0.0";
        QTest::newRow("numeric version") << feedWith(1.1) << false << "";
        QTest::newRow("missing osx entry") << QByteArray(R"({"updates":{"win":{"latest-version":"9.0.0"}}})") << false << "";
        QTest::newRow("array root") << QByteArray(R"([{"updates":{"osx":{"latest-version":"9"}}}])") << false << "";
        // Regression: a body that is not JSON used to end the check without any answer.
        QTest::newRow("invalid JSON") << QByteArray("<html>maintenance</html>") << false << "";
    }
    void feedAnswers()
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
        const bool hasEntry = body.contains("Fixes.");
        QCOMPARE(updater.changelog(), hasEntry ? QStringLiteral("Fixes.") : QString());
        QCOMPARE(updater.downloadUrl(), hasEntry ? QStringLiteral("https://127.0.0.1/setup.dmg") : QString());
        QCOMPARE(m_server.lastRequest().method, QByteArray("GET"));
        QCOMPARE(m_server.lastRequest().target, QByteArray("/updates.json"));
    }

    // A check that fails leaves the previous answer, or false before any success.
    void failedCheckKeepsPreviousAnswer_data()
    {
        QTest::addColumn<bool>("priorSuccess");
        QTest::addColumn<HttpsStandIn::Answer>("served");
        const QByteArray feed = feedWith("1.0.2");
        HttpsStandIn::Answer silent;
        silent.neverAnswer = true;
        HttpsStandIn::Answer headerFlood = answer(200, feed);
        headerFlood.endlessHead = true;
        HttpsStandIn::Answer trickle = answer(200, feed);
        trickle.trickleMs = 100;
        HttpsStandIn::Answer shortBody = answer(200, feed);
        shortBody.declaredLength = feed.size() + 1;
        shortBody.keepOpen = true;
        QTest::newRow("unreachable, before any success") << false << answer(0, QByteArray());
        QTest::newRow("unreachable") << true << answer(0, QByteArray());
        QTest::newRow("404") << true << answer(404, "Not Found");
        QTest::newRow("500 with a feed body") << true << answer(500, feedWith("1.0.0"));
        QTest::newRow("redirect to http")
            << true << answer(302, feed, { { "Location", "http://127.0.0.1:9/updates.json" } });
        QTest::newRow("six redirects") << true << answer(302, "", { { "Location", "/hop1" } });
        // Regression: the whole body was buffered and parsed whatever its size.
        QTest::newRow("one byte past the size limit") << true << generated(Updater::maxFeedSize + 1);
        // Regression: these held the check for ever.
        QTest::newRow("silent server, before any success") << false << silent;
        QTest::newRow("endless header lines") << true << headerFlood;
        QTest::newRow("trickled body") << true << trickle;
        QTest::newRow("short body on an open socket") << true << shortBody;
    }
    void failedCheckKeepsPreviousAnswer()
    {
        QFETCH(bool, priorSuccess);
        QFETCH(HttpsStandIn::Answer, served);
        for (int hop = 1; hop <= 5; ++hop)
            m_server.setAnswer("/hop" + QByteArray::number(hop),
                               answer(302, "", { { "Location", "/hop" + QByteArray::number(hop + 1) } }));
        m_server.setAnswer("/hop6", answer(200, feedWith("1.0.2")));
        Updater updater;
        updater.setModuleVersion(QStringLiteral("1.0.0"));
        if (priorSuccess)
            QVERIFY(check(updater, answer(200, feedWith("1.0.1"))));
        const int defaultTimeout = Updater::checkTimeoutMs;
        Updater::checkTimeoutMs = 1500;
        QElapsedTimer timer;
        timer.start();
        const bool finished = check(updater, served);
        Updater::checkTimeoutMs = defaultTimeout;
        QVERIFY(finished);
        QVERIFY2(timer.elapsed() < 5000, "the check was not bounded by its time limit");
        QCOMPARE(updater.updateAvailable(), priorSuccess);
        QCOMPARE(updater.latestVersion(), priorSuccess ? QStringLiteral("1.0.1") : QString());
    }

    void feedBehindRedirectsIsRead()
    {
        Updater updater;
        updater.setModuleVersion(QStringLiteral("1.0.0"));
        m_server.setAnswer("/moved/updates.json", answer(200, feedWith("1.0.3")));
        // Five redirects, the most that is followed.
        for (int hop = 1; hop <= 3; ++hop)
            m_server.setAnswer("/r" + QByteArray::number(hop),
                answer(301, "", { { "Location", "/r" + QByteArray::number(hop + 1) } }));
        m_server.setAnswer(
            "/r4", answer(307, "", { { "Location", m_server.url("/moved/updates.json").toEncoded() } }));
        QVERIFY(check(updater, answer(302, "", { { "Location", "/r1" } })));
        QVERIFY(updater.updateAvailable());
        QCOMPARE(updater.latestVersion(), QStringLiteral("1.0.3"));
    }

    void downloadUrlOnlyWithHttps_data()
    {
        QTest::addColumn<QString>("downloadUrl");
        QTest::addColumn<bool>("kept");
        QTest::newRow("https") << "https://127.0.0.1:8443/Gelvantrium.dmg" << true;
        QTest::newRow("https upper-case scheme") << "HTTPS://127.0.0.1/Gelvantrium.dmg" << true;
        QTest::newRow("http") << "http://127.0.0.1/Gelvantrium.dmg" << false;
        QTest::newRow("https without host") << "https:///Gelvantrium.dmg" << false;
    }
    // Regression: an update without a usable address was offered, and every
    // download of it failed without a reason.
    void downloadUrlOnlyWithHttps()
    {
        QFETCH(QString, downloadUrl);
        QFETCH(bool, kept);
        Updater updater;
        updater.setModuleVersion(QStringLiteral("1.0.0"));
        if (!kept)
            QTest::ignoreMessage(QtWarningMsg,
                "Updater: version 1.0.1 is offered without an https download address; "
                "no update reported");
        QVERIFY(check(updater, answer(200, feedWith("1.0.1", downloadUrl))));
        QCOMPARE(updater.updateAvailable(), kept);
        QCOMPARE(updater.downloadUrl(), kept ? downloadUrl : QString());
    }

    // An empty running version would make every feed version look newer.
    void helperChecksWithTheRunningVersion()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
        UpdateHelper::definitionsURL = m_server.url(QStringLiteral("/updates.json")).toString();
        m_server.setAnswer("/updates.json", answer(200, feedWith("1.0.0")));
        UpdateHelper helper;
        QSignalSpy downloaded(&helper, &UpdateHelper::returnDownloadUpdateResponse);
        helper.startDownload(); // nothing offered: false at once
        QCOMPARE(downloaded.count(), 1);
        QCOMPARE(downloaded.at(0).at(0).value<QVariant>(), QVariant(false));
        QSignalSpy answered(&helper, &UpdateHelper::returnCheckForUpdateResponse);
        helper.checkForUpdate();
        QVERIFY(answered.wait(WaitMs));
        QCOMPARE(answered.at(0).at(0).value<QVariant>(), QVariant(false));
    }

    void overlappingChecksEachFinish()
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
};

QTEST_GUILESS_MAIN(tst_Updater)
#include "tst_updater.moc"
