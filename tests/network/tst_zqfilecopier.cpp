#include "zqfilecopier.h"

#include "../fulldisk.h"
#include "networktest.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a copier reports, in order: "p<value>" per progress value, then
// "complete<value>", "failed" or "cancelled".
struct Outcome : QObject {
    explicit Outcome(ZqFileCopier* copier)
    {
        connect(copier, &ZqFileCopier::percentCompleteChanged, this,
            [this](ZqFileCopier* c) { events << "p" + QString::number(c->percentComplete()); });
        connect(copier, &ZqFileCopier::copyComplete, this,
            [this](ZqFileCopier* c) { events << "complete" + QString::number(c->percentComplete()); });
        connect(copier, &ZqFileCopier::copyFailed, this, [this] { events << "failed"; });
        connect(copier, &ZqFileCopier::copyCancelled, this, [this] { events << "cancelled"; });
    }
    bool finished() const { return !events.isEmpty() && !events.last().startsWith('p'); }
    QStringList events;
};

} // namespace

class tst_ZqFileCopier : public QObject {
    Q_OBJECT
private slots:
    void defaults()
    {
        ZqFileCopier copier(true);
        QCOMPARE(copier.percentComplete(), 0);
        QVERIFY(!copier.cancelCopy());
        QSignalSpy exists(&copier, &ZqFileCopier::destinationExistsChanged);
        copier.setDestinationFile(QString());
        copier.setDestinationFile(QString());
        QCOMPARE(exists.count(), 2);
    }

