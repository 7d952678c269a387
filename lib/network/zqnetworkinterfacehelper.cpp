#include "zqnetworkinterfacehelper.h"

const char* const ZqNetworkInterfaceHelper::EthernetInterfaceName = "eth0";
const char* const ZqNetworkInterfaceHelper::WifiInterfaceName = "wlan0";
const char* const ZqNetworkInterfaceHelper::LocalInterfaceName = "lo";

ZqNetworkInterfaceHelper::ZqNetworkInterfaceHelper(QObject* parent)
    : QObject(parent)
{
}

QNetworkInterface ZqNetworkInterfaceHelper::EthernetInterface()
{
    return QNetworkInterface::interfaceFromName(QString::fromLatin1(EthernetInterfaceName));
}

QNetworkInterface ZqNetworkInterfaceHelper::WifiInterface()
{
    return QNetworkInterface::interfaceFromName(QString::fromLatin1(WifiInterfaceName));
}

QNetworkInterface ZqNetworkInterfaceHelper::LocalInterface()
{
    return QNetworkInterface::interfaceFromName(QString::fromLatin1(LocalInterfaceName));
}
