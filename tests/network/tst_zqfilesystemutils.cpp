#include "zqfilesystemutils.h"

#include "../fulldisk.h"

#include <QtTest>

#include <memory>

namespace {

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), qint64(data.size()));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Relative paths of every entry below root, links included, sorted.
QStringList tree(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

} // namespace

class tst_ZqFileSystemUtils : public QObject {
    Q_OBJECT
private slots:
    void directorySizeCountsFilesButNotLinks()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("ten"), "0123456789");
        writeFile(dir.filePath("sub/five"), "01234");
        QVERIFY(QFile::link(dir.filePath("ten"), dir.filePath("sub/link")));
        QVERIFY(QFile::link(dir.filePath("sub"), dir.filePath("dirlink")));
        QCOMPARE(ZqFileSystemUtils::DirectorySizeBytes(QDir(dir.path())), qint64(15));
    }

    void copyDirectoryRecursiveKeepsExistingFiles()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("x/data/a"), "new a");
        writeFile(dir.filePath("x/data/deep/b"), "new b");
        writeFile(dir.filePath("y/data/a"), "old a");
        QVERIFY(
            ZqFileSystemUtils::CopyDirectoryRecursive(QDir(dir.filePath("x/data")), QDir(dir.filePath("y"))));
        QCOMPARE(tree(dir.filePath("y")), (QStringList { "data", "data/a", "data/deep", "data/deep/b" }));
        QCOMPARE(readFile(dir.filePath("y/data/a")), QByteArray("old a"));
        QCOMPARE(readFile(dir.filePath("y/data/deep/b")), QByteArray("new b"));
        QVERIFY(!ZqFileSystemUtils::CopyDirectoryRecursive(
            QDir(dir.filePath("missing")), QDir(dir.filePath("y"))));
    }

    void copyIntoOwnTreeIsRefused_data()
    {
        QTest::addColumn<bool>("contents");
        QTest::addColumn<QString>("destination");
        QTest::newRow("contents into a subfolder") << true << "src/sub/copy";
        QTest::newRow("contents into itself") << true << "src";
        QTest::newRow("contents through a link") << true << "link/new";
        QTest::newRow("folder into itself") << false << "src";
        QTest::newRow("folder into its parent") << false << ".";
    }
    void copyIntoOwnTreeIsRefused()
    {
        QFETCH(bool, contents);
        QFETCH(QString, destination);
        QTemporaryDir dir;
        writeFile(dir.filePath("src/f"), "f");
        writeFile(dir.filePath("src/sub/g"), "g");
        QVERIFY(QFile::link(dir.filePath("src"), dir.filePath("link")));
        const QStringList before = tree(dir.path());
        const QDir source(dir.filePath("src"));
        const QDir target(dir.filePath(destination));
        QVERIFY(contents ? !ZqFileSystemUtils::CopyDirectoryContentsRecursive(source, target)
                         : !ZqFileSystemUtils::CopyDirectoryRecursive(source, target));
        QCOMPARE(tree(dir.path()), before);
    }

    // A link back to an ancestor is walked once, not until paths run out.
    void linkCyclesEnd()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("src/f"), "f");
        writeFile(dir.filePath("src/a/g"), "g");
        QVERIFY(QFile::link(dir.filePath("src"), dir.filePath("src/a/loop")));
        QStringList leaves;
        for (const QFileInfo& file : ZqFileSystemUtils::AllLeafFiles(QDir(dir.filePath("src"))))
            leaves << QDir(dir.path()).relativeFilePath(file.filePath());
        QCOMPARE(leaves, (QStringList { "src/f", "src/a/g" }));
        QVERIFY(ZqFileSystemUtils::CopyDirectoryContentsRecursive(
            QDir(dir.filePath("src")), QDir(dir.filePath("out"))));
        QCOMPARE(tree(dir.filePath("out")), (QStringList { "a", "a/g", "f" }));
    }

    void copyLeafsFlattensFirstListedWins()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("src/a/f.txt"), "from a");
        writeFile(dir.filePath("src/b/f.txt"), "from b");
        writeFile(dir.filePath("src/top"), "top");
        const QFileInfoList leaves = ZqFileSystemUtils::AllLeafFiles(QDir(dir.filePath("src")));
        QCOMPARE(leaves.size(), 3);
        QCOMPARE(leaves.first().fileName(), QString("top"));
        const QByteArray first = readFile(leaves.at(1).filePath());
        QVERIFY(ZqFileSystemUtils::CopyLeafsToDirectoryRecursive(
            QDir(dir.filePath("src")), QDir(dir.filePath("out"))));
        QCOMPARE(tree(dir.filePath("out")), (QStringList { "f.txt", "top" }));
        QCOMPARE(readFile(dir.filePath("out/f.txt")), first);
    }

    void failedFileCopiesCount()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("src/big"), QByteArray(64 * 1024, 'b'));
        QVERIFY(QDir().mkpath(dir.filePath("full")));
        FullDisk disk(dir.filePath("full"));
        if (!disk.mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        QVERIFY(disk.fill());
        QVERIFY(!ZqFileSystemUtils::CopyDirectoryContentsRecursive(
            QDir(dir.filePath("src")), QDir(dir.filePath("full"))));
        QVERIFY(!ZqFileSystemUtils::CopyLeafsToDirectoryRecursive(
            QDir(dir.filePath("src")), QDir(dir.filePath("full"))));
    }

    void removalsDeleteLinksNotTargets_data()
    {
        QTest::addColumn<QString>("function");
        QTest::newRow("recursive") << "RemoveDirectoryRecursive";
        QTest::newRow("contents") << "RemoveDirectoryContentsRecursive";
        QTest::newRow("leaf") << "RemoveLeafDirectory";
    }
    void removalsDeleteLinksNotTargets()
    {
        QFETCH(QString, function);
        QTemporaryDir dir;
        writeFile(dir.filePath("target/keep"), "keep");
        writeFile(dir.filePath("doomed/file"), "x");
        QVERIFY(QFile::link(dir.filePath("target"), dir.filePath("doomed/link")));
        QVERIFY(QFile::link(dir.filePath("target"), dir.filePath("toplink")));
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("doomed/dangling")));
        bool ok = false;
        if (function == "RemoveDirectoryRecursive") {
            ok = ZqFileSystemUtils::RemoveDirectoryRecursive(dir.filePath("toplink"))
                && ZqFileSystemUtils::RemoveDirectoryRecursive(dir.filePath("doomed"));
            QCOMPARE(tree(dir.path()), (QStringList { "target", "target/keep" }));
        } else if (function == "RemoveDirectoryContentsRecursive") {
            ok = ZqFileSystemUtils::RemoveDirectoryContentsRecursive(dir.filePath("doomed"));
            QCOMPARE(tree(dir.path()), (QStringList { "doomed", "target", "target/keep", "toplink" }));
        } else {
            ok = ZqFileSystemUtils::RemoveLeafDirectory(dir.filePath("toplink"));
            QCOMPARE(tree(dir.path()),
                (QStringList {
                    "doomed", "doomed/dangling", "doomed/file", "doomed/link", "target", "target/keep" }));
        }
        QVERIFY(ok);
    }

    void removeLeafDirectory_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("files only") << QStringList { "d/a", "d/b" } << "d" << true << QStringList {};
        QTest::newRow("with a subfolder")
            << QStringList { "d/a", "d/s/b" } << "d" << false << QStringList { "d", "d/a", "d/s", "d/s/b" };
        QTest::newRow("hidden subfolder") << QStringList { "d/.h/b" } << "d" << true << QStringList {};
        QTest::newRow("missing") << QStringList {} << "d" << true << QStringList {};
        QTest::newRow("empty path") << QStringList { "d/a" } << "" << false << QStringList { "d", "d/a" };
    }
    void removeLeafDirectory()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, removed);
        QFETCH(bool, result);
        QFETCH(QStringList, left);
        QTemporaryDir dir;
        for (const QString& file : files)
            writeFile(dir.filePath(file), "x");
        QCOMPARE(ZqFileSystemUtils::RemoveLeafDirectory(removed.isEmpty() ? removed : dir.filePath(removed)),
            result);
        QCOMPARE(tree(dir.path()), left);
        QVERIFY(!ZqFileSystemUtils::RemoveDirectoryRecursive(QString()));
        QVERIFY(!ZqFileSystemUtils::RemoveDirectoryContentsRecursive(QString()));
    }

    void extendedBaseName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("base");
        QTest::newRow("no suffix") << "archive"
                                   << "archive";
        QTest::newRow("two suffixes") << "/x/a.tar.gz"
                                      << "a.tar";
        QTest::newRow("one suffix") << "notes.txt"
                                    << "notes";
        QTest::newRow("trailing dot") << "/x/name."
                                      << "name";
        QTest::newRow("folder") << "/tmp/dir/"
                                << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void extendedBaseName()
    {
        QFETCH(QString, path);
        QFETCH(QString, base);
        QCOMPARE(ZqFileSystemUtils::extendedBaseName(path), base);
    }

    // A path with a blank is one program, not a program and an argument.
    void startProgramDetachedKeepsThePathWhole()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath("my tool/run");
        const QString marker = dir.filePath("ran");
        writeFile(program, "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        ZqFileSystemUtils utils;
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Starting: " + program));
        bool started = false;
        QVERIFY(QMetaObject::invokeMethod(
            &utils, "startProgramDetached", Q_RETURN_ARG(bool, started), Q_ARG(QString, program)));
        QVERIFY(started);
        QTRY_VERIFY(QFileInfo::exists(marker));
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Starting: " + dir.filePath("my")));
        QVERIFY(!utils.startProgramDetached(dir.filePath("my")));
    }

    void invokableMethodsReachTheFunctions()
    {
        QTemporaryDir dir;
        ZqFileSystemUtils utils;
        bool result = false;
        const QString made = dir.filePath("a/b");
        QVERIFY(QMetaObject::invokeMethod(
            &utils, "createDirectory", Q_RETURN_ARG(bool, result), Q_ARG(QString, made)));
        QVERIFY(result && QFileInfo(made).isDir());
        QVERIFY(QMetaObject::invokeMethod(
            &utils, "fileExists", Q_RETURN_ARG(bool, result), Q_ARG(QString, made)));
        QVERIFY(result);
        writeFile(dir.filePath("a/b/f"), "f");
        QVERIFY(QMetaObject::invokeMethod(
            &utils, "removeLeafDirectory", Q_RETURN_ARG(bool, result), Q_ARG(QString, made)));
        QVERIFY(result && !QFileInfo::exists(made));
        writeFile(dir.filePath("a/c/f"), "f");
        QVERIFY(QMetaObject::invokeMethod(&utils, "removeDirectoryContentsRecursive",
            Q_RETURN_ARG(bool, result), Q_ARG(QString, dir.filePath("a"))));
        QVERIFY(result);
        QCOMPARE(tree(dir.path()), QStringList { "a" });
        QVERIFY(QMetaObject::invokeMethod(&utils, "removeDirectoryRecursive", Q_RETURN_ARG(bool, result),
            Q_ARG(QString, dir.filePath("a"))));
        QVERIFY(result);
        QCOMPARE(tree(dir.path()), QStringList {});
    }
};

QTEST_GUILESS_MAIN(tst_ZqFileSystemUtils)
#include "tst_zqfilesystemutils.moc"
