#include "zqkeyvaluesettings.h"
#include "zqudpbroadcaster.h"

#include <QNetworkDatagram>
#include <QtTest>

#include <memory>

namespace {

// Never the printer's own announcement port, so nothing else hears these.
constexpr quint16 testPort = 42899;
const QString switchKey = QStringLiteral("ZqUdpBroadCaster_Enabled");

// Points the announcer at lo before any timer can fire: nothing may ever be
// broadcast on a real interface.
std::unique_ptr<ZqUDPBroadCaster> loopbackCaster(ZqKeyValueSettings* store)
{
    std::unique_ptr<ZqUDPBroadCaster> caster(new ZqUDPBroadCaster(store, QStringLiteral("ZqPrinter")));
    caster->setInterfaceNames(QStringLiteral("lo"), QStringLiteral("lo"));
    caster->setPort(testPort);
    return caster;
}

QNetworkAddressEntry entry(const char* ip, const char* broadcast)
{
    QNetworkAddressEntry result;
    result.setIp(QHostAddress(QString::fromLatin1(ip)));
    result.setBroadcast(QHostAddress(QString::fromLatin1(broadcast)));
    return result;
}

} // namespace

class tst_ZqUDPBroadCaster : public QObject {
    Q_OBJECT
private slots:
    void switchFollowsStoredValue_data();
    void switchFollowsStoredValue();
    void announcesNineBytesOnLoopback();
    void broadcastAddressIsFirstIPv4One_data();
    void broadcastAddressIsFirstIPv4One();
};

void tst_ZqUDPBroadCaster::switchFollowsStoredValue_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("missing") << QByteArray() << true;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("2") << QByteArray("2") << true;
    QTest::newRow("not a number") << QByteArray("on") << false;
    QTest::newRow("text after a zero byte") << QByteArray("1\0x", 3) << true;
}

void tst_ZqUDPBroadCaster::switchFollowsStoredValue()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, enabled);
    QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\"");
    ZqKeyValueSettings store(false);
    if (!stored.isNull())
        store.SetValue(switchKey, stored);
    const auto before = store.GetAllSettings();
    std::unique_ptr<ZqUDPBroadCaster> caster = loopbackCaster(&store);
    QCOMPARE(caster->isEnabled(), enabled);
    QCOMPARE(store.GetAllSettings(), before);

    caster->SetEnabled(!enabled);
    QCOMPARE(caster->isEnabled(), !enabled);
    QCOMPARE(store.GetValue(switchKey, "none"), QByteArray(enabled ? "0" : "1"));
    caster->Disable();
    QCOMPARE(store.GetValue(switchKey, "none"), QByteArray("0"));
    caster->Enable();
    QCOMPARE(store.GetValue(switchKey, "none"), QByteArray("1"));
}

void tst_ZqUDPBroadCaster::announcesNineBytesOnLoopback()
{
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress::AnyIPv4, testPort, QUdpSocket::ShareAddress));
    QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\"");
    ZqKeyValueSettings store(false);
    std::unique_ptr<ZqUDPBroadCaster> caster = loopbackCaster(&store);
    caster->Disable();
    QVERIFY(QMetaObject::invokeMethod(caster.get(), "BroadcastDatagrams"));
    caster->Enable();
    QVERIFY(QMetaObject::invokeMethod(caster.get(), "BroadcastDatagrams"));

    QSignalSpy ready(&receiver, &QUdpSocket::readyRead);
    QVERIFY(receiver.hasPendingDatagrams() || ready.wait(2000));
    const QNetworkDatagram datagram = receiver.receiveDatagram();
    QCOMPARE(datagram.data(), QByteArray("ZqPrinter"));
    QVERIFY(datagram.senderAddress().isLoopback());
    // Loopback keeps the order: a datagram sent while disabled would have come first.
    QVERIFY(!receiver.hasPendingDatagrams());
}

void tst_ZqUDPBroadCaster::broadcastAddressIsFirstIPv4One_data()
{
    QTest::addColumn<QList<QNetworkAddressEntry>>("entries");
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << QList<QNetworkAddressEntry>() << QString();
    QTest::newRow("IPv6 before IPv4")
        << QList<QNetworkAddressEntry> { entry("fd00::2", ""), entry("10.1.2.3", "10.1.2.255") }
        << QStringLiteral("10.1.2.255");
    QTest::newRow("IPv4 without broadcast first")
        << QList<QNetworkAddressEntry> { entry("10.9.9.9", ""), entry("10.1.2.3", "10.1.255.255"),
               entry("10.5.5.5", "10.5.5.255") }
        << QStringLiteral("10.1.255.255");
    QTest::newRow("IPv6 only") << QList<QNetworkAddressEntry> { entry("fd00::2", "") } << QString();
}

void tst_ZqUDPBroadCaster::broadcastAddressIsFirstIPv4One()
{
    QFETCH(QList<QNetworkAddressEntry>, entries);
    QFETCH(QString, expected);
    QCOMPARE(ZqUDPBroadCaster::broadcastAddress(entries).toString(), expected);
}

QTEST_GUILESS_MAIN(tst_ZqUDPBroadCaster)
#include "tst_zqudpbroadcaster.moc"
