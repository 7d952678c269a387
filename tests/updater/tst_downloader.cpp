#include "downloader.h"
#include "httpsstandin.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

Q_DECLARE_METATYPE(HttpsStandIn::Answer)

namespace {

constexpr int WaitMs = 20000;

// Stands in for the desktop's opener, so that nothing is launched.
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

HttpsStandIn::Answer generated(qint64 size)
{
    HttpsStandIn::Answer a;
    a.generatedSize = size;
    return a;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file under the temporary folder whose name starts with prefix,
// including half-written ones.
QStringList filesStartingWith(const QString &prefix)
{
    QStringList found;
    QDirIterator it(QDir::tempPath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().startsWith(prefix))
            found.append(it.filePath());
    }
    return found;
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

} // namespace

class tst_Downloader : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void defaults();
    void openWithoutDownloadIsNotFound();
    void round_data();
    void round();
    void totalSizeText_data();
    void totalSizeText();
    void receivedSizeText_data();
    void receivedSizeText();
    void timeRemainingText_data();
    void timeRemainingText();
    void goodDownloadIsSavedAndLaunched();
    void failedDownloadIsNotFound_data();
    void failedDownloadIsNotFound();
    void failedDownloadKeepsEarlierInstaller();
    void fullDiskIsNotFound();
    void addressEndingInSlashIsNotFound();
    void onlyHttpsIsFetched_data();
    void onlyHttpsIsFetched();
    void secondDownloadReplacesFirst();
    void cancelReportsNotFound();

private:
    HttpsStandIn m_server;
    LaunchCatcher m_catcher;
};

void tst_Downloader::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.failureReason()));
    m_server.trustInProcess();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_catcher, "open");
}

void tst_Downloader::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void tst_Downloader::defaults()
{
    Downloader downloader;
    QVERIFY(!downloader.isInstallerReady());
    QVERIFY(downloader.filePath().isEmpty());
    QVERIFY(downloader.parent() == nullptr);
    downloader.cancelDownload(); // nothing to cancel: no effect
}

void tst_Downloader::openWithoutDownloadIsNotFound()
{
    Downloader downloader;
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    m_catcher.opened.clear();
    QVERIFY(!downloader.openDownload());
    QCOMPARE(notFound.count(), 1);
    QVERIFY(m_catcher.opened.isEmpty());
}

void tst_Downloader::round_data()
{
    QTest::addColumn<float>("input");
    QTest::addColumn<float>("expected");
    QTest::newRow("whole") << 1953.0f << 1953.0f;
    QTest::newRow("half up") << 0.125f << 0.13f;
    QTest::newRow("half away from zero") << -0.125f << -0.13f;
    QTest::newRow("down") << 2.344f << 2.34f;
    QTest::newRow("zero") << 0.0f << 0.0f;
}

void tst_Downloader::round()
{
    QFETCH(float, input);
    QFETCH(float, expected);
    QCOMPARE(Downloader::round(input), expected);
}

void tst_Downloader::totalSizeText_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown") << qint64(-1) << "-1 bytes";
    QTest::newRow("zero") << qint64(0) << "0 bytes";
    QTest::newRow("1023") << qint64(1023) << "1023 bytes";
    QTest::newRow("1024") << qint64(1024) << "1 KB";
    QTest::newRow("a million") << qint64(1000000) << "976 KB";
    QTest::newRow("two million") << qint64(2000000) << "1 MB";
    QTest::newRow("1048575") << qint64(1048575) << "1023 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1 MB";
    QTest::newRow("999999 MB") << qint64(999999) * 1048576 << "999999 MB";
    QTest::newRow("a million MB") << qint64(1000000) * 1048576 << "1e+06 MB";
    QTest::newRow("int64 max") << std::numeric_limits<qint64>::max() << "8.79609e+12 MB";
}

void tst_Downloader::totalSizeText()
{
    QFETCH(qint64, total);
    QFETCH(QString, text);
    QCOMPARE(Downloader::totalSizeText(total), text);
}

