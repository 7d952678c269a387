#include "zqkeyvaluesettings.h"

#include "../fulldisk.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// Count 2, then "b" -> "2", then "a" -> "1": the greatest key comes first.
const QByteArray twoEntries = QByteArray::fromHex("00000002"
                                                  "00000002"
                                                  "0062"
                                                  "00000001"
                                                  "32"
                                                  "00000002"
                                                  "0061"
                                                  "00000001"
                                                  "31");

} // namespace

class tst_ZqKeyValueSettings : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }
    void memoryOnlyStoreNeverWrites();
    void fileHasExactBytes_data();
    void fileHasExactBytes();
    void unchangedContentIsNotWritten_data();
    void unchangedContentIsNotWritten();
    void destructorSavesWithoutAutoSave();
    void unreadableFileIsKeptBeforeOverwrite_data();
    void unreadableFileIsKeptBeforeOverwrite();
    void fullDiskKeepsOldFile();
    void textValueEndsAtZeroByte();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("net.settings")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_ZqKeyValueSettings::memoryOnlyStoreNeverWrites()
{
    QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\"");
    ZqKeyValueSettings store(true);
    store.SetValue(QStringLiteral("k"), "v");
    QVERIFY(!store.Save());
    QCOMPARE(store.GetAllSettings().size(), 1);
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void tst_ZqKeyValueSettings::fileHasExactBytes_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<QByteArray>>("values");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("empty") << QStringList() << QList<QByteArray>() << QByteArray::fromHex("00000000");
    QTest::newRow("two keys, set in ascending order")
        << QStringList { "a", "b" } << QList<QByteArray> { "1", "2" } << twoEntries;
    QTest::newRow("two keys, set in descending order")
        << QStringList { "b", "a" } << QList<QByteArray> { "2", "1" } << twoEntries;
    QTest::newRow("non-ASCII key, null value")
        << QStringList { QStringLiteral("\u00e9\U0001F600") } << QList<QByteArray> { QByteArray() }
        << QByteArray::fromHex("00000001"
                               "00000006"
                               "00e9d83dde00"
                               "ffffffff");
    QTest::newRow("empty value, zero byte")
        << QStringList { "z", "n" } << QList<QByteArray> { QByteArray(""), QByteArray("\0x", 2) }
        << QByteArray::fromHex("00000002"
                               "00000002"
                               "007a"
                               "00000000"
                               "00000002"
                               "006e"
                               "00000002"
                               "0078");
}

void tst_ZqKeyValueSettings::fileHasExactBytes()
{
    QFETCH(QStringList, keys);
    QFETCH(QList<QByteArray>, values);
    QFETCH(QByteArray, file);
    {
        ZqKeyValueSettings store(path(), true);
        QCOMPARE(readAll(path()), QByteArray::fromHex("00000000"));
        for (int i = 0; i < keys.size(); ++i)
            store.SetValue(keys.at(i), values.at(i));
        QCOMPARE(readAll(path()), file);
        QVERIFY(store.SaveTo(m_dir->filePath(QStringLiteral("copy"))));
        QCOMPARE(readAll(m_dir->filePath(QStringLiteral("copy"))), file);
    }
    ZqKeyValueSettings reloaded(path(), false);
    QCOMPARE(reloaded.GetAllSettings().keys(), [&] {
        QStringList sorted = keys;
        sorted.sort();
        return sorted;
    }());
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(reloaded.GetValue(keys.at(i), "default"), values.at(i));
        QCOMPARE(reloaded.GetValue(keys.at(i), "default").isNull(), values.at(i).isNull());
    }
    QCOMPARE(readAll(path()), file);
}

void tst_ZqKeyValueSettings::unchangedContentIsNotWritten_data()
{
    QTest::addColumn<int>("operation");
    QTest::newRow("same value") << 0;
    QTest::newRow("delete absent key") << 1;
    QTest::newRow("delete all of an empty map") << 2;
    QTest::newRow("load from a file") << 3;
    QTest::newRow("set if not exists, present") << 4;
}

