#include "zqudpbroadcaster.h"

#include "zqkeyvaluesettings.h"
#include "zqnetworkinterfacehelper.h"

#include <QDebug>

namespace {

const QString kEnabledKey = QStringLiteral("ZqUdpBroadCaster_Enabled");

// Qt does not flag lo as broadcast-capable, though it gives its entry a
// broadcast address that reaches local receivers.
bool usable(const QNetworkInterface& interface)
{
    const QNetworkInterface::InterfaceFlags flags = interface.flags();
    return interface.isValid() && flags.testFlag(QNetworkInterface::IsUp)
        && flags.testFlag(QNetworkInterface::IsRunning)
        && (flags.testFlag(QNetworkInterface::CanBroadcast) || flags.testFlag(QNetworkInterface::IsLoopBack));
}

} // namespace

ZqUDPBroadCaster::ZqUDPBroadCaster(ZqKeyValueSettings* settings, QString datagram, QObject* parent)
    : QObject(parent)
    , settings(settings)
    , datagram(datagram)
    , wiredName(QString::fromLatin1(ZqNetworkInterfaceHelper::EthernetInterfaceName))
    , wirelessName(QString::fromLatin1(ZqNetworkInterfaceHelper::WifiInterfaceName))
{
    QByteArray value
        = settings ? settings->GetValue(kEnabledKey, QByteArrayLiteral("1")) : QByteArrayLiteral("1");
    const int end = value.indexOf('\0');
    if (end >= 0)
        value.truncate(end);
    enabled = QString::fromUtf8(value).toInt(nullptr, 10) != 0;
    broadcastTimer.setInterval(BroadcastInterval_MS);
    broadcastTimer.setSingleShot(false);
    if (enabled)
        broadcastTimer.start();
    connect(&broadcastTimer, &QTimer::timeout, this, &ZqUDPBroadCaster::BroadcastDatagrams);
}

void ZqUDPBroadCaster::setInterfaceNames(const QString& wired, const QString& wireless)
{
    wiredName = wired;
    wirelessName = wireless;
}

void ZqUDPBroadCaster::setPort(quint16 newPort) { port = newPort; }

QHostAddress ZqUDPBroadCaster::broadcastAddress(const QList<QNetworkAddressEntry>& entries)
{
    for (const QNetworkAddressEntry& entry : entries) {
        const QHostAddress broadcast = entry.broadcast();
        if (!broadcast.isNull() && broadcast.protocol() == QAbstractSocket::IPv4Protocol)
            return broadcast;
    }
    return QHostAddress();
}

void ZqUDPBroadCaster::SetEnabled(bool on)
{
    if (on)
        Enable();
    else
        Disable();
}

void ZqUDPBroadCaster::Enable()
{
    qDebug() << "ZqUDPBroadCaster Enabled.";
    enabled = true;
    broadcastTimer.start();
    if (settings)
        settings->SetValue(kEnabledKey, QByteArrayLiteral("1"));
}

void ZqUDPBroadCaster::Disable()
{
    qDebug() << "ZqUDPBroadCaster Disabled.";
    enabled = false;
    broadcastTimer.stop();
    if (settings)
        settings->SetValue(kEnabledKey, QByteArrayLiteral("0"));
}

void ZqUDPBroadCaster::_announceOn(const QNetworkInterface& interface)
{
    const QHostAddress target = broadcastAddress(interface.addressEntries());
    if (!target.isNull())
        udpSocket.writeDatagram(datagram.toUtf8(), target, port);
}

void ZqUDPBroadCaster::BroadcastDatagrams()
{
    if (!enabled)
        return;
    // A usable wired interface ends the search, even when it has no address.
    const QNetworkInterface wired = QNetworkInterface::interfaceFromName(wiredName);
    if (usable(wired)) {
        _announceOn(wired);
        return;
    }
    const QNetworkInterface wireless = QNetworkInterface::interfaceFromName(wirelessName);
    if (usable(wireless))
        _announceOn(wireless);
}
