#include "networktest.h"
#include "zqmessagetypes.h"

#include <QCryptographicHash>

using namespace ZqMessageTypes;
using namespace ZqNetValueKeys;

class TestMessageTypes : public QObject {
    Q_OBJECT

private slots:
    void keyTableMatchesTheProtocol()
    {
        const QStringList names = KeyStrings();
        QCOMPARE(names.size(), 175);
        // SHA-1 of the 175 names joined by line breaks, in index order (reserved rows
        // 172 and 173 named ZqNetValueKey_Reserved172 and ZqNetValueKey_Reserved173).
        QCOMPARE(QCryptographicHash::hash(names.join('\n').toLatin1(), QCryptographicHash::Sha1).toHex(),
            QByteArray("6fb899c9199d525ef7ef836d763e540503da5aef"));
        QVERIFY(valueKeysSanityCheck());
    }

    void keysAndNames_data()
    {
        columns<QString, uint, bool>("name", "key", "valid");
        QTest::newRow("invalid") << "ZqNetValueKey_InvalidKey" << 0x80D4D5BCu << false;
        QTest::newRow("first valid") << "ZqNetValueKey_PrinterState" << 0x80D4D5BDu << true;
        QTest::newRow("friendly name") << "ZqNetValueKey_FriendlyPrinterName" << 0x80D4D5BFu << true;
        QTest::newRow("material list") << "ZqNetValueKey_MLIB_MaterialNameList" << 0x80D4D63Cu << true;
        QTest::newRow("material xml") << "ZqNetValueKey_CustomMaterialXMLString" << 0x80D4D667u << true;
        QTest::newRow("last reserved") << "ZqNetValueKey_Reserved173" << 0x80D4D669u << true;
        QTest::newRow("end sentinel") << "ZqNetValueKey_EndingInvalidKey" << 0x80D4D66Au << false;
        QTest::newRow("names are case-sensitive")
            << "zqnetvaluekey_mlib_materialnamelist" << 0x80D4D5BCu << false;
        QTest::newRow("empty name") << "" << 0x80D4D5BCu << false;
    }
    void keysAndNames()
    {
        QFETCH(QString, name);
        QFETCH(uint, key);
        QFETCH(bool, valid);
        QCOMPARE(uint(KeyFromKeyString(name)), key);
        QCOMPARE(KeyIsValid(ZqNetValuesKey(key)), valid);
        QCOMPARE(KeyStringFromKey(ZqNetValuesKey(key)), valid ? name : QString("ZqNetValueKey_InvalidKey"));
        QCOMPARE(KeyStringFromKey(ZqNetValuesKey(0)) + KeyStringFromKey(ZqNetValuesKey(0xFFFFFFFF)),
            QString("ZqNetValueKey_InvalidKeyZqNetValueKey_InvalidKey"));
    }

    void messageCodes_data()
    {
        columns<QByteArray, uint, bool, bool>("data", "type", "client", "server");
        QTest::newRow("get request") << hex("7D218C12 00") << 0x7D218C12u << true << false;
        QTest::newRow("broadcast") << hex("DC9B44C3") << 0xDC9B44C3u << false << true;
        QTest::newRow("file retrieve denied") << hex("24A4855B") << 0x24A4855Bu << false << true;
        QTest::newRow("ping") << hex("7943A2A5") << 0u << false << false;
        QTest::newRow("file data") << hex("82703EC2") << 0u << false << false;
        QTest::newRow("empty") << QByteArray() << 0u << false << false;
        QTest::newRow("short") << hex("7D218C") << 0u << false << false;
    }
    void messageCodes()
    {
        QFETCH(QByteArray, data);
        QFETCH(uint, type);
        QFETCH(bool, client);
        QFETCH(bool, server);
        QCOMPARE(uint(getMessageType(data)), type);
        if (data.size() >= 4) {
            const uint code = qFromBigEndian<quint32>(data.constData());
            QCOMPARE(IsValidClientMessage(code), client);
            QCOMPARE(IsValidServerMessage(code), server);
            QVERIFY(IsValidMessage(code));
        }
        QVERIFY(!IsValidMessage(0) && !IsValidMessage(0x12345678));
    }

    void payloadReaders()
    {
        const QByteArray payload = be32(9) + str("ZqNetValueKey_MLIB_MaterialNameList") + bytesField("v");
        QCOMPARE(uint(getValueKeyFromMessage(payload)), 0x80D4D63Cu);
        QCOMPARE(getValueFromValueMessage(payload), QByteArray("v"));
        QVERIFY(getValueFromValueMessage(payload.left(payload.size() - 1)).isNull());
    }

    // QDataStream >> QStringList reserves the peer's count and throws bad_alloc.
    void peerListsDecodeSafely_data()
    {
        columns<QByteArray, QStringList, bool>("bytes", "list", "ok");
        QTest::newRow("two names") << hex("00000002 00000006 0050004C0041 00000004 00C40042")
                                   << QStringList { "PLA", "ÄB" } << true;
        QTest::newRow("no names") << hex("00000000") << QStringList() << true;
        QTest::newRow("largest count") << hex("FFFFFFFF") << QStringList() << false;
        QTest::newRow("element cut off")
            << hex("00000002 00000002 0041 00000004 00") << QStringList() << false;
        QTest::newRow("empty") << QByteArray() << QStringList() << false;
    }
    void peerListsDecodeSafely()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, list);
        QFETCH(bool, ok);
        bool decoded = !ok;
        QCOMPARE(decodeStringList(bytes, &decoded), list);
        QCOMPARE(decoded, ok);
    }
};

QTEST_GUILESS_MAIN(TestMessageTypes)
#include "tst_zqmessagetypes.moc"
