#pragma once

#include "zqkeyvaluesettings.h"
#include "zqnetconnectionmanager.h"

#include <QtTest>

#include <memory>

// A memory-only store whose announcer switch is off, and a server-role manager
// on one loopback address using it: nothing is ever announced.
struct LoopbackServer {
    explicit LoopbackServer(const char* address)
        : store((QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\""), false))
    {
        store.SetValue(QStringLiteral("ZqUdpBroadCaster_Enabled"), "0");
        server.reset(new ZqNetConnectionManager(&store, true, QString(), nullptr, QHostAddress(address)));
    }
    ZqKeyValueSettings store;
    std::unique_ptr<ZqNetConnectionManager> server;
};
