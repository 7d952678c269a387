#include "networktest.h"
#include "zqudpbroadcaster.h"

#include <QNetworkDatagram>
#include <QPointer>

#include <ctime>

static int openDescriptors()
{
    return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size();
}

static const QString switchKey = QStringLiteral("ZqUdpBroadCaster_Enabled");

static QNetworkAddressEntry entry(const char* ip, const char* broadcast)
{
    QNetworkAddressEntry result;
    result.setIp(QHostAddress(ip));
    result.setBroadcast(QHostAddress(broadcast));
    return result;
}

class tst_ZqNetConnectionManager : public QObject {
    Q_OBJECT
private slots:
    void listenFailureIsReported()
    {
        LoopbackServer first("127.0.0.50");
        QVERIFY(first.server->isListening());
        QTest::ignoreMessage(QtWarningMsg,
            "ZqNetConnectionManager: cannot listen on 127.0.0.50 port 32889 : "
            "The bound address is already in use");
        LoopbackServer second("127.0.0.50");
        QVERIFY(!second.server->isListening());
    }

    void connectionIsParkedOnceAndFreed()
    {
        LoopbackServer printer("127.0.0.52");
        ZqNetConnectionManager client(&printer.store, false, QString());
        // Not listed, yet parked; parked twice, it would be deleted twice.
        QPointer<ZqNetHostConnection> host = new ZqNetHostConnection(QString(), &client);
        client.RemoveServer(host);
        client.RemoveServer(host);
        QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
        QVERIFY(!host);
    }

    void ignoreSetIsStoredAndReadBounded()
    {
        LoopbackServer printer("127.0.0.53");
        ZqNetConnectionManager(&printer.store, false, QString())
            .AddServerToIgnoreSet(QHostAddress("127.0.0.60"));
        const QString key = QStringLiteral("ConnectionManagerIgnoreList");
        QCOMPARE(printer.store.GetValue(key, QByteArray()), QByteArray::fromHex("00000001 00 7f00003c"));
        QVERIFY(ZqNetConnectionManager(&printer.store, false, QString())
                    .serverInIgnoreSet(QHostAddress("127.0.0.60")));
        // A huge count is read element by element, never reserved.
        printer.store.SetValue(key, QByteArray::fromHex("7fffffff 00 7f00003d 00 7f00"));
        QCOMPARE(ZqNetConnectionManager(&printer.store, false, QString()).IgnoredServers(),
            QList<QHostAddress> { QHostAddress("127.0.0.61") });
    }

    void serverRelaysMessagesAndReportsSends()
    {
        LoopbackServer printer("127.0.0.54");
        ZqNetConnectionManager client(&printer.store, false, QString());
        QSignalSpy relayed(printer.server.get(), &ZqNetConnectionManager::clientMessageReceived);
        QVERIFY(client.AttemptConnectionToServer(QHostAddress("127.0.0.54"), 1000));
        QVERIFY(client.ServerConnections().first()->SendMessage(
            "hello", ZqMessageTypes::ZqMessage_GenericMessage));
        QVERIFY(relayed.wait(2000));
        ZqNetHostConnection* host = printer.server->ClientConnections().first();
        QCOMPARE(relayed.first().first().value<ZqNetHostConnection*>(), host);
        QVERIFY(printer.server->BroadCastMessageToClients("b", ZqMessageTypes::ZqMessage_GenericMessage));
        // A send the connection refuses is reported as failed.
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(
                QtWarningMsg, "ZqNetHostConnection::SendMessage: invalid msgType, use sendFile()");
        QVERIFY(!printer.server->SendMessageToClient(host, "c", ZqMessageTypes::ZqMessage_FileDataMessage));
        QVERIFY(!printer.server->BroadCastMessageToClients("d", ZqMessageTypes::ZqMessage_FileDataMessage));
    }

    void droppedClientsLeakNoDescriptor()
    {
        LoopbackServer printer("127.0.0.55");
        ZqNetConnectionManager client(&printer.store, false, QString());
        QSignalSpy accepted(printer.server.get(), &ZqNetConnectionManager::newClientConnection);
        QSignalSpy ended(&client, &ZqNetConnectionManager::serverDisconnected);
        QPointer<QTcpSocket> socket;
        // The server drops a client whose socket is still open: only closing that
        // socket lets the client see the end.
        auto cycle = [&] {
            QVERIFY(client.AttemptConnectionToServer(QHostAddress("127.0.0.55"), 1000));
            QVERIFY(accepted.count() > 0 || accepted.wait(2000));
            socket = printer.server->ClientConnections().last()->Socket();
            printer.server->RemoveClient(printer.server->ClientConnections().last());
            QVERIFY(ended.count() > 0 || ended.wait(2000));
            accepted.clear();
            ended.clear();
            QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        cycle();
        const int before = openDescriptors();
        for (int i = 0; i < 1000 && !QTest::currentTestFailed(); ++i)
            cycle();
        QCOMPARE(openDescriptors(), before);
        QVERIFY(!socket);
    }

    void waitForServerConnectionSleeps()
    {
        LoopbackServer printer("127.0.0.57");
        ZqNetConnectionManager client(&printer.store, false, QString());
        QTimer::singleShot(
            300, &client, [&] { client.AttemptConnectionToServer(QHostAddress("127.0.0.57"), 1000); });
        const std::clock_t start = std::clock();
        client.WaitForServerConnection();
        // Spinning would burn the whole 300 ms.
        QVERIFY(double(std::clock() - start) / CLOCKS_PER_SEC < 0.1);
    }

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
        QCOMPARE(ZqUDPBroadCaster::broadcastAddress({ entry("2001:db8::2", ""), entry("192.0.2.9", ""),
                     entry("198.51.100.3", "198.51.100.255"), entry("203.0.113.5", "203.0.113.255") }),
            QHostAddress(QStringLiteral("198.51.100.255")));
    }
};

QTEST_GUILESS_MAIN(tst_ZqNetConnectionManager)
#include "tst_zqnetconnectionmanager.moc"
