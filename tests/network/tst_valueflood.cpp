// A printer that sends a value of the largest size for every key it has (173 of 16 MiB,
// 2.7 GiB in all) to a requester whose owner reads only a few of them.
#include "networktest.h"
#include "zqnetrequester.h"

using namespace ZqNetValueKeys;

namespace {

constexpr int KnownKeys = 173;
constexpr qint64 MiB = 1024 * 1024;

QString keyName(int i) { return KeyStringFromKey(ZqNetValuesKey(FirstKeyValue + i)); }

QByteArray get(int id, const QString& key) { return frame(0x7D218C12, be32(id) + str(key)); }

} // namespace

class tst_ValueFlood : public QObject {
    Q_OBJECT
private slots:
    // Regression: every value a printer sent was kept: the application grew from 174 MB to
    // 3 GB and stayed there, and nothing was logged.
    void cacheStaysBoundedAndDroppedValueIsFetchedAgain()
    {
        LoopbackPair pair;
        ZqNetRequester requester;
        QVERIFY(pair.open("127.0.0.13"));
        requester.setHostConnection(&pair.connection);
        // What the printer item reads: the connect asks for them.
        const QString list = QStringLiteral("ZqNetValueKey_MLIB_MaterialNameList");
        const QString name = QStringLiteral("ZqNetValueKey_FriendlyPrinterName");
        requester.sendGetRequest(ZqNetValueKey_MLIB_MaterialNameList, false);
        requester.sendGetRequest(ZqNetValueKey_FriendlyPrinterName, false);
        const QByteArray asked = get(0, list) + get(1, name);
        QCOMPARE(pair.peerRead(asked.size()).toHex(), asked.toHex());

        int broadcasts = 0;
        connect(&requester, &ZqNetRequester::valueUpdateBroadcast, this, [&broadcasts] { ++broadcasts; });
        auto warnings = std::make_unique<MessageCapture>(QtWarningMsg);
        // One value of the largest payload for each key, sent as the requester takes them.
        const QByteArray filler(int(16 * MiB), 'v');
        for (int i = 1; i <= KnownKeys; ++i) {
            const QString key = keyName(i);
            pair.peerWrite(
                frame(0xDC9B44C3, str(key) + bytesField(filler.left(int(16 * MiB) - 8 - 2 * key.size()))));
            QVERIFY(QTest::qWaitFor([&] { return pair.peer->bytesToWrite() < MiB; }, 30000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(broadcasts, KnownKeys, 30000);

        qint64 cached = 0;
        QStringList kept;
        for (int i = 1; i <= KnownKeys; ++i) {
            bool found = false;
            cached += requester.GetCurrentCacheValue(ZqNetValuesKey(FirstKeyValue + i), found, false).size();
            if (found)
                kept << keyName(i);
        }
        QVERIFY2(cached <= 64 * MiB, qPrintable(QString::number(cached)));
        // The values read are kept; the first one sent that nobody asked for went.
        QVERIFY(kept.contains(list) && kept.contains(name));
        QVERIFY(!kept.contains("ZqNetValueKey_PrinterState"));
        QCOMPARE(
            warnings->count("^ZqNetRequester\\(127\\.0\\.0\\.13\\)::UpdateCache: the cached values passed "
                            "67108864 bytes"),
            1);
        warnings.reset();
        qInfo("%d values of 16 MiB: %lld MiB cached", KnownKeys, cached / MiB);

        // Asked for now, it is fetched again.
        bool found = true;
        requester.GetCurrentCacheValue(ZqNetValueKey_PrinterState, found, true);
        QVERIFY(!found);
        // Pings may have gone out meanwhile, between frames.
        QByteArray received;
        QTRY_VERIFY((received += pair.peer->readAll()).contains(get(2, "ZqNetValueKey_PrinterState")));
    }
};

QTEST_GUILESS_MAIN(tst_ValueFlood)
#include "tst_valueflood.moc"
