#include "downloader.h"
#include "updatehelper.h"
#include "updater.h"
#include "updatertest.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

// The helpers share one process-wide updater and downloader, so the order of
// these tests matters: the first ones run before any feed was read.
class tst_UpdateHelper : public QObject {
    Q_OBJECT

    HttpsStandIn m_server;
    LaunchCatcher m_catcher;

    bool checkOnce(UpdateHelper &helper)
    {
        QSignalSpy answered(&helper, &UpdateHelper::returnCheckForUpdateResponse);
        helper.checkForUpdate();
        return answered.wait(WaitMs);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(UpdateHelper::definitionsURL.startsWith(QLatin1String("https://")));
        QVERIFY(UpdateHelper::definitionsURL.endsWith(QLatin1String("/updates.json")));
        QVERIFY2(m_server.start(), qPrintable(m_server.failureReason()));
        m_server.trustInProcess();
        UpdateHelper::definitionsURL = m_server.url(QStringLiteral("/updates.json")).toString();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_catcher, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    void sharedObjectsUseFeedAndRunningVersion()
    {
        QVERIFY(!UpdateHelper::initialized);
        UpdateHelper first;
        Updater *updater = UpdateHelper::updater;
        QVERIFY(updater && UpdateHelper::downloader);
        QCOMPARE(updater->url(), UpdateHelper::definitionsURL);
        QCOMPARE(updater->moduleVersion(), QStringLiteral("1.0.0"));
        UpdateHelper second;
        QCOMPARE(UpdateHelper::updater, updater);
    }

    void nothingOfferedYet()
    {
        UpdateHelper helper;
        UpdateHelper::updater->setUrl(refusedUrl());
        QSignalSpy answered(&helper, &UpdateHelper::returnCheckForUpdateResponse);
        helper.checkForUpdate();
        QVERIFY(answered.wait(WaitMs));
        UpdateHelper::updater->setUrl(UpdateHelper::definitionsURL);
        QCOMPARE(answered.count(), 1);
        const QVariant value = answered.at(0).at(0).value<QVariant>();
        QCOMPARE(value.userType(), int(QMetaType::Bool));
        QVERIFY(!value.toBool());

        // Nothing to download: false at once, and nothing asked of the server.
        m_server.clearRequests();
        QSignalSpy response(&helper, &UpdateHelper::returnDownloadUpdateResponse);
        helper.startDownload();
        QCOMPARE(response.count(), 1);
        QCOMPARE(response.at(0).at(0).value<QVariant>(), QVariant(false));
        QTest::qWait(50);
        QCOMPARE(m_server.requestCount(), 0);

        QSignalSpy notFound(&helper, &UpdateHelper::returnDownloadFileNotFound);
        m_catcher.opened.clear();
        QVERIFY(!helper.launchInstaller());
        QCOMPARE(notFound.count(), 1);
        QVERIFY(m_catcher.opened.isEmpty());
    }

    void everyHelperReceivesTheAnswer()
    {
        m_server.setAnswer("/updates.json", answer(200, feedWith("1.0.1")));
        UpdateHelper first;
        UpdateHelper second;
        QSignalSpy secondAnswer(&second, &UpdateHelper::returnCheckForUpdateResponse);
        QVERIFY(checkOnce(first));
        QCOMPARE(secondAnswer.count(), 1);
        QCOMPARE(secondAnswer.at(0).at(0).value<QVariant>(), QVariant(true));
        QCOMPARE(second.getUpdateVersionNumber(), QStringLiteral("1.0.1"));
        QCOMPARE(second.getUpdateReleaseNotes(), QStringLiteral("Fixes."));
    }

    void downloadIsRelayedAndLaunched()
    {
        const QByteArray installer = HttpsStandIn::generatedBody(0, 500000);
        m_server.setAnswer("/Gelvantrium-1.0.1.dmg", answer(200, installer));
        const QUrl url = m_server.url(QStringLiteral("/Gelvantrium-1.0.1.dmg"));
        m_server.setAnswer("/updates.json", answer(200, feedWith("1.0.1", url.toString())));
        UpdateHelper helper;
        QVERIFY(checkOnce(helper));
        QSignalSpy progress(&helper, &UpdateHelper::returnDownloadProgressUpdate);
        QSignalSpy response(&helper, &UpdateHelper::returnDownloadUpdateResponse);
        helper.startDownload();
        QVERIFY(response.wait(WaitMs));
        QCOMPARE(response.at(0).at(0).value<QVariant>(), QVariant(true));
        QVERIFY(helper.isInstallerReady());
        QVERIFY(!progress.isEmpty());
        const QList<QVariant> report = progress.last();
        QCOMPARE(report.at(0).value<QVariant>().toLongLong(), qint64(installer.size()));
        QCOMPARE(report.at(1).value<QVariant>().toLongLong(), qint64(installer.size()));
        QCOMPARE(report.at(2).value<QVariant>().toString(), QStringLiteral("488 KB"));

        m_catcher.opened.clear();
        QVERIFY(helper.launchInstaller());
        QCOMPARE(m_catcher.opened.size(), 1);
        QFile launched(m_catcher.opened.first().toLocalFile());
        QVERIFY(launched.open(QIODevice::ReadOnly) && launched.readAll() == installer);
    }

    void failedDownloadIsRelayed()
    {
        m_server.setAnswer("/missing.dmg", answer(404, "<html>Not Found</html>"));
        const QString url = m_server.url(QStringLiteral("/missing.dmg")).toString();
        m_server.setAnswer("/updates.json", answer(200, feedWith("1.0.2", url)));
        UpdateHelper helper;
        QVERIFY(checkOnce(helper));
        QSignalSpy response(&helper, &UpdateHelper::returnDownloadUpdateResponse);
        QSignalSpy notFound(&helper, &UpdateHelper::returnDownloadFileNotFound);
        helper.startDownload();
        QVERIFY(notFound.wait(WaitMs));
        QCOMPARE(notFound.at(0).at(0).toString(), url);
        QCOMPARE(response.count(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_UpdateHelper)
#include "tst_updatehelper.moc"
