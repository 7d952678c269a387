#include "zqfilecopier.h"

#include "../fulldisk.h"

#include <QtTest>

#include <unistd.h>

namespace {

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), qint64(data.size()));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray pattern(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 7 + i / 251);
    return data;
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Records what a copier reports, in order: "p<value>" per progress value,
// then "complete", "failed:<error>" or "cancelled".
struct Outcome : QObject {
    explicit Outcome(ZqFileCopier* copier)
    {
        connect(copier, &ZqFileCopier::percentCompleteChanged, this,
            [this](ZqFileCopier* c) { events << "p" + QString::number(c->percentComplete()); });
        connect(copier, &ZqFileCopier::copyComplete, this, [this](ZqFileCopier* c) {
            events << "complete";
            finalPercent = c->percentComplete();
        });
        connect(copier, &ZqFileCopier::copyFailed, this,
            [this](ZqFileCopier*, QString error) { events << "failed:" + error; });
        connect(copier, &ZqFileCopier::copyCancelled, this, [this] { events << "cancelled"; });
    }
    bool finished() const
    {
        return !events.isEmpty()
            && (events.last() == "complete" || events.last() == "cancelled"
                || events.last().startsWith("failed:"));
    }
    QStringList events;
    int finalPercent = -1;
};

} // namespace

class tst_ZqFileCopier : public QObject {
    Q_OBJECT
private slots:
    void defaults()
    {
        ZqFileCopier copier(true);
        QCOMPARE(copier.percentComplete(), 0);
        QVERIFY(copier.makeDestinationDirectories());
        QVERIFY(!copier.cancelCopy());
        QSignalSpy exists(&copier, &ZqFileCopier::destinationExistsChanged);
        copier.setDestinationFile(QString());
        copier.setDestinationFile(QString());
        QCOMPARE(exists.count(), 2);
        QTest::ignoreMessage(QtWarningMsg, "ZqFileCopier::copy: originFile  Does not exist");
        QVERIFY(!copier.copy());
    }

