#include "../printerstandinprocess.h"
#include "networktest.h"

#include <QPointer>

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
        const QByteArray ping = pair.peerRead(16, 8000);
        QVERIFY2(idle.elapsed() >= 4900, qPrintable(QString::number(idle.elapsed())));
        QCOMPARE(ping.toHex(), hex("0000000000000004 7943A2A5 5A715744").toHex());
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
        QTest::qWait(5500);
        QCOMPARE(toPinging.readAll().toHex(), hex("0000000000000004 7943A2A5 5A715744").toHex());
        QCOMPARE(toMute.bytesAvailable(), 0);
    }

    // Ended printer connections live on for 10000 ms after the first of them ended,
    // then go together.
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
        QTest::qWait(1000);
        client.RemoveServer(second);
        QTRY_VERIFY_WITH_TIMEOUT(!first, 12000);
        QVERIFY(!second);
        QVERIFY2(clock.elapsed() >= 10000 && clock.elapsed() < 10500,
            qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestKeepAlive)
#include "tst_keepalive.moc"
