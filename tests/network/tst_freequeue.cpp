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

    QTRY_VERIFY_WITH_TIMEOUT(!first, 12000);
    const qint64 deletedAt = clock.elapsed();
    // Parked a second later, deleted together with the first.
    QVERIFY(!second);
    QVERIFY2(deletedAt >= 9900 && deletedAt < 10500, qPrintable(QString::number(deletedAt)));
}

QTEST_GUILESS_MAIN(tst_FreeQueue)
#include "tst_freequeue.moc"
