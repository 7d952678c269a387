#include "networktest.h"
#include "zqudpbroadcaster.h"

#include <QNetworkDatagram>

static const QString switchKey = QStringLiteral("ZqUdpBroadCaster_Enabled");

static QNetworkAddressEntry entry(const char* ip, const char* broadcast)
{
    QNetworkAddressEntry result;
    result.setIp(QHostAddress(ip));
    result.setBroadcast(QHostAddress(broadcast));
    return result;
}

class tst_ZqUDPBroadCaster : public QObject {
    Q_OBJECT
private slots:
    void announcesNineBytesOnLoopback_data()
    {
        columns<QByteArray, bool>("stored", "enabled");
        QTest::newRow("missing") << QByteArray() << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("not a number") << QByteArray("on") << false;
        QTest::newRow("text after a zero byte") << QByteArray("2\0x", 3) << true;
    }

    void announcesNineBytesOnLoopback()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, enabled);
        QUdpSocket receiver;
        // A port of this run's own: a parallel run elsewhere hears nothing of it.
        QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 0));
        QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\"");
        ZqKeyValueSettings store(false);
        if (!stored.isNull())
            store.SetValue(switchKey, stored);
        ZqUDPBroadCaster caster(&store, QStringLiteral("ZqPrinter"));
        // Before any timer can fire: nothing may ever be broadcast on a real interface.
        caster.setInterfaceNames(QStringLiteral("lo"), QStringLiteral("lo"));
        caster.setPort(receiver.localPort());
        QCOMPARE(caster.isEnabled(), enabled);
        QCOMPARE(store.GetValue(switchKey, "untouched"), stored.isNull() ? QByteArray("untouched") : stored);

        QVERIFY(QMetaObject::invokeMethod(&caster, "BroadcastDatagrams"));
        caster.SetEnabled(!enabled);
        QCOMPARE(store.GetValue(switchKey, "untouched"), QByteArray(enabled ? "0" : "1"));
        QVERIFY(QMetaObject::invokeMethod(&caster, "BroadcastDatagrams"));
        // Exactly one of the two ticks was enabled; loopback keeps the order.
        QVERIFY(receiver.hasPendingDatagrams() || QSignalSpy(&receiver, &QUdpSocket::readyRead).wait(2000));
        QCOMPARE(receiver.receiveDatagram().data(), QByteArray("ZqPrinter"));
        QTest::qWait(100);
        QVERIFY(!receiver.hasPendingDatagrams());
    }

    void broadcastAddressIsFirstIPv4One()
    {
        QCOMPARE(ZqUDPBroadCaster::broadcastAddress({}), QHostAddress());
        QCOMPARE(ZqUDPBroadCaster::broadcastAddress({ entry("fd00::2", ""), entry("10.9.9.9", ""),
                     entry("10.1.2.3", "10.1.2.255"), entry("10.5.5.5", "10.5.5.255") }),
            QHostAddress(QStringLiteral("10.1.2.255")));
    }
};

QTEST_GUILESS_MAIN(tst_ZqUDPBroadCaster)
#include "tst_zqudpbroadcaster.moc"