void tst_ZqKeyValueSettings::unchangedContentIsNotWritten()
{
    QFETCH(int, operation);
    const QString other = m_dir->filePath(QStringLiteral("other"));
    writeAll(other, twoEntries);
    ZqKeyValueSettings store(path(), true);
    if (operation != 2)
        store.SetValue(QStringLiteral("k"), "v");
    // Any save from here on would create the file again.
    QVERIFY(QFile::remove(path()));
    switch (operation) {
    case 0:
        store.SetValue(QStringLiteral("k"), "v");
        break;
    case 1:
        store.DeleteValue(QStringLiteral("absent"));
        break;
    case 2:
        store.DeleteAll();
        break;
    case 3:
        QVERIFY(store.LoadFrom(other));
        QCOMPARE(store.GetValue(QStringLiteral("b"), QByteArray()), QByteArray("2"));
        break;
    case 4:
        QVERIFY(!store.SetIfNotExist(QStringLiteral("k"), "w"));
        break;
    }
    QVERIFY(!QFile::exists(path()));
    // A change does write.
    store.SetValue(QStringLiteral("k"), "changed");
    QVERIFY(QFile::exists(path()));
}

void tst_ZqKeyValueSettings::destructorSavesWithoutAutoSave()
{
    {
        ZqKeyValueSettings store(path(), false);
        store.SetValue(QStringLiteral("b"), "2");
        store.SetValue(QStringLiteral("a"), "1");
        QCOMPARE(readAll(path()), QByteArray::fromHex("00000000"));
    }
    QCOMPARE(readAll(path()), twoEntries);
}

void tst_ZqKeyValueSettings::unreadableFileIsKeptBeforeOverwrite_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("truncated entry") << twoEntries.left(twoEntries.size() - 1);
    QTest::newRow("short count") << QByteArray::fromHex("0000");
    QTest::newRow("huge count, no entries") << QByteArray::fromHex("7fffffff");
    QTest::newRow("huge key length") << QByteArray::fromHex("00000001fffffffe0061");
}

void tst_ZqKeyValueSettings::unreadableFileIsKeptBeforeOverwrite()
{
    QFETCH(QByteArray, content);
    writeAll(path(), content);
    const QString kept = path() + QStringLiteral(".corrupt");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable content"));
    ZqKeyValueSettings store(path(), true);
    QVERIFY(store.GetAllSettings().isEmpty());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable content"));
    QVERIFY(!store.LoadFrom(path()));
    QCOMPARE(readAll(path()), content);
    QVERIFY(!QFile::exists(kept));

    store.SetValue(QStringLiteral("a"), "1");
    QCOMPARE(readAll(kept), content);
    // Kept once: a later save leaves the copy alone.
    store.SetValue(QStringLiteral("b"), "2");
    QCOMPARE(readAll(kept), content);
    QCOMPARE(readAll(path()), twoEntries);
}

void tst_ZqKeyValueSettings::fullDiskKeepsOldFile()
{
    std::unique_ptr<FullDisk> disk(new FullDisk(m_dir->path()));
    if (!disk->mounted())
        QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
    ZqKeyValueSettings store(path(), true);
    store.SetValue(QStringLiteral("b"), "2");
    store.SetValue(QStringLiteral("a"), "1");
    QVERIFY(disk->fill());
    // Less than the file's write buffer, more than the space left.
    store.SetValue(QStringLiteral("big"), QByteArray(12000, 'x'));
    QCOMPARE(readAll(path()), twoEntries);
    QVERIFY(!store.Save());
    QCOMPARE(readAll(path()), twoEntries);
    const QString plain = m_dir->filePath(QStringLiteral("plain"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("writing .* failed"));
    QVERIFY(!store.SaveTo(plain));
}

void tst_ZqKeyValueSettings::textValueEndsAtZeroByte()
{
    ZqKeyValueSettings store(path(), false);
    store.SetValue(QStringLiteral("name"), QByteArray("Pr\xc3\xa9nom\0tail", 12));
    QCOMPARE(store.getValue(QStringLiteral("name")), QStringLiteral("Pr\u00e9nom"));
    QCOMPARE(store.getValue(QStringLiteral("absent")), QString());
}

QTEST_GUILESS_MAIN(tst_ZqKeyValueSettings)
#include "tst_zqkeyvaluesettings.moc"
