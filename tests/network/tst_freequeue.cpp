#include "managertestsupport.h"
#include "zqnethostconnection.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QtTest>

// Ended printer connections live on for 10000 ms after the first of them ended,
// then go together.
class tst_FreeQueue : public QObject {
    Q_OBJECT
private slots:
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

QTEST_GUILESS_MAIN(tst_FreeQueue)
#include "tst_freequeue.moc"
