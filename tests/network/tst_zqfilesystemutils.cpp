#include "zqfilesystemutils.h"

#include "../fulldisk.h"
#include "networktest.h"

class tst_ZqFileSystemUtils : public QObject {
    Q_OBJECT
private slots:
    void directorySizeCountsFilesButNotLinks()
    {
        QTemporaryDir dir;
        placeFile(dir.filePath("ten"), "0123456789");
        placeFile(dir.filePath("sub/five"), "01234");
        QVERIFY(QFile::link(dir.filePath("ten"), dir.filePath("sub/link")));
        QVERIFY(QFile::link(dir.filePath("sub"), dir.filePath("dirlink")));
        QCOMPARE(ZqFileSystemUtils::DirectorySizeBytes(QDir(dir.path())), qint64(15));
    }

    void copyDirectoryRecursiveKeepsExistingFiles()
    {
        QTemporaryDir dir;
        placeFile(dir.filePath("x/data/a"), "new a");
        placeFile(dir.filePath("x/data/deep/b"), "new b");
        placeFile(dir.filePath("y/data/a"), "old a");
        QVERIFY(
            ZqFileSystemUtils::CopyDirectoryRecursive(QDir(dir.filePath("x/data")), QDir(dir.filePath("y"))));
        QCOMPARE(tree(dir.filePath("y")), (QStringList { "data", "data/a", "data/deep", "data/deep/b" }));
        QCOMPARE(readFile(dir.filePath("y/data/a")), QByteArray("old a"));
        QCOMPARE(readFile(dir.filePath("y/data/deep/b")), QByteArray("new b"));
    }

    // Copying into its own tree would feed the copy with itself.
    void copyIntoOwnTreeIsRefused_data()
    {
        columns<bool, QString>("contents", "destination");
        QTest::newRow("contents into a subfolder") << true << "src/sub/copy";
        QTest::newRow("contents through a link") << true << "link/new";
        QTest::newRow("folder into its parent") << false << ".";
    }
    void copyIntoOwnTreeIsRefused()
    {
        QFETCH(bool, contents);
        QFETCH(QString, destination);
        QTemporaryDir dir;
        placeFile(dir.filePath("src/sub/g"), "g");
        QVERIFY(QFile::link(dir.filePath("src"), dir.filePath("link")));
        const QStringList before = tree(dir.path());
        const QDir source(dir.filePath("src")), target(dir.filePath(destination));
        QVERIFY(contents ? !ZqFileSystemUtils::CopyDirectoryContentsRecursive(source, target)
                         : !ZqFileSystemUtils::CopyDirectoryRecursive(source, target));
        QCOMPARE(tree(dir.path()), before);
    }

    // A link back to an ancestor is walked once, not until paths run out.
    void linkCyclesEnd()
    {
        QTemporaryDir dir;
        placeFile(dir.filePath("src/f"), "f");
        placeFile(dir.filePath("src/a/g"), "g");
        QVERIFY(QFile::link(dir.filePath("src"), dir.filePath("src/a/loop")));
        QStringList leaves;
        for (const QFileInfo& file : ZqFileSystemUtils::AllLeafFiles(QDir(dir.filePath("src"))))
            leaves << QDir(dir.path()).relativeFilePath(file.filePath());
        QCOMPARE(leaves, (QStringList { "src/f", "src/a/g" }));
        QVERIFY(ZqFileSystemUtils::CopyDirectoryContentsRecursive(
            QDir(dir.filePath("src")), QDir(dir.filePath("out"))));
        QCOMPARE(tree(dir.filePath("out")), (QStringList { "a", "a/g", "f" }));
    }

    void failedFileCopiesCount()
    {
        QTemporaryDir dir;
        placeFile(dir.filePath("src/big"), QByteArray(64 * 1024, 'b'));
        QVERIFY(QDir().mkpath(dir.filePath("full")));
        FullDisk disk(dir.filePath("full"));
        if (!disk.mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        QVERIFY(disk.fill());
        const QDir source(dir.filePath("src")), full(dir.filePath("full"));
        QVERIFY(!ZqFileSystemUtils::CopyDirectoryContentsRecursive(source, full));
        QVERIFY(!ZqFileSystemUtils::CopyLeafsToDirectoryRecursive(source, full));
    }

    void removalsDeleteLinksNotTargets_data()
    {
        columns<int, QStringList>("function", "left");
        const QStringList doomed { "doomed", "doomed/dangling", "doomed/file", "doomed/link" };
        QTest::newRow("recursive") << 0 << QStringList { "target", "target/keep" };
        QTest::newRow("contents") << 1 << QStringList { "doomed", "target", "target/keep", "toplink" };
        QTest::newRow("leaf") << 2 << doomed + QStringList { "target", "target/keep" };
    }
    void removalsDeleteLinksNotTargets()
    {
        QFETCH(int, function);
        QFETCH(QStringList, left);
        QTemporaryDir dir;
        placeFile(dir.filePath("target/keep"), "keep");
        placeFile(dir.filePath("doomed/file"), "x");
        QVERIFY(QFile::link(dir.filePath("target"), dir.filePath("doomed/link")));
        QVERIFY(QFile::link(dir.filePath("target"), dir.filePath("toplink")));
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("doomed/dangling")));
        const QString doomed = dir.filePath("doomed"), toplink = dir.filePath("toplink");
        if (function == 0)
            QVERIFY(ZqFileSystemUtils::RemoveDirectoryRecursive(toplink)
                && ZqFileSystemUtils::RemoveDirectoryRecursive(doomed));
        else if (function == 1)
            QVERIFY(ZqFileSystemUtils::RemoveDirectoryContentsRecursive(doomed));
        else
            QVERIFY(ZqFileSystemUtils::RemoveLeafDirectory(toplink));
        QCOMPARE(tree(dir.path()), left);
    }

    void extendedBaseName()
    {
        QCOMPARE(ZqFileSystemUtils::extendedBaseName("archive"), QString("archive"));
        QCOMPARE(ZqFileSystemUtils::extendedBaseName("/x/a.tar.gz"), QString("a.tar"));
        QCOMPARE(ZqFileSystemUtils::extendedBaseName("/tmp/dir/"), QString());
    }

    // A path with a blank is one program, not a program and an argument.
    void startProgramDetachedKeepsThePathWhole()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath("my tool/run");
        placeFile(program, "#!/bin/sh\ntouch \"$0.ran\"\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        ZqFileSystemUtils utils;
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Starting: " + program));
        bool started = false;
        QVERIFY(QMetaObject::invokeMethod(
            &utils, "startProgramDetached", Q_RETURN_ARG(bool, started), Q_ARG(QString, program)));
        QVERIFY(started);
        QTRY_VERIFY(QFileInfo::exists(program + ".ran"));
        QVERIFY(!ZqFileSystemUtils::StartProgramDetached(dir.filePath("my")));
    }
};

QTEST_GUILESS_MAIN(tst_ZqFileSystemUtils)
#include "tst_zqfilesystemutils.moc"