    void progressAndContent_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QStringList>("progress");
        QTest::newRow("empty") << 0 << QStringList { "p100" };
        QTest::newRow("below one chunk") << 1000 << QStringList { "p100" };
        QTest::newRow("three chunks") << 2500 << QStringList { "p40", "p81", "p100" };
        QTest::newRow("exact chunks") << 2048 << QStringList { "p50", "p100" };
    }
    void progressAndContent()
    {
        QFETCH(int, size);
        QFETCH(QStringList, progress);
        QTemporaryDir dir;
        const QByteArray data = pattern(size);
        writeFile(dir.filePath("origin"), data);
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("origin"));
        copier.setDestinationFile(dir.filePath("new/sub/destination"));
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events, progress + QStringList { "complete" });
        QCOMPARE(outcome.finalPercent, 100);
        QCOMPARE(copier.percentComplete(), 0);
        QCOMPARE(readFile(dir.filePath("new/sub/destination")), data);
        QCOMPARE(entries(dir.filePath("new/sub")), QStringList { "destination" });
    }

    void progressRisesByWholePercents()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("origin"), pattern(100000));
        ZqFileCopier copier(false);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("origin"));
        copier.setDestinationFile(dir.filePath("destination"));
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        // 1024 bytes are 1.024 percent: 41 is followed by 43.
        QCOMPARE(outcome.events.mid(0, 3), (QStringList { "p1", "p2", "p3" }));
        QCOMPARE(outcome.events.mid(39, 3), (QStringList { "p40", "p41", "p43" }));
        QCOMPARE(outcome.events.mid(outcome.events.size() - 3), (QStringList { "p99", "p100", "complete" }));
        QCOMPARE(readFile(dir.filePath("destination")), pattern(100000));
    }

    void missingDestinationFolderFailsWithoutCreation()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("origin"), "data");
        ZqFileCopier copier(false);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("origin"));
        copier.setDestinationFile(dir.filePath("missing/destination"));
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events.size(), 1);
        QVERIFY2(outcome.events.first().startsWith("failed:") && outcome.events.first().size() > 7,
            qPrintable(outcome.events.first()));
        QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    }

    // The old copier removed the destination first and reported a cut-off
    // copy on a full disk as complete.
    void fullDiskKeepsTheOldDestination()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("disk")));
        writeFile(dir.filePath("origin"), pattern(64 * 1024));
        FullDisk disk(dir.filePath("disk"));
        if (!disk.mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        writeFile(dir.filePath("disk/destination"), "old content");
        QVERIFY(disk.fill());
        const QStringList before = entries(dir.filePath("disk"));
        // Created after the mount, so that its thread sees the small disk too.
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("origin"));
        copier.setDestinationFile(dir.filePath("disk/destination"));
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QVERIFY2(outcome.events.last().startsWith("failed:"), qPrintable(outcome.events.join(' ')));
        QCOMPARE(readFile(dir.filePath("disk/destination")), QByteArray("old content"));
        QCOMPARE(entries(dir.filePath("disk")), before);
    }

    // A sysfs file claims 4096 bytes and gives a few: a source that ends early.
    void sourceEndingEarlyFails()
    {
        const QString source = "/sys/devices/system/cpu/online";
        if (QFileInfo(source).size() != 4096)
            QSKIP("no sysfs file that claims more bytes than it holds");
        QTemporaryDir dir;
        writeFile(dir.filePath("destination"), "old content");
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(source);
        copier.setDestinationFile(dir.filePath("destination"));
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QVERIFY2(outcome.events.last().startsWith("failed:"), qPrintable(outcome.events.join(' ')));
        QCOMPARE(readFile(dir.filePath("destination")), QByteArray("old content"));
        QCOMPARE(entries(dir.path()), QStringList { "destination" });
    }

    void copyOntoItselfIsRefused_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::newRow("same path") << "file";
        QTest::newRow("other spelling") << "sub/../file";
        QTest::newRow("hard link") << "hardlink";
        QTest::newRow("symbolic link") << "symlink";
    }
    void copyOntoItselfIsRefused()
    {
        QFETCH(QString, destination);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("sub")));
        writeFile(dir.filePath("file"), "content");
        QVERIFY(::link(QFile::encodeName(dir.filePath("file")), QFile::encodeName(dir.filePath("hardlink")))
            == 0);
        QVERIFY(QFile::link(dir.filePath("file"), dir.filePath("symlink")));
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("file"));
        copier.setDestinationFile(dir.filePath(destination));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is the origin itself"));
        QVERIFY(!copier.copy());
        QCOMPARE(readFile(dir.filePath("file")), QByteArray("content"));
        QTest::qWait(20);
        QVERIFY(outcome.events.isEmpty());
    }

    // A cancel made before the worker starts its loop used to be dropped.
    void cancelRightAfterStartIsHonoured()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("origin"), pattern(8 * 1024 * 1024));
        writeFile(dir.filePath("destination"), "old content");
        ZqFileCopier copier(true);
        Outcome outcome(&copier);
        copier.setOriginFile(dir.filePath("origin"));
        copier.setDestinationFile(dir.filePath("destination"));
        QVERIFY(copier.copy());
        QTest::ignoreMessage(QtInfoMsg, "ZqFileCopier::copy: Already Currently Copying....");
        QVERIFY(!copier.copy());
        QVERIFY(copier.cancelCopy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events.last(), QString("cancelled"));
        QCOMPARE(outcome.events.count("cancelled"), 1);
        QCOMPARE(readFile(dir.filePath("destination")), QByteArray("old content"));
        QCOMPARE(entries(dir.path()), (QStringList { "destination", "origin" }));
        QVERIFY(!copier.cancelCopy());

        // The copier is idle again and copies the next file.
        outcome.events.clear();
        writeFile(dir.filePath("origin"), "small");
        QVERIFY(copier.copy());
        QTRY_VERIFY(outcome.finished());
        QCOMPARE(outcome.events, (QStringList { "p100", "complete" }));
        QCOMPARE(readFile(dir.filePath("destination")), QByteArray("small"));
    }
};

QTEST_GUILESS_MAIN(tst_ZqFileCopier)
#include "tst_zqfilecopier.moc"