void tst_Downloader::receivedSizeText_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0 bytes";
    QTest::newRow("1023") << qint64(1023) << "1023 bytes";
    QTest::newRow("1024") << qint64(1024) << "1 KB";
    QTest::newRow("1536") << qint64(1536) << "1 KB";
    QTest::newRow("1048575") << qint64(1048575) << "1023 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1 MB";
    QTest::newRow("a million MB") << qint64(1000000) * 1048576 << "1000000 MB";
}

void tst_Downloader::receivedSizeText()
{
    QFETCH(qint64, received);
    QFETCH(QString, text);
    QCOMPARE(Downloader::receivedSizeText(received), text);
}

void tst_Downloader::timeRemainingText_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<QString>("text");

    // 1000 bytes in one second: the total in thousands is the estimate in seconds.
    QTest::newRow("60 s") << qint64(1000) << qint64(60000) << qint64(1) << "60 seconds";
    QTest::newRow("61 s") << qint64(1000) << qint64(61000) << qint64(1) << "About 1 minutes";
    QTest::newRow("90 s rounds up") << qint64(1000) << qint64(90000) << qint64(1) << "About 2 minutes";
    QTest::newRow("7200 s") << qint64(1000) << qint64(7200000) << qint64(1) << "About 120 minutes";
    QTest::newRow("7201 s") << qint64(1000) << qint64(7201000) << qint64(1) << "About 2 hours";
    QTest::newRow("whole download, not the rest")
        << qint64(5000000) << qint64(50000000) << qint64(10) << "About 2 minutes";
    QTest::newRow("nothing elapsed") << qint64(1000) << qint64(60000) << qint64(0) << "";
    QTest::newRow("clock went back") << qint64(1000) << qint64(60000) << qint64(-5) << "";
    QTest::newRow("speed zero") << qint64(5) << qint64(60000) << qint64(10) << "";
    QTest::newRow("unknown total") << qint64(1) << qint64(-1) << qint64(1) << "0 seconds";
    QTest::newRow("huge total") << qint64(1) << std::numeric_limits<qint64>::max() << qint64(1)
                                << "About 2562047850053632 hours"; // t / 3600 in single precision
}

void tst_Downloader::timeRemainingText()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(qint64, elapsed);
    QFETCH(QString, text);
    QCOMPARE(Downloader::timeRemainingText(received, total, elapsed), text);
}

void tst_Downloader::goodDownloadIsSavedAndLaunched()
{
    const qint64 size = 3 * 1024 * 1024 + 17;
    m_server.setAnswer("/Gelvantrium-1.0.1.dmg", generated(size));
    const QUrl url = m_server.url(QStringLiteral("/Gelvantrium-1.0.1.dmg"));

    Downloader downloader;
    QSignalSpy progress(&downloader, &Downloader::downloadProgressUpdate);
    QSignalSpy finished(&downloader, &Downloader::downloadFinished);
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    downloader.startDownload(url);
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(notFound.count(), 0);

    const QString path = finished.at(0).at(1).toString();
    QCOMPARE(finished.at(0).at(0).toString(), url.toString());
    QCOMPARE(downloader.filePath(), path);
    QVERIFY(downloader.isInstallerReady());
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("Gelvantrium-1.0.1.dmg"));
    QVERIFY(readAll(path) == HttpsStandIn::generatedBody(0, size));

    // Saved in a folder of its own, not under a guessable name in the shared folder.
    const QFileInfo folder(QFileInfo(path).absolutePath());
    QVERIFY(folder.absoluteFilePath() != QFileInfo(QDir::tempPath()).absoluteFilePath());
    QVERIFY(folder.absoluteFilePath().startsWith(QFileInfo(QDir::tempPath()).absoluteFilePath() + '/'));
    QCOMPARE(folder.permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
             QFile::Permissions());

    QVERIFY(progress.count() >= 1);
    qint64 last = -1;
    for (const QList<QVariant> &report : qAsConst(progress)) {
        const qint64 received = report.at(0).toLongLong();
        QVERIFY2(received >= last, "progress went backwards");
        last = received;
        QCOMPARE(report.at(1).toLongLong(), size);
        QCOMPARE(report.at(2).toString(), Downloader::receivedSizeText(received));
        QCOMPARE(report.at(3).toString(), QStringLiteral("3 MB"));
    }
    QCOMPARE(last, size);

    m_catcher.opened.clear();
    QVERIFY(downloader.openDownload());
    QCOMPARE(m_catcher.opened, QList<QUrl>{ QUrl::fromLocalFile(path) });
    QVERIFY(m_catcher.opened.first().isLocalFile());
    QCOMPARE(m_catcher.opened.first().toLocalFile(), path);
}

