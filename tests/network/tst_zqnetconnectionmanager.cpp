#include "managertestsupport.h"
#include "zqnethostconnection.h"

#include <QDir>
#include <QPointer>
#include <QtTest>

#include <ctime>

namespace {

int openDescriptors() { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size(); }

QHostAddress address(const char* text) { return QHostAddress(QString::fromLatin1(text)); }

void deleteDeferred()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

class tst_ZqNetConnectionManager : public QObject {
    Q_OBJECT
private slots:
    void clientRoleStartsEmpty();
    void listenFailureIsReported();
    void secondConnectToSameAddressIsRefused();
    void failedConnectKeepsNothing();
    void connectionIsParkedOnceAndFreed();
    void ignoreSetIsStoredAsAddressList();
    void ignoreListDecodeIsBounded_data();
    void ignoreListDecodeIsBounded();
    void serverRelaysMessagesAndReportsSends();
    void droppedClientIsFreed();
    void connectDropCyclesLeakNoDescriptor();
    void waitForServerConnectionSleeps();
};

void tst_ZqNetConnectionManager::clientRoleStartsEmpty()
{
    QTest::ignoreMessage(QtCriticalMsg, "ZqKeyValueSettings: Can't Open  \"\"");
    ZqNetConnectionManager client(false);
    QVERIFY(client.ServerConnections().isEmpty());
    QVERIFY(client.IgnoredServers().isEmpty());
    QVERIFY(!client.UdpBroadCaster());
    QVERIFY(!client.isListening());
}

void tst_ZqNetConnectionManager::listenFailureIsReported()
{
    auto store = quietStore();
    auto first = loopbackServer(store.get(), "127.0.0.50");
    QVERIFY(first->isListening());
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression("cannot listen on 127\\.0\\.0\\.50 port 32889 : The bound address is already in use"));
    auto second = loopbackServer(store.get(), "127.0.0.50");
    QVERIFY(!second->isListening());
}

void tst_ZqNetConnectionManager::secondConnectToSameAddressIsRefused()
{
    auto store = quietStore();
    auto server = loopbackServer(store.get(), "127.0.0.51");
    ZqNetConnectionManager client(store.get(), false, QString());
    QSignalSpy added(&client, &ZqNetConnectionManager::newServerConnection);
    QVERIFY(client.AttemptConnectionToServer(address("127.0.0.51"), 1000));
    QCOMPARE(added.count(), 1);
    QVERIFY(client.currentlyConnectedToServer(address("127.0.0.51")));
    QVERIFY(!client.AttemptConnectionToServer(address("127.0.0.51"), 1000));
    QCOMPARE(added.count(), 1);
    QCOMPARE(client.ServerConnections().size(), 1);
    QCOMPARE(client.findChildren<ZqNetHostConnection*>().size(), 1);
}

void tst_ZqNetConnectionManager::failedConnectKeepsNothing()
{
    auto store = quietStore();
    ZqNetConnectionManager client(store.get(), false, QString());
    QTest::ignoreMessage(QtWarningMsg, "AttemptConnectionToServer has Failed");
    QVERIFY(!client.AttemptConnectionToServer(address("127.0.0.52"), 1000));
    QVERIFY(client.ServerConnections().isEmpty());
    QVERIFY(client.findChildren<ZqNetHostConnection*>().isEmpty());
}

void tst_ZqNetConnectionManager::connectionIsParkedOnceAndFreed()
{
    auto store = quietStore();
    ZqNetConnectionManager client(store.get(), false, QString());
    // Not listed: parked all the same.
    QPointer<ZqNetHostConnection> host = new ZqNetHostConnection(QString(), &client);
    client.RemoveServer(host);
    // Parked twice, it would be deleted twice.
    client.RemoveServer(host);
    client.RemoveServer(nullptr);
    QVERIFY(host);
    QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
    QVERIFY(!host);
}

void tst_ZqNetConnectionManager::ignoreSetIsStoredAsAddressList()
{
    auto store = quietStore();
    {
        ZqNetConnectionManager client(store.get(), false, QString());
        client.AddServerToIgnoreSet(address("127.0.0.60"));
    }
    QCOMPARE(store->GetValue(QStringLiteral("ConnectionManagerIgnoreList"), QByteArray()).toHex(),
        QByteArray("00000001007f00003c"));
    ZqNetConnectionManager reloaded(store.get(), false, QString());
    QVERIFY(reloaded.serverInIgnoreSet(address("127.0.0.60")));
    reloaded.RemoveServerFromIgnoreSet(address("127.0.0.60"));
    QCOMPARE(store->GetValue(QStringLiteral("ConnectionManagerIgnoreList"), QByteArray()).toHex(),
        QByteArray("00000000"));
}

void tst_ZqNetConnectionManager::ignoreListDecodeIsBounded_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("missing") << QByteArray() << QStringList();
    QTest::newRow("huge count, one address")
        << QByteArray::fromHex("7fffffff007f00003d") << QStringList { "127.0.0.61" };
    QTest::newRow("two, second cut off")
        << QByteArray::fromHex("00000002007f00003d007f00") << QStringList { "127.0.0.61" };
}

