#include "managertestsupport.h"
#include "zqnethostconnection.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QtTest>

// Ended printer connections live on for 10000 ms after the first of them
// ended, then go together.
class tst_FreeQueue : public QObject {
    Q_OBJECT
private slots:
    void endedConnectionsAreDeletedAtTenSeconds();
};

void tst_FreeQueue::endedConnectionsAreDeletedAtTenSeconds()
{
    auto store = quietStore();
    auto server = loopbackServer(store.get(), "127.0.0.56");
    ZqNetConnectionManager client(store.get(), false, QString());
    QVERIFY(client.AttemptConnectionToServer(QHostAddress(QStringLiteral("127.0.0.56")), 1000));
    QPointer<ZqNetHostConnection> first = client.ServerConnections().first();
    QPointer<ZqNetHostConnection> second = new ZqNetHostConnection(QString(), &client);

    QSignalSpy ended(&client, &ZqNetConnectionManager::serverDisconnected);
    QElapsedTimer clock;
    client.disconnectFromHost(first);
    QVERIFY(ended.count() == 1 || ended.wait(2000));
    clock.start();
    QVERIFY(client.ServerConnections().isEmpty());
    QTest::qWait(1000);
    client.RemoveServer(second);

    QTest::qWait(int(9500 - clock.elapsed()));
    QVERIFY(first);
    QVERIFY(second);
    QTRY_VERIFY_WITH_TIMEOUT(!first && !second, 2000);
    QVERIFY2(clock.elapsed() < 10500, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(tst_FreeQueue)
#include "tst_freequeue.moc"
