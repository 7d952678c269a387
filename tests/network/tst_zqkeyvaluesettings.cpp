
#include "../fulldisk.h"
#include "networktest.h"

// Count 2, then "b" -> "2", then "a" -> "1": the greatest key comes first.
static const QByteArray twoEntries = hex("00000002 00000002 0062 00000001 32 00000002 0061 00000001 31");

class tst_ZqKeyValueSettings : public QObject {
    Q_OBJECT
private slots:
    void fileHasExactBytes_data()
    {
        columns<QStringList, QList<QByteArray>, QByteArray>("keys", "values", "file");
        QTest::newRow("empty") << QStringList() << QList<QByteArray>() << QByteArray::fromHex("00000000");
        QTest::newRow("two keys") << QStringList { "a", "b" } << QList<QByteArray> { "1", "2" } << twoEntries;
        QTest::newRow("non-ASCII key, null value")
            << QStringList { QStringLiteral("\u00e9\U0001F600") } << QList<QByteArray> { QByteArray() }
            << QByteArray::fromHex("00000001 00000006 00e9d83dde00 ffffffff");
    }

    void fileHasExactBytes()
    {
        QFETCH(QStringList, keys);
        QFETCH(QList<QByteArray>, values);
        QFETCH(QByteArray, file);
        ZqKeyValueSettings store(path(), true);
        for (int i = 0; i < keys.size(); ++i)
            store.SetValue(keys.at(i), values.at(i));
        QCOMPARE(readFile(path()), file);
        ZqKeyValueSettings reloaded(path(), false);
        QCOMPARE(reloaded.GetAllSettings(), store.GetAllSettings());
        QCOMPARE(reloaded.GetValue(keys.value(0), "default").isNull(), values.value(0, "default").isNull());
    }

    void unchangedValueIsNotWritten()
    {
        ZqKeyValueSettings store(path(), true);
        store.SetValue(QStringLiteral("k"), "v");
        // Any save from here on would create the file again.
        QVERIFY(QFile::remove(path()));
        store.SetValue(QStringLiteral("k"), "v");
        QVERIFY(!QFile::exists(path()));
    }

    void unreadableFileIsKeptBeforeOverwrite_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated entry") << twoEntries.left(twoEntries.size() - 1);
        QTest::newRow("huge count") << QByteArray::fromHex("7fffffff");
    }

    void unreadableFileIsKeptBeforeOverwrite()
    {
        QFETCH(QByteArray, content);
        placeFile(path(), content);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable content"));
        ZqKeyValueSettings store(path(), true);
        QVERIFY(store.GetAllSettings().isEmpty());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable content"));
        QVERIFY(!store.LoadFrom(path()));
        store.SetValue(QStringLiteral("a"), "1");
        store.SetValue(QStringLiteral("b"), "2");
        QCOMPARE(readFile(path() + ".corrupt"), content);
        QCOMPARE(readFile(path()), twoEntries);
    }

    // Regression: the application's memory-only store logged the critical "Can't Open"
    // each time it was made, so every run wrote to the error log.
    void memoryOnlyStoreLogsNothing()
    {
        static QStringList logged;
        logged.clear();
        const QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
                  if (type == QtWarningMsg || type == QtCriticalMsg)
                      logged << text;
              });
        {
            ZqKeyValueSettings store(true);
            store.SetValue(QStringLiteral("k"), "v");
            store.ReLoad();
            QCOMPARE(store.GetValue(QStringLiteral("k"), QByteArray()), QByteArray("v"));
            QVERIFY(!store.Save());
        }
        qInstallMessageHandler(previous);
        QCOMPARE(logged, QStringList());
    }

    void fullDiskKeepsOldFile()
    {
        FullDisk disk(m_dir.path());
        if (!disk.mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        ZqKeyValueSettings store(path(), true);
        store.SetValue(QStringLiteral("b"), "2");
        store.SetValue(QStringLiteral("a"), "1");
        QVERIFY(disk.fill());
        // Less than the file's write buffer, more than the space left.
        store.SetValue(QStringLiteral("big"), QByteArray(12000, 'x'));
        QCOMPARE(readFile(path()), twoEntries);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("writing .* failed"));
        QVERIFY(!store.SaveTo(path() + ".plain"));
    }

private:
    QTemporaryDir m_dir;
    QString path() const
    {
        return m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".settings");
    }
};

QTEST_GUILESS_MAIN(tst_ZqKeyValueSettings)
#include "tst_zqkeyvaluesettings.moc"
