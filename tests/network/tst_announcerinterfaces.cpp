#include "zqkeyvaluesettings.h"
#include "zqudpbroadcaster.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QtTest>

#include <sched.h>

#include <memory>

// The announcer on interfaces really named eth0 and wlan0: veth pairs in a
// private network namespace that this process enters before anything else
// runs, so that nothing can reach the machine's own interfaces.
namespace {

bool isolated = false;
constexpr quint16 testPort = 42897;

bool ip(const QString& arguments)
{
    QProcess process;
    process.start(QStringLiteral("ip"), arguments.split(QLatin1Char(' ')));
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

} // namespace

class tst_AnnouncerInterfaces : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void announcesOnWiredElseWireless_data();
    void announcesOnWiredElseWireless();

private:
    QString announcedFrom(ZqUDPBroadCaster& caster, int waitMs);
};

void tst_AnnouncerInterfaces::initTestCase()
{
    if (!isolated)
        QSKIP("no private network namespace here (needs unshare)");
    // Only lo may exist before we add our own: otherwise this is not our namespace.
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
        QVERIFY2(interface.name() == QLatin1String("lo"), qPrintable(interface.name()));
    QVERIFY(ip(QStringLiteral("link set lo up")));
    QVERIFY(ip(QStringLiteral("link add eth0 type veth peer name eth0peer")));
    QVERIFY(ip(QStringLiteral("link add wlan0 type veth peer name wlan0peer")));
    QVERIFY(ip(QStringLiteral("addr add 10.66.0.1/24 dev wlan0")));
    QVERIFY(ip(QStringLiteral("link set wlan0 up")));
    QVERIFY(ip(QStringLiteral("link set wlan0peer up")));
    QTRY_VERIFY(
        QNetworkInterface::interfaceFromName(QStringLiteral("wlan0")).flags().testFlag(QNetworkInterface::IsRunning));
}

QString tst_AnnouncerInterfaces::announcedFrom(ZqUDPBroadCaster& caster, int waitMs)
{
    QUdpSocket receiver;
    if (!receiver.bind(QHostAddress::AnyIPv4, testPort, QUdpSocket::ShareAddress))
        return QStringLiteral("<bind failed>");
    QMetaObject::invokeMethod(&caster, "BroadcastDatagrams");
    QSignalSpy ready(&receiver, &QUdpSocket::readyRead);
    if (!receiver.hasPendingDatagrams() && !ready.wait(waitMs))
        return QString();
    const QNetworkDatagram datagram = receiver.receiveDatagram();
    return datagram.data() == "ZqPrinter" ? datagram.senderAddress().toString() : QStringLiteral("<other data>");
}

void tst_AnnouncerInterfaces::announcesOnWiredElseWireless_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("sender");
    QTest::newRow("wired down: wireless") << QString() << "10.66.0.1";
    // Up, running and broadcast-capable, with only an IPv6 link-local entry.
    QTest::newRow("wired without IPv4 blocks wireless") << "link set eth0 up;link set eth0peer up" << QString();
    QTest::newRow("wired with IPv4 wins") << "addr add 10.55.0.1/24 dev eth0" << "10.55.0.1";
}

void tst_AnnouncerInterfaces::announcesOnWiredElseWireless()
{
    QFETCH(QString, setUp);
    QFETCH(QString, sender);
    for (const QString& command : setUp.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        QVERIFY(ip(command));
    // Let link-local addresses and carrier settle.
    QTRY_VERIFY(setUp.isEmpty()
        || QNetworkInterface::interfaceFromName(QStringLiteral("eth0")).flags().testFlag(QNetworkInterface::IsRunning));
    QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\"");
    ZqKeyValueSettings store(false);
    ZqUDPBroadCaster caster(&store, QStringLiteral("ZqPrinter"));
    caster.setPort(testPort);
    // Proving that nothing comes needs a wait; what does come is there well within it.
    QCOMPARE(announcedFrom(caster, sender.isEmpty() ? 500 : 5000), sender);
}

int main(int argc, char** argv)
{
    // Before any thread exists; as root the network namespace alone suffices.
    isolated = ::unshare(CLONE_NEWNET) == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0;
    QCoreApplication app(argc, argv);
    tst_AnnouncerInterfaces test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_announcerinterfaces.moc"
