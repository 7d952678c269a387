#include "networktest.h"

using namespace ZqMessageTypes;

using Chunks = QList<QByteArray>;
using Counts = QList<int>;
Q_DECLARE_METATYPE(Chunks)
Q_DECLARE_METATYPE(Counts)

// Counts from 0 again at every event the application delivers.
struct EventWatch : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent*) override
    {
        count = 0;
        return false;
    }
};

class TestHostConnection : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackPair> pair;

private slots:
    void init()
    {
        pair.reset(new LoopbackPair);
        QVERIFY(pair->open("127.0.0.10"));
    }

    void defaultState()
    {
        ZqNetHostConnection connection;
        QVERIFY(!connection.IsConnected());
        QCOMPARE(connection.hostAddressString(), QString());
        QCOMPARE(connection.Socket()->parent(), &connection);
    }

    void sendWritesExactFrames_data()
    {
        columns<QByteArray, uint, QByteArray>("payload", "type", "wire");
        QTest::newRow("generic") << hex("616263") << uint(ZqMessage_GenericMessage)
                                 << hex("0000000000000003 82443225 616263");
        QTest::newRow("empty") << QByteArray() << uint(ZqMessage_GetValueRequest)
                               << hex("0000000000000000 7D218C12");
        QTest::newRow("high type") << hex("01") << uint(ZqMessage_ValueUpdateBroadcast)
                                   << hex("0000000000000001 DC9B44C3 01");
    }
    void sendWritesExactFrames()
    {
        QFETCH(QByteArray, payload);
        QFETCH(uint, type);
        QFETCH(QByteArray, wire);
        QVERIFY(pair->connection.SendMessage(payload, ZqMessageType(type)));
        QCOMPARE(pair->peerRead(wire.size()).toHex(), wire.toHex());
    }

    void fileTypeIsRefused()
    {
        QTest::ignoreMessage(
            QtWarningMsg, "ZqNetHostConnection::SendMessage: invalid msgType, use sendFile()");
        QVERIFY(!pair->connection.SendMessage("x", ZqMessage_FileDataMessage));
        // Nothing was written or left in flight: the next message goes out alone.
        QVERIFY(pair->connection.SendMessage("y"));
        QCOMPARE(pair->peerRead(13).toHex(), hex("0000000000000001 82443225 79").toHex());
    }

    void receiveReassemblesFrames_data()
    {
        columns<Chunks, Counts>("chunks", "messagesAfterChunk");
        const QByteArray a = frame(ZqMessage_GenericMessage, "first");
        const QByteArray b = frame(0x12345678, "second"); // unknown types are delivered too
        const QByteArray big = frame(ZqMessage_GenericMessage, QByteArray(1000, 'p'));
        Chunks tenPieces { big.left(12) };
        for (int i = 0; i < 10; ++i)
            tenPieces << big.mid(12 + i * 100, 100);
        QTest::newRow("two frames in one write") << Chunks { a + b } << Counts { 2 };
        QTest::newRow("header 5 + 7") << Chunks { a.left(5), a.mid(5, 7), a.mid(12) } << Counts { 0, 0, 1 };
        QTest::newRow("payload in ten pieces") << tenPieces << Counts { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
        // Consumed with no signal; the next frame is read as usual.
        QTest::newRow("empty payload is dropped")
            << Chunks { a + frame(ZqMessage_WatchDogPing, QByteArray()) + b } << Counts { 2 };
    }
    void receiveReassemblesFrames()
    {
        QFETCH(Chunks, chunks);
        QFETCH(Counts, messagesAfterChunk);
        QSignalSpy received(&pair->connection, &ZqNetHostConnection::messageReceived);
        QByteArray all;
        for (int i = 0; i < chunks.size(); ++i) {
            QSignalSpy arrived(pair->connection.Socket(), &QTcpSocket::readyRead);
            pair->peerWrite(chunks.at(i));
            all += chunks.at(i);
            QVERIFY(arrived.wait(10000));
            QCOMPARE(received.count(), messagesAfterChunk.at(i));
        }
        // The delivered messages, framed again, are the bytes written, less the empty frames.
        QByteArray again, written;
        for (const QList<QVariant>& message : received)
            again += frame(message.at(1).value<ZqMessageType>(), message.at(0).toByteArray());
        for (int at = 0; at < all.size();) {
            const int length = int(qFromBigEndian<qint64>(all.constData() + at));
            if (length > 0)
                written += all.mid(at, 12 + length);
            at += 12 + length;
        }
        QCOMPARE(again.toHex(), written.toHex());
    }

    void tenThousandMessagesKeepTheirOrder()
    {
        const int count = 10000;
        QByteArray frames;
        for (int i = 0; i < count; ++i) {
            QVERIFY(pair->connection.SendMessage(QByteArray::number(i)));
            frames += frame(ZqMessage_GenericMessage, QByteArray::number(i));
        }
        QSignalSpy received(&pair->connection, &ZqNetHostConnection::messageReceived);
        pair->peerWrite(frames);
        QCOMPARE(pair->peerRead(frames.size(), 20000), frames);
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), count, 20000);
        for (int i = 0; i < count; ++i)
            QCOMPARE(received.at(i).at(0).toByteArray(), QByteArray::number(i));
    }

    // Regression: every frame waiting in the socket was handed on in one pass, so a peer
    // sending small frames fast held the owner's thread for seconds at a time.
    void framesAreHandedOnInBoundedPasses()
    {
        const int count = 2000;
        QByteArray halves[2];
        for (int i = 0; i < count; ++i)
            halves[i * 2 / count] += frame(ZqMessage_ValueUpdateBroadcast, QByteArray::number(i));
        QList<QByteArray> received;
        int mostFramesInOnePass = 0;
        // Frames handed on since the event loop last delivered an event.
        EventWatch run;
        QCoreApplication::instance()->installEventFilter(&run);
        connect(
            &pair->connection, &ZqNetHostConnection::messageReceived, this, [&](const QByteArray& message) {
                received << message;
                // The second half arrives while the first still waits in the socket.
                if (received.size() == 1)
                    pair->peerWrite(halves[1]);
                mostFramesInOnePass = qMax(mostFramesInOnePass, ++run.count);
            });
        pair->peerWrite(halves[0]);
        QTRY_COMPARE(received.size(), count);
        QVERIFY2(mostFramesInOnePass <= 64, qPrintable(QString::number(mostFramesInOnePass)));
        for (int i = 0; i < count; ++i)
            QCOMPARE(received.at(i), QByteArray::number(i));
    }

    // Regression: with frames handed on in bounded passes, a peer that sent faster than
    // they were handled filled the socket's buffer without end (7 GB in 15 s).
    void fastPeerWaitsInTcp()
    {
        const int perBurst = 8192, bursts = 6;
        QByteArray burst;
        for (int i = 0; i < perBurst; ++i)
            burst += frame(ZqMessage_ValueUpdateBroadcast, QByteArray(1000, 'b'));
        int received = 0;
        qint64 held = 0;
        QTcpSocket* socket = pair->connection.Socket();
        connect(&pair->connection, &ZqNetHostConnection::messageReceived, this, [&] {
            // A slot that runs an event loop of its own: the buffer fills meanwhile, and
            // the socket stops reading until it has room again.
            if (++received == 1) {
                QVERIFY(QTest::qWaitFor([&] { return socket->bytesAvailable() >= 16 * 1024 * 1024 + 12; }));
                QTest::qWait(20);
            }
            held = qMax(held, socket->bytesAvailable());
        });
        for (int i = 0; i < bursts; ++i)
            pair->peer->write(burst);
        QTRY_COMPARE_WITH_TIMEOUT(received, perBurst * bursts, 30000);
        // A whole frame of the largest size still fits.
        QVERIFY2(held <= 16 * 1024 * 1024 + 12, qPrintable(QString::number(held)));
    }

    void hostileHeaderClosesConnection_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("over the cap") << frame(ZqMessage_GenericMessage, {}, 16 * 1024 * 1024 + 1);
        QTest::newRow("largest length") << frame(ZqMessage_ValueRequestAccepted, {}, 0x7FFFFFFFFFFFFFFF);
        QTest::newRow("file shorter than its paths") << frame(ZqMessage_FileDataMessage, {}, 511);
    }
    void hostileHeaderClosesConnection()
    {
        QFETCH(QByteArray, header);
        QSignalSpy received(&pair->connection, &ZqNetHostConnection::messageReceived),
            disconnected(&pair->connection, &ZqNetHostConnection::disconnected);
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^ZqNetHostConnection\\(.*\\): protocol error"));
        pair->peerWrite(header + frame(ZqMessage_GenericMessage, "after"));
        QVERIFY(disconnected.wait(10000));
        QTRY_COMPARE(pair->peer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(received.count(), 0);
    }

    void forceDisconnectInsideHandlerStopsParsing_data()
    {
        QTest::addColumn<bool>("replyFirst");
        QTest::newRow("nothing to flush") << false;
        // The socket then closes only after the reply has gone out.
        QTest::newRow("reply still to flush") << true;
    }
    void forceDisconnectInsideHandlerStopsParsing()
    {
        QFETCH(bool, replyFirst);
        QSignalSpy received(&pair->connection, &ZqNetHostConnection::messageReceived),
            disconnected(&pair->connection, &ZqNetHostConnection::disconnected);
        connect(&pair->connection, &ZqNetHostConnection::messageReceived, [&] {
            if (replyFirst)
                pair->connection.SendMessage("bye");
            pair->connection.forceDisconnect();
        });
        pair->peerWrite(frame(ZqMessage_GenericMessage, "1") + frame(ZqMessage_GenericMessage, "2"));
        QVERIFY(disconnected.wait(10000));
        QTRY_COMPARE(pair->peer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(received.count(), 1);
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(pair->peer->readAll().size(), replyFirst ? 15 : 0);
    }

    // Ended by a slot of connected(): reported at once, not by the watchdog 25 s later.
    void forceDisconnectInsideConnectedIsReported()
    {
        LoopbackPair own;
        QSignalSpy disconnected(&own.connection, &ZqNetHostConnection::disconnected);
        connect(&own.connection, &ZqNetHostConnection::connected, [&] { own.connection.forceDisconnect(); });
        QVERIFY(own.open("127.0.0.140"));
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 10000);
    }

    // Messages queued behind one in flight outlived the disconnect, and a
    // reconnect of the same object sent them to the new peer.
    void reconnectSendsNothingStale()
    {
        ZqNetHostConnection& connection = pair->connection;
        // The peer reads nothing: the first message stays in flight, the second waits.
        QVERIFY(connection.SendMessage(QByteArray(12 * 1024 * 1024, 'x')));
        QVERIFY(connection.SendMessage("stale"));
        QTRY_VERIFY(connection.pendingSendBytes() > 0);
        connection.forceDisconnect();
        QVERIFY(!connection.IsConnected());
        QVERIFY(pair->open("127.0.0.10"));
        QVERIFY(connection.SendMessage("fresh"));
        QVERIFY(connection.SendMessage("next"));
        const QByteArray fresh = hex("0000000000000005 82443225") + "fresh";
        const QByteArray next = hex("0000000000000004 82443225") + "next";
        const QByteArray ping = hex("0000000000000004 7943A2A5") + "ZqWD";
        QByteArray wire;
        QVERIFY(QTest::qWaitFor([&] { return (wire += pair->peer->readAll()).endsWith(next); }, 20000));
        QCOMPARE(wire.replace(ping, "").toHex(), (fresh + next).toHex());
    }

    void watchDogActsOncePerConnection()
    {
        QSignalSpy disconnected(&pair->connection, &ZqNetHostConnection::disconnected);
        pair->connection.setWatchDogTimeout(50);
        QVERIFY(disconnected.wait(10000));
        // The socket is closed, not merely reported lost.
        QTRY_COMPARE(pair->peer->state(), QAbstractSocket::UnconnectedState);
        QTest::qWait(200);
        QCOMPARE(disconnected.count(), 1);

        // A new connection on the same object gets a fresh watchdog.
        QVERIFY(pair->open("127.0.0.10"));
        pair->connection.setWatchDogTimeout(50);
        QTRY_COMPARE(disconnected.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestHostConnection)
#include "tst_zqnethostconnection.moc"