void tst_ZqNetConnectionManager::ignoreListDecodeIsBounded()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, expected);
    auto store = quietStore();
    if (!stored.isNull())
        store->SetValue(QStringLiteral("ConnectionManagerIgnoreList"), stored);
    ZqNetConnectionManager client(store.get(), false, QString());
    QStringList ignored;
    for (const QHostAddress& ignoredAddress : client.IgnoredServers())
        ignored.append(ignoredAddress.toString());
    QCOMPARE(ignored, expected);
}

void tst_ZqNetConnectionManager::serverRelaysMessagesAndReportsSends()
{
    auto store = quietStore();
    auto server = loopbackServer(store.get(), "127.0.0.53");
    ZqNetConnectionManager client(store.get(), false, QString());
    QSignalSpy accepted(server.get(), &ZqNetConnectionManager::newClientConnection);
    QSignalSpy relayed(server.get(), &ZqNetConnectionManager::clientMessageReceived);
    QVERIFY(client.AttemptConnectionToServer(address("127.0.0.53"), 1000));
    QVERIFY(accepted.wait(2000));
    ZqNetHostConnection* clientSide = client.ServerConnections().first();
    QVERIFY(clientSide->SendMessage("hello", ZqMessageTypes::ZqMessage_GenericMessage));
    QVERIFY(relayed.wait(2000));
    ZqNetHostConnection* serverSide = server->ClientConnections().first();
    QCOMPARE(relayed.first().at(0).value<ZqNetHostConnection*>(), serverSide);
    QCOMPARE(relayed.first().at(1).toByteArray(), QByteArray("hello"));
    QCOMPARE(relayed.first().at(2).value<ZqMessageTypes::ZqMessageType>(), ZqMessageTypes::ZqMessage_GenericMessage);

    QVERIFY(server->SendMessageToClient(serverSide, "a", ZqMessageTypes::ZqMessage_GenericMessage));
    QVERIFY(server->BroadCastMessageToClients("b", ZqMessageTypes::ZqMessage_GenericMessage));
    // A send the connection refuses is reported as failed.
    QTest::ignoreMessage(QtWarningMsg, "ZqNetHostConnection::SendMessage: invalid msgType, use sendFile()");
    QVERIFY(!server->SendMessageToClient(serverSide, "c", ZqMessageTypes::ZqMessage_FileDataMessage));
    QTest::ignoreMessage(QtWarningMsg, "ZqNetHostConnection::SendMessage: invalid msgType, use sendFile()");
    QVERIFY(!server->BroadCastMessageToClients("d", ZqMessageTypes::ZqMessage_FileDataMessage));
}

void tst_ZqNetConnectionManager::droppedClientIsFreed()
{
    auto store = quietStore();
    auto server = loopbackServer(store.get(), "127.0.0.54");
    ZqNetConnectionManager client(store.get(), false, QString());
    QSignalSpy accepted(server.get(), &ZqNetConnectionManager::newClientConnection);
    QSignalSpy dropped(server.get(), &ZqNetConnectionManager::clientDisconnected);
    QVERIFY(client.AttemptConnectionToServer(address("127.0.0.54"), 1000));
    QVERIFY(accepted.wait(2000));
    QPointer<ZqNetHostConnection> serverSide = server->ClientConnections().first();
    QPointer<QTcpSocket> socket = serverSide->Socket();
    client.disconnectFromHost(client.ServerConnections().first());
    QVERIFY(dropped.wait(2000));
    QVERIFY(server->ClientConnections().isEmpty());
    deleteDeferred();
    QVERIFY(!serverSide);
    QVERIFY(!socket);
}

void tst_ZqNetConnectionManager::connectDropCyclesLeakNoDescriptor()
{
    auto store = quietStore();
    auto server = loopbackServer(store.get(), "127.0.0.55");
    ZqNetConnectionManager client(store.get(), false, QString());
    QSignalSpy accepted(server.get(), &ZqNetConnectionManager::newClientConnection);
    QSignalSpy ended(&client, &ZqNetConnectionManager::serverDisconnected);
    // The server drops a client whose socket is still open: only closing that
    // socket lets the client see the end.
    auto cycle = [&] {
        QVERIFY(client.AttemptConnectionToServer(address("127.0.0.55"), 1000));
        QVERIFY(accepted.count() > 0 || accepted.wait(2000));
        server->RemoveClient(server->ClientConnections().last());
        QVERIFY(ended.count() > 0 || ended.wait(2000));
        accepted.clear();
        ended.clear();
    };
    cycle();
    QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
    deleteDeferred();
    const int before = openDescriptors();
    for (int i = 0; i < 1000 && !QTest::currentTestFailed(); ++i)
        cycle();
    QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
    deleteDeferred();
    QCOMPARE(openDescriptors(), before);
}

void tst_ZqNetConnectionManager::waitForServerConnectionSleeps()
{
    auto store = quietStore();
    auto server = loopbackServer(store.get(), "127.0.0.57");
    ZqNetConnectionManager client(store.get(), false, QString());
    QTimer::singleShot(300, &client, [&] { client.AttemptConnectionToServer(address("127.0.0.57"), 1000); });
    const std::clock_t start = std::clock();
    client.WaitForServerConnection();
    const double cpuSeconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    QCOMPARE(client.ServerConnections().size(), 1);
    // Spinning would burn the whole 300 ms.
    QVERIFY2(cpuSeconds < 0.1, qPrintable(QString::number(cpuSeconds)));
}

QTEST_GUILESS_MAIN(tst_ZqNetConnectionManager)
#include "tst_zqnetconnectionmanager.moc"
