#include "networktest.h"
#include "printerstandinprocess.h"

// Takes real seconds: the keep-alive interval is fixed.
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
        QVERIFY(pinging.start("127.0.0.21"));
        QVERIFY(mute.start("127.0.0.22", { "--mode", "mute" }));
        QTcpSocket toPinging, toMute;
        toPinging.connectToHost(QHostAddress("127.0.0.21"), 32889);
        toMute.connectToHost(QHostAddress("127.0.0.22"), 32889);
        QVERIFY(toPinging.waitForConnected(2000) && toMute.waitForConnected(2000));
        QTest::qWait(5500);
        QCOMPARE(toPinging.readAll().toHex(), hex("0000000000000004 7943A2A5 5A715744").toHex());
        QCOMPARE(toMute.bytesAvailable(), 0);
    }
};

QTEST_GUILESS_MAIN(TestKeepAlive)
#include "tst_keepalive.moc"
