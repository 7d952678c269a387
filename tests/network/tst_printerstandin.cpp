// The library against the printer stand-in, whose encoder and decoder are its own.
#include "../printerstandinprocess.h"
#include "encrypt.h"
#include "zqnetrequester.h"

#include <QSignalSpy>
#include <QtTest>

using namespace ZqNetValueKeys;

namespace {

const QString GroupKey = QStringLiteral("0123456789abcdef0123456789abcdef");

QByteArray install(const QString& name, const QString& key = GroupKey)
{
    const QByteArray xml
        = "<ZqMaterial><Version>1.0</Version><FriendlyName>" + name.toUtf8() + "</FriendlyName></ZqMaterial>";
    return Zq::Encrypt().EncryptWithKey(key, xml);
}

struct Client {
    ZqNetHostConnection connection;
    ZqNetRequester requester;
    bool open(const QString& address)
    {
        connection.setHostAddress(address);
        if (!connection.WaitForConnected(2000))
            return false;
        requester.setHostConnection(&connection);
        return true;
    }
    QStringList materials()
    {
        bool found = false;
        return ZqMessageTypes::decodeStringList(
            requester.GetCurrentCacheValue(ZqNetValueKey_MLIB_MaterialNameList, found, false));
    }
};

} // namespace

class TestPrinterStandIn : public QObject {
    Q_OBJECT

private slots:
    // Listing, renaming and installing through the item: tst_pelluxnetworklib.
    void installsAndRemoves()
    {
        PrinterStandInProcess printer;
        QVERIFY(printer.start(
            PRINTERSTANDIN_BINARY, "127.0.0.12", { "--group-key", GroupKey, "--material", "Äther" }));
        Client client;
        QVERIFY(client.open("127.0.0.12"));
        QSignalSpy broadcasts(&client.requester, &ZqNetRequester::valueUpdateBroadcast);
        client.requester.sendSetRequest(ZqNetValueKey_CustomMaterialXMLString, install("Grey"));
        QTRY_COMPARE(client.materials(), (QStringList { "Äther", "Grey" }));
        client.requester.sendSetRequest(ZqNetValueKey_MLIB_RemoveMaterial, QString("Äther").toUtf8());
        QTRY_COMPARE(client.materials(), QStringList { "Grey" });
        QCOMPARE(broadcasts.count(), 2);
        const QVariantMap line = printer.waitFor("material", "Grey");
        QCOMPARE(line.value("request").toString() + line.value("reply").toString()
                + QString::number(line.value("id").toInt()),
            QString("setaccepted0"));
        QCOMPARE(line.value("key").toString(), QString("ZqNetValueKey_CustomMaterialXMLString"));
    }

    // Denial, old firmware and an unknown removal through the item: tst_pelluxnetworklib.
    void refusals_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<uint>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<uint>("deniedKey");
        const uint xml = ZqNetValueKey_CustomMaterialXMLString;
        const uint invalid = 0x80D4D5BC;
        QTest::newRow("wrong group key")
            << "127.0.0.15"
            << "accept" << xml << install("Grey", QString(32, 'k')) << uint(0x80D4D667);
        QTest::newRow("unknown key") << "127.0.0.15"
                                     << "accept" << uint(ZqNetValueKey_PrinterState) << QByteArray("1")
                                     << invalid;
        QTest::newRow("silent") << "127.0.0.17"
                                << "silent" << xml << install("Grey") << 1u;
    }
    void refusals()
    {
        QFETCH(QString, address);
        QFETCH(QString, mode);
        QFETCH(uint, key);
        QFETCH(QByteArray, value);
        QFETCH(uint, deniedKey);
        PrinterStandInProcess printer;
        QVERIFY(printer.start(PRINTERSTANDIN_BINARY, address, { "--group-key", GroupKey, "--mode", mode }));
        Client client;
        QVERIFY(client.open(address));
        QSignalSpy denied(&client.requester, &ZqNetRequester::setRequestDenied);
        QSignalSpy finished(&client.requester, &ZqNetRequester::requestFinished);
        client.requester.sendSetRequest(ZqNetValuesKey(key), value);
        QVERIFY(!printer.waitFor("request", "set").isEmpty());
        if (deniedKey == 1) {
            // The reply would have gone out before the log line.
            QTest::qWait(100);
            QCOMPARE(finished.count(), 0);
        } else {
            QTRY_COMPARE(denied.count(), 1);
            QCOMPARE(uint(denied.at(0).at(1).value<ZqNetValuesKey>()), deniedKey);
            QCOMPARE(finished.count(), 1);
        }
        QVERIFY(client.materials().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPrinterStandIn)
#include "tst_printerstandin.moc"
