#pragma once

#include <QNetworkInterface>
#include <QObject>

// The interfaces the library knows, looked up by name; an invalid interface
// when the machine has none of that name.
class ZqNetworkInterfaceHelper : public QObject {
    Q_OBJECT
public:
    static const char* const EthernetInterfaceName;
    static const char* const WifiInterfaceName;
    static const char* const LocalInterfaceName;

    explicit ZqNetworkInterfaceHelper(QObject* parent = nullptr);

    static QNetworkInterface EthernetInterface();
    static QNetworkInterface WifiInterface();
    static QNetworkInterface LocalInterface();
};
