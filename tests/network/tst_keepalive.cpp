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
        QVERIFY(pair.open("127.0.0.20"));
        QElapsedTimer idle;
        idle.start();
        // A precise timer never fires early; late is only load.
        QCOMPARE(pair.peerRead(16, 20000).toHex(), ping.toHex());
        QVERIFY(idle.elapsed() >= 4900);
        QCOMPARE(pair.peer->bytesAvailable(), 0);
    }

    void standInPingsUnlessMute()
    {
        PrinterStandInProcess pinging, mute;
        QVERIFY(pinging.start(PRINTERSTANDIN_BINARY, "127.0.0.21", {}));
        QVERIFY(mute.start(PRINTERSTANDIN_BINARY, "127.0.0.22", { "--mode", "mute" }));
        QTcpSocket toPinging, toMute;
        toPinging.connectToHost(QHostAddress("127.0.0.21"), 32889);
        toMute.connectToHost(QHostAddress("127.0.0.22"), 32889);
        QVERIFY(toPinging.waitForConnected(2000) && toMute.waitForConnected(2000));
        QTRY_COMPARE_WITH_TIMEOUT(toPinging.bytesAvailable(), qint64(16), 20000);
        QTest::qWait(500); // the mute one would have pinged by now
        QCOMPARE(toPinging.readAll().toHex(), ping.toHex());
        QCOMPARE(toMute.bytesAvailable(), 0);
    }

    // Ended printer connections live on for 10000 ms after the first of them ended,
    // then go together: a timer restarted by the second would end them at 13000.
    void endedConnectionsAreDeletedAtTenSeconds()
    {
        LoopbackServer printer("127.0.0.56");
        ZqNetConnectionManager client(&printer.store, false, QString());
        QVERIFY(client.AttemptConnectionToServer(QHostAddress("127.0.0.56"), 1000));
        QPointer<ZqNetHostConnection> first = client.ServerConnections().first();
        QPointer<ZqNetHostConnection> second = new ZqNetHostConnection(QString(), &client);
        QElapsedTimer clock;
        clock.start();
        client.disconnectFromHost(first);
        QVERIFY(client.ServerConnections().isEmpty());
        QTest::qWait(3000);
        client.RemoveServer(second);
        QTRY_VERIFY_WITH_TIMEOUT(!first, 20000);
        QVERIFY(!second);
        QVERIFY2(clock.elapsed() >= 10000 && clock.elapsed() < 12500,
            qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestKeepAlive)
#include "tst_keepalive.moc"
