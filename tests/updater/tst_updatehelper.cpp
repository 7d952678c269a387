#include "downloader.h"
#include "httpsstandin.h"
#include "updatehelper.h"
#include "updater.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

namespace {

constexpr int WaitMs = 15000;

class LaunchCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

HttpsStandIn::Answer answer(int status, const QByteArray &body)
{
    HttpsStandIn::Answer a;
    a.status = status;
    a.body = body;
    return a;
}

QByteArray feed(const QString &version, const QString &downloadUrl)
{
    const QJsonObject entry{ { "latest-version", version },
                             { "changelog", "Faster saving." },
                             { "download-url", downloadUrl } };
    return QJsonDocument(QJsonObject{ { "updates", QJsonObject{ { "osx", entry } } } }).toJson();
}

} // namespace

// The helpers share one process-wide updater and downloader, so the order of
// these tests matters: the first ones run before any feed was read.
class tst_UpdateHelper : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void sharedObjectsUseFeedAndRunningVersion();
    void unreachableFeedBeforeAnySuccessAnswersFalse();
    void downloadWithoutUpdateAnswersFalseAtOnce();
    void launchBeforeDownloadAnswersFalse();
    void everyHelperReceivesTheAnswer();
    void downloadIsRelayedAndLaunched();
    void failedDownloadIsRelayed();
    void plainHttpInstallerIsNotDownloaded();

private:
    void serveFeed(const QString &version, const QString &downloadUrl);
    bool checkOnce(UpdateHelper &helper);

    HttpsStandIn m_server;
    LaunchCatcher m_catcher;
};

void tst_UpdateHelper::initTestCase()
{
    QVERIFY(UpdateHelper::definitionsURL.startsWith(QLatin1String("https://")));
    QVERIFY(UpdateHelper::definitionsURL.endsWith(QLatin1String("/updates.json")));
    QVERIFY(!UpdateHelper::initialized);

    QVERIFY2(m_server.start(), qPrintable(m_server.failureReason()));
    m_server.trustInProcess();
    UpdateHelper::definitionsURL = m_server.url(QStringLiteral("/updates.json")).toString();
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_catcher, "open");
}

void tst_UpdateHelper::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void tst_UpdateHelper::serveFeed(const QString &version, const QString &downloadUrl)
{
    m_server.setAnswer("/updates.json", answer(200, feed(version, downloadUrl)));
}

bool tst_UpdateHelper::checkOnce(UpdateHelper &helper)
{
    QSignalSpy answered(&helper, &UpdateHelper::returnCheckForUpdateResponse);
    helper.checkForUpdate();
    return answered.wait(WaitMs);
}

void tst_UpdateHelper::sharedObjectsUseFeedAndRunningVersion()
{
    UpdateHelper first;
    QVERIFY(UpdateHelper::initialized);
    Updater *updater = UpdateHelper::updater;
    Downloader *downloader = UpdateHelper::downloader;
    QVERIFY(updater && downloader);
    QCOMPARE(updater->url(), UpdateHelper::definitionsURL);
    QCOMPARE(updater->moduleVersion(), QStringLiteral("1.0.0"));
    QVERIFY(!updater->notifyOnFinish());
    QVERIFY(!updater->notifyOnUpdate());

    UpdateHelper second;
    QCOMPARE(UpdateHelper::updater, updater);
    QCOMPARE(UpdateHelper::downloader, downloader);
    QVERIFY(first.getUpdateVersionNumber().isEmpty());
    QVERIFY(first.getUpdateReleaseNotes().isEmpty());
    QVERIFY(!first.isInstallerReady());
}

void tst_UpdateHelper::unreachableFeedBeforeAnySuccessAnswersFalse()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const QString refused = QStringLiteral("https://127.0.0.1:%1/updates.json").arg(probe.serverPort());
    probe.close();

    UpdateHelper helper;
    UpdateHelper::updater->setUrl(refused);
    QSignalSpy answered(&helper, &UpdateHelper::returnCheckForUpdateResponse);
    helper.checkForUpdate();
    QVERIFY(answered.wait(WaitMs));
    UpdateHelper::updater->setUrl(UpdateHelper::definitionsURL);
    QCOMPARE(answered.count(), 1);
    const QVariant value = answered.at(0).at(0).value<QVariant>();
    QCOMPARE(value.userType(), int(QMetaType::Bool));
    QCOMPARE(value.toBool(), false);
}

void tst_UpdateHelper::downloadWithoutUpdateAnswersFalseAtOnce()
{
    m_server.clearRequests();
    UpdateHelper helper;
    QSignalSpy response(&helper, &UpdateHelper::returnDownloadUpdateResponse);
    helper.startDownload();
    QCOMPARE(response.count(), 1);
    QCOMPARE(response.at(0).at(0).value<QVariant>().toBool(), false);
    QTest::qWait(50);
    QCOMPARE(m_server.requestCount(), 0);
}