void tst_Downloader::failedDownloadIsNotFound_data()
{
    QTest::addColumn<HttpsStandIn::Answer>("served");

    HttpsStandIn::Answer redirect = answer(302, "<html>moved</html>");
    redirect.headers.append(HttpsStandIn::Header("Location", "https://127.0.0.1/elsewhere.dmg"));
    HttpsStandIn::Answer dropped = generated(2 * 1024 * 1024);
    dropped.dropAfter = 1024 * 1024;
    HttpsStandIn::Answer truncated = answer(200, QByteArray(4000, 'x'));
    truncated.declaredLength = 8000;

    QTest::newRow("404 page") << answer(404, "<html>Not Found</html>");
    QTest::newRow("500 page") << answer(500, "<html>oops</html>");
    QTest::newRow("302 body") << redirect;
    QTest::newRow("dropped half-way") << dropped;
    QTest::newRow("shorter than its length") << truncated;
    QTest::newRow("empty body") << answer(200, QByteArray());
}

void tst_Downloader::failedDownloadIsNotFound()
{
    QFETCH(HttpsStandIn::Answer, served);
    const QString name = QStringLiteral("failed-%1.dmg").arg(QTest::currentDataTag()).replace(' ', '-');
    m_server.setAnswer("/" + name.toUtf8(), served);
    const QUrl url = m_server.url("/" + name);

    Downloader downloader;
    QSignalSpy finished(&downloader, &Downloader::downloadFinished);
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    downloader.startDownload(url);
    QVERIFY(notFound.wait(WaitMs));
    QCOMPARE(notFound.count(), 1);
    QCOMPARE(notFound.at(0).at(0).toString(), url.toString());
    QTest::qWait(50); // nothing more may follow
    QCOMPARE(finished.count(), 0);
    QCOMPARE(notFound.count(), 1);
    QVERIFY(!downloader.isInstallerReady());
    QVERIFY(downloader.filePath().isEmpty());
    QCOMPARE(filesStartingWith(name), QStringList());

    m_catcher.opened.clear();
    QVERIFY(!downloader.openDownload());
    QVERIFY(m_catcher.opened.isEmpty());
}

void tst_Downloader::failedDownloadKeepsEarlierInstaller()
{
    const QByteArray good = HttpsStandIn::generatedBody(0, 100000);
    m_server.setAnswer("/keep/setup.pkg", answer(200, good));
    Downloader downloader;
    QSignalSpy finished(&downloader, &Downloader::downloadFinished);
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    downloader.startDownload(m_server.url(QStringLiteral("/keep/setup.pkg")));
    QVERIFY(finished.wait(WaitMs));
    const QString path = downloader.filePath();

    // The same name again, cut off: the saved installer must stay whole.
    HttpsStandIn::Answer dropped = generated(2 * 1024 * 1024);
    dropped.dropAfter = 300000;
    m_server.setAnswer("/keep/setup.pkg", dropped);
    downloader.startDownload(m_server.url(QStringLiteral("/keep/setup.pkg")));
    QVERIFY(notFound.wait(WaitMs));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(downloader.filePath(), path);
    QVERIFY(downloader.isInstallerReady());
    QVERIFY(readAll(path) == good);
}

