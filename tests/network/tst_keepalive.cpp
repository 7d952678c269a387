#include "../printerstandinprocess.h"
#include "networktest.h"

#include <QPointer>

const QByteArray ping = hex("0000000000000004 7943A2A5 5A715744");

// Takes real seconds: the keep-alive interval and the free queue's delay are fixed.
class TestKeepAlive : public QObject {
    Q_OBJECT

private slots:
    void idleConnectionPingsAfterFiveSeconds()
    {
        LoopbackPair pair;
        // Started before the connection, whose idle time it bounds from below.
        QElapsedTimer idle;
        idle.start();
        QVERIFY(pair.open("127.0.0.20"));
        // A precise timer never fires early; late is only load.
        QCOMPARE(pair.peerRead(16, 20000).toHex(), ping.toHex());
        QVERIFY(idle.elapsed() >= 4900);
        QCOMPARE(pair.peer->bytesAvailable(), 0);
    }

    void standInPingsUnlessMute()
    {
        PrinterStandInProcess pinging, mute;
        QVERIFY(pinging.start(PRINTERSTANDIN_BINARY, QStringList {}));
        QVERIFY(mute.start(PRINTERSTANDIN_BINARY, { "--mode", "mute" }));
        QTcpSocket toPinging, toMute;
        toPinging.connectToHost(QHostAddress(pinging.address()), 32889);
        toMute.connectToHost(QHostAddress(mute.address()), 32889);
        QVERIFY(toPinging.waitForConnected(10000) && toMute.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(toPinging.bytesAvailable(), qint64(16), 20000);
        QTest::qWait(500); // the mute one would have pinged by now
        QCOMPARE(toPinging.readAll().toHex(), ping.toHex());
        QCOMPARE(toMute.bytesAvailable(), 0);
    }

    // Ended printer connections live on for 10000 ms after the first of them ended,
    // then go together: a timer restarted by the second would end them at 13000.
    void endedConnectionsAreDeletedAtTenSeconds()
    {
        LoopbackServer printer;
        ZqNetConnectionManager client(&printer.store, false, QString());
        QVERIFY(client.AttemptConnectionToServer(printer.address, 10000));
        QPointer<ZqNetHostConnection> first = client.ServerConnections().first();
        QPointer<ZqNetHostConnection> second = new ZqNetHostConnection(QString(), &client);
        QElapsedTimer clock;
        clock.start();
        client.disconnectFromHost(first);
        QVERIFY(client.ServerConnections().isEmpty());
        QTest::qWait(3000);
        // Due timers fire in the order of their deadlines, however late: one of the same
        // length started now goes after the free queue's, and before a restarted one.
        bool goneBeforeReference = false, referenceFired = false;
        QTimer::singleShot(ZqNetConnectionManager::FreeQueueDelay_MS, Qt::PreciseTimer, this, [&] {
            referenceFired = true;
            goneBeforeReference = !first && !second;
        });
        client.RemoveServer(second);
        QTRY_VERIFY_WITH_TIMEOUT(!first && referenceFired, 30000);
        QVERIFY(!second);
        QVERIFY(goneBeforeReference);
        QVERIFY2(clock.elapsed() >= 10000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestKeepAlive)
#include "tst_keepalive.moc"
