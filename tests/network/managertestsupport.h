#pragma once

#include "zqkeyvaluesettings.h"
#include "zqnetconnectionmanager.h"
#include "zqudpbroadcaster.h"

#include <QtTest>

#include <memory>

// A memory-only store whose announcer switch is off, so that a server-role
// manager never announces anything.
inline std::unique_ptr<ZqKeyValueSettings> quietStore()
{
    QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\"");
    std::unique_ptr<ZqKeyValueSettings> store(new ZqKeyValueSettings(false));
    store->SetValue(QStringLiteral("ZqUdpBroadCaster_Enabled"), "0");
    return store;
}

// A server-role manager listening on one loopback address; its announcer is
// off and pointed at lo all the same.
inline std::unique_ptr<ZqNetConnectionManager> loopbackServer(ZqKeyValueSettings* store, const char* address)
{
    std::unique_ptr<ZqNetConnectionManager> server(
        new ZqNetConnectionManager(store, true, QString(), nullptr, QHostAddress(QString::fromLatin1(address))));
    server->UdpBroadCaster()->setInterfaceNames(QStringLiteral("lo"), QStringLiteral("lo"));
    server->UdpBroadCaster()->setPort(42898);
    return server;
}