    void progressAndContent_data()
    {
        columns<int, QStringList>("size", "progress");
        QTest::newRow("empty") << 0 << QStringList { "p100" };
        QTest::newRow("below one chunk") << 1000 << QStringList { "p100" };
        QTest::newRow("three chunks") << 2500 << QStringList { "p40", "p81", "p100" };
    }
    void progressAndContent()
    {
        QFETCH(int, size);
        QFETCH(QStringList, progress);
        QTemporaryDir dir;
        placeFile(dir.filePath("origin"), pattern(size));
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("origin"));
        copier.setDestinationFile(dir.filePath("new/sub/destination"));
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events, progress + QStringList { "complete100" });
        QCOMPARE(readFile(dir.filePath("new/sub/destination")), pattern(size));
        QCOMPARE(tree(dir.filePath("new/sub")), QStringList { "destination" });
    }

    // The old copier removed the destination first, reported a copy cut off
    // by a full disk or a source ending early as complete, and emptied a file
    // copied onto itself.
    void failureKeepsTheOldDestination_data()
    {
        columns<QString, bool, QString>("origin", "starts", "cause");
        // A full disk was logged as "Unknown error".
        QTest::newRow("full disk") << "origin" << true << "No space left on device";
        QTest::newRow("onto itself") << "disk/destination" << false << "";
        QTest::newRow("onto a hard link of itself") << "disk/hardlink" << false << "";
    }
    void failureKeepsTheOldDestination()
    {
        QFETCH(QString, origin);
        QFETCH(bool, starts);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("disk")));
        placeFile(dir.filePath("origin"), pattern(64 * 1024));
        std::unique_ptr<FullDisk> disk(origin == "origin" ? new FullDisk(dir.filePath("disk")) : nullptr);
        if (disk && !disk->mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        if (origin.startsWith("/sys") && QFileInfo(origin).size() != 4096)
            QSKIP("no sysfs file that claims more bytes than it holds");
        const QString destination = dir.filePath("disk/destination");
        placeFile(destination, "old content");
        QVERIFY(
            ::link(QFile::encodeName(destination), QFile::encodeName(dir.filePath("disk/hardlink"))) == 0);
        if (disk)
            QVERIFY(disk->fill());
        const QStringList before = tree(dir.filePath("disk"));
        // Made after the mount, so that its thread sees the small disk too.
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(origin.startsWith('/') ? origin : dir.filePath(origin));
        copier.setDestinationFile(destination);
        if (!cause.isEmpty()) {
            // The worker names the write, not a read, and its cause.
            QTest::ignoreMessage(QtCriticalMsg,
                qPrintable("ZqFileCopyWorker: Copy Failed. failed to write data, Error String: " + cause));
            QTest::ignoreMessage(QtCriticalMsg, qPrintable("ZqFileCopier: Copy Failed: " + cause));
        }
        QCOMPARE(copier.copy(), starts);
        if (starts)
            QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events.mid(qMax(0, outcome.events.size() - 1)),
            starts ? QStringList { "failed" } : QStringList());
        QCOMPARE(readFile(destination), QByteArray("old content"));
        QCOMPARE(tree(dir.filePath("disk")), before);
    }

    // The copy went by the size a file reports: a proc file (0 bytes) was
    // copied empty as complete, a sysfs file (4096 bytes, a few given)
    // failed. It now reads to the end of the file.
    void copyReadsToTheEndWhateverTheSize_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::newRow("proc file reporting 0 bytes") << "/proc/self/status";
        QTest::newRow("sysfs file reporting 4096 bytes") << "/sys/devices/system/cpu/online";
    }
    void copyReadsToTheEndWhateverTheSize()
    {
        QFETCH(QString, origin);
        const QByteArray content = readFile(origin);
        if (content.isEmpty() || content == "<missing>")
            QSKIP("no such file here");
        QTemporaryDir dir;
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(origin);
        copier.setDestinationFile(dir.filePath("copy"));
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events.last(), QString("complete100"));
        const QByteArray copied = readFile(dir.filePath("copy"));
        // The status of the copying process itself differs a little from this one's.
        QCOMPARE(copied.left(content.indexOf('\n')), content.left(content.indexOf('\n')));
        QVERIFY2(copied.size() > content.size() / 2, copied.constData());
    }

    // A pipe made copy() start a worker that waited for a writer for ever:
    // no signal, no cancel, and a destructor that never returned. A device
    // such as /dev/zero was "copied" as an empty file.
    void sourceThatIsNoRegularFileFails_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("/dev/zero") << "/dev/zero";
    }
    void sourceThatIsNoRegularFileFails()
    {
        QFETCH(QString, origin);
        QTemporaryDir dir;
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        {
            ZqFileCopier copier(true);
            Outcome outcome(&copier);
            copier.setOriginFile(origin.startsWith('/') ? origin : dir.filePath(origin));
            copier.setDestinationFile(dir.filePath("destination"));
            if (copier.copy())
                QTRY_VERIFY_WITH_TIMEOUT(outcome.finished(), 20000);
            QCOMPARE(outcome.events.filter(QRegularExpression("^[^p]")), QStringList { "failed" });
            QVERIFY(!copier.cancelCopy());
        } // a destructor that waits for ever runs into the test's time-out
        QCOMPARE(tree(dir.path()), QStringList { "fifo" });
    }

    // A cancel made before the worker starts its loop used to be dropped.
    void cancelRightAfterStartIsHonoured()
    {
        QTemporaryDir dir;
        placeFile(dir.filePath("origin"), pattern(8 * 1024 * 1024));
        placeFile(dir.filePath("destination"), "old content");
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("origin"));
        copier.setDestinationFile(dir.filePath("destination"));
        QVERIFY(copier.copy());
        QTest::ignoreMessage(QtInfoMsg, "ZqFileCopier::copy: Already Currently Copying....");
        QVERIFY(!copier.copy());
        QVERIFY(copier.cancelCopy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events.filter(QRegularExpression("^[^p]")), QStringList { "cancelled" });
        QCOMPARE(readFile(dir.filePath("destination")), QByteArray("old content"));
        QCOMPARE(tree(dir.path()), (QStringList { "destination", "origin" }));

        // Idle again, the copier takes the next file.
        outcome.events.clear();
        placeFile(dir.filePath("origin"), "small");
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events, (QStringList { "p100", "complete100" }));
    }
};

QTEST_GUILESS_MAIN(tst_ZqFileCopier)
#include "tst_zqfilecopier.moc"