// Regression: an installer small enough to sit in the write buffer was cut
// off at the disk's end, reported saved and offered for launch.
void tst_Downloader::fullDiskIsNotFound()
{
    QTemporaryDir dir;
    if (!mountSmallFilesystem(dir.path()))
        QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
    const QByteArray previousTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    const bool filled = fillUpTo(dir.path(), 4096);

    // Less than the file's write buffer, more than the space left.
    m_server.setAnswer("/full/setup.pkg", answer(200, HttpsStandIn::generatedBody(0, 10000)));
    int finishedCount = -1;
    int notFoundCount = -1;
    bool ready = true;
    QStringList saved;
    {
        Downloader downloader;
        QSignalSpy finished(&downloader, &Downloader::downloadFinished);
        QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
        downloader.startDownload(m_server.url(QStringLiteral("/full/setup.pkg")));
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() + notFound.count() > 0, WaitMs);
        finishedCount = finished.count();
        notFoundCount = notFound.count();
        ready = downloader.isInstallerReady();
        saved = filesStartingWith(QStringLiteral("setup.pkg"));
    }
    qputenv("TMPDIR", previousTemp);
    ::umount(QFile::encodeName(dir.path()).constData());

    QVERIFY(filled);
    QCOMPARE(finishedCount, 0);
    QCOMPARE(notFoundCount, 1);
    QVERIFY(!ready);
    QCOMPARE(saved, QStringList());
}

void tst_Downloader::addressEndingInSlashIsNotFound()
{
    m_server.setAnswer("/installers/", answer(200, "listing"));
    Downloader downloader;
    QSignalSpy finished(&downloader, &Downloader::downloadFinished);
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    downloader.startDownload(m_server.url(QStringLiteral("/installers/")));
    QVERIFY(notFound.wait(WaitMs));
    QCOMPARE(finished.count(), 0);
    QVERIFY(!downloader.isInstallerReady());
}

void tst_Downloader::onlyHttpsIsFetched_data()
{
    QTest::addColumn<QUrl>("url");
    const QUrl https = m_server.url(QStringLiteral("/plain.dmg"));
    QUrl http = https;
    http.setScheme(QStringLiteral("http"));
    QTest::newRow("http") << http;
    QTest::newRow("file") << QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/plain.dmg"));
    QTest::newRow("empty") << QUrl();
}

void tst_Downloader::onlyHttpsIsFetched()
{
    QFETCH(QUrl, url);
    m_server.clearRequests();
    Downloader downloader;
    QSignalSpy finished(&downloader, &Downloader::downloadFinished);
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    downloader.startDownload(url);
    QCOMPARE(notFound.count(), 1);
    QTest::qWait(100);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(m_server.requestCount(), 0);
}

void tst_Downloader::secondDownloadReplacesFirst()
{
    HttpsStandIn::Answer stalled;
    stalled.neverAnswer = true;
    m_server.setAnswer("/first.dmg", stalled);
    m_server.setAnswer("/second.dmg", answer(200, "second installer"));
    m_server.clearRequests();

    Downloader downloader;
    QSignalSpy finished(&downloader, &Downloader::downloadFinished);
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    QSignalSpy received(&m_server, &HttpsStandIn::requestReceived);
    downloader.startDownload(m_server.url(QStringLiteral("/first.dmg")));
    QVERIFY(received.wait(WaitMs));

    downloader.startDownload(m_server.url(QStringLiteral("/second.dmg")));
    QVERIFY(finished.wait(WaitMs));
    QTest::qWait(100);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(notFound.count(), 0); // the abandoned download reports nothing
    QCOMPARE(QFileInfo(downloader.filePath()).fileName(), QStringLiteral("second.dmg"));
    QCOMPARE(readAll(downloader.filePath()), QByteArray("second installer"));
}

void tst_Downloader::cancelReportsNotFound()
{
    HttpsStandIn::Answer stalled;
    stalled.neverAnswer = true;
    m_server.setAnswer("/stalled.dmg", stalled);
    Downloader downloader;
    QSignalSpy notFound(&downloader, &Downloader::downloadFileNotFound);
    QSignalSpy received(&m_server, &HttpsStandIn::requestReceived);
    downloader.startDownload(m_server.url(QStringLiteral("/stalled.dmg")));
    QVERIFY(received.wait(WaitMs));
    downloader.cancelDownload();
    QTRY_COMPARE_WITH_TIMEOUT(notFound.count(), 1, WaitMs);
    QVERIFY(!downloader.isInstallerReady());
    QCOMPARE(filesStartingWith(QStringLiteral("stalled.dmg")), QStringList());
}

QTEST_GUILESS_MAIN(tst_Downloader)
#include "tst_downloader.moc"