void tst_UpdateHelper::launchBeforeDownloadAnswersFalse()
{
    UpdateHelper helper;
    QSignalSpy notFound(&helper, &UpdateHelper::returnDownloadFileNotFound);
    m_catcher.opened.clear();
    QVERIFY(!helper.launchInstaller());
    QCOMPARE(notFound.count(), 1);
    QVERIFY(m_catcher.opened.isEmpty());
}

void tst_UpdateHelper::everyHelperReceivesTheAnswer()
{
    serveFeed(QStringLiteral("1.0.1"), QStringLiteral("https://127.0.0.1/unused.dmg"));
    UpdateHelper first;
    UpdateHelper second;
    QSignalSpy firstAnswer(&first, &UpdateHelper::returnCheckForUpdateResponse);
    QSignalSpy secondAnswer(&second, &UpdateHelper::returnCheckForUpdateResponse);
    first.checkForUpdate();
    QVERIFY(firstAnswer.wait(WaitMs));
    QCOMPARE(firstAnswer.count(), 1);
    QCOMPARE(secondAnswer.count(), 1);
    QCOMPARE(firstAnswer.at(0).at(0).value<QVariant>().toBool(), true);
    QCOMPARE(secondAnswer.at(0).at(0).value<QVariant>().toBool(), true);
    QCOMPARE(second.getUpdateVersionNumber(), QStringLiteral("1.0.1"));
    QCOMPARE(second.getUpdateReleaseNotes(), QStringLiteral("Faster saving."));
}

void tst_UpdateHelper::downloadIsRelayedAndLaunched()
{
    const QByteArray installer = HttpsStandIn::generatedBody(0, 500000);
    m_server.setAnswer("/Gelvantrium-1.0.1.dmg", answer(200, installer));
    serveFeed(QStringLiteral("1.0.1"), m_server.url(QStringLiteral("/Gelvantrium-1.0.1.dmg")).toString());

    UpdateHelper helper;
    QVERIFY(checkOnce(helper));
    QSignalSpy progress(&helper, &UpdateHelper::returnDownloadProgressUpdate);
    QSignalSpy response(&helper, &UpdateHelper::returnDownloadUpdateResponse);
    QSignalSpy notFound(&helper, &UpdateHelper::returnDownloadFileNotFound);
    helper.startDownload();
    QVERIFY(response.wait(WaitMs));
    QCOMPARE(response.count(), 1);
    QCOMPARE(response.at(0).at(0).value<QVariant>().toBool(), true);
    QCOMPARE(notFound.count(), 0);
    QVERIFY(helper.isInstallerReady());

    QVERIFY(!progress.isEmpty());
    const QList<QVariant> lastReport = progress.last();
    QCOMPARE(lastReport.at(0).value<QVariant>().toLongLong(), qint64(installer.size()));
    QCOMPARE(lastReport.at(1).value<QVariant>().toLongLong(), qint64(installer.size()));
    QCOMPARE(lastReport.at(2).value<QVariant>().toString(), QStringLiteral("488 KB"));
    QCOMPARE(lastReport.at(3).value<QVariant>().toString(), QStringLiteral("488 KB"));

    m_catcher.opened.clear();
    QVERIFY(helper.launchInstaller());
    QCOMPARE(m_catcher.opened.size(), 1);
    QFile launched(m_catcher.opened.first().toLocalFile());
    QVERIFY(launched.open(QIODevice::ReadOnly));
    QVERIFY(launched.readAll() == installer);
}

void tst_UpdateHelper::failedDownloadIsRelayed()
{
    m_server.setAnswer("/missing.dmg", answer(404, "<html>Not Found</html>"));
    const QString url = m_server.url(QStringLiteral("/missing.dmg")).toString();
    serveFeed(QStringLiteral("1.0.2"), url);

    UpdateHelper helper;
    QVERIFY(checkOnce(helper));
    QSignalSpy response(&helper, &UpdateHelper::returnDownloadUpdateResponse);
    QSignalSpy notFound(&helper, &UpdateHelper::returnDownloadFileNotFound);
    helper.startDownload();
    QVERIFY(notFound.wait(WaitMs));
    QCOMPARE(notFound.at(0).at(0).toString(), url);
    QCOMPARE(response.count(), 0);
}

void tst_UpdateHelper::plainHttpInstallerIsNotDownloaded()
{
    serveFeed(QStringLiteral("1.0.3"), QStringLiteral("http://127.0.0.1/Gelvantrium-1.0.3.dmg"));
    UpdateHelper helper;
    QVERIFY(checkOnce(helper));
    QCOMPARE(helper.getUpdateVersionNumber(), QStringLiteral("1.0.3"));

    m_server.clearRequests();
    QSignalSpy response(&helper, &UpdateHelper::returnDownloadUpdateResponse);
    helper.startDownload();
    QCOMPARE(response.count(), 1);
    QCOMPARE(response.at(0).at(0).value<QVariant>().toBool(), false);
    QTest::qWait(50);
    QCOMPARE(m_server.requestCount(), 0);
}

QTEST_GUILESS_MAIN(tst_UpdateHelper)
#include "tst_updatehelper.moc"
