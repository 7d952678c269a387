#include "filetestsupport.h"
#include "networktest.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

using namespace ZqMessageTypes;

namespace {

const QByteArray marker = "filestopfilestopfilestopfilestopfilestopfilestop";

QByteArray sha(const QString& path)
{
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256).toHex();
}

QStringList tempFiles(const QString& dir)
{
    return QDir(dir).entryList({ "*.tmp" }, QDir::Files | QDir::System | QDir::Hidden);
}

// A 256-byte path field as the format defines it.
QByteArray field(const QByteArray& utf8)
{
    return utf8.left(256) + QByteArray(qMax(0, 256 - utf8.size()), '\0');
}

QByteArray fileFrameHeader(qint64 fileSize) { return frame(ZqMessage_FileDataMessage, {}, fileSize + 512); }

// The file signals of one connection, in order.
struct FileLog : QObject {
    explicit FileLog(ZqNetHostConnection* c)
    {
        connect(c, &ZqNetHostConnection::fileStartSend, this,
            [this](QString l, QString r) { add("startSend", l, r); });
        connect(c, &ZqNetHostConnection::fileSent, this, [this](QString l, QString r) { add("sent", l, r); });
        connect(c, &ZqNetHostConnection::fileStartReceive, this,
            [this](QString l, QString r) { add("startReceive", l, r); });
        connect(c, &ZqNetHostConnection::fileReceived, this,
            [this](QString l, QString r) { add("received", l, r); });
        connect(c, &ZqNetHostConnection::fileTransferComplete, this, [this] { events << "complete"; });
        connect(c, &ZqNetHostConnection::fileTransferFailed, this, [this] { events << "failed"; });
        connect(
            c, &ZqNetHostConnection::filePercentileComplete, this, [this](uint p) { percents << int(p); });
        connect(c, &ZqNetHostConnection::messageReceived, this,
            [this](QByteArray m, ZqMessageType) { messages << m; });
    }
    void add(const char* what, const QString& local, const QString& remote)
    {
        events << QString("%1 %2 %3").arg(what, QFileInfo(local).fileName(), QFileInfo(remote).fileName());
    }
    bool ended() const { return events.contains("complete") || events.contains("failed"); }
    QStringList events;
    QList<int> percents;
    QList<QByteArray> messages;
};

// Two host connections over loopback: `client` made its own socket,
// `host` wraps the accepted one as the server role does.
struct ConnectionPair {
    QTcpServer server;
    std::unique_ptr<ZqNetHostConnection> client;
    std::unique_ptr<ZqNetHostConnection> host;

    bool open(const char* address, const QString& tempDir)
    {
        if (!server.listen(QHostAddress(QString::fromLatin1(address)), 0))
            return false;
        client.reset(new ZqNetHostConnection(tempDir, nullptr));
        QSignalSpy connected(client.get(), &ZqNetHostConnection::connected);
        client->Socket()->connectToHost(server.serverAddress(), server.serverPort());
        if (!server.waitForNewConnection(2000))
            return false;
        QTcpSocket* accepted = server.nextPendingConnection();
        host.reset(new ZqNetHostConnection(accepted, tempDir, nullptr));
        accepted->setParent(host.get());
        host->PreparePersistantConnection();
        return connected.count() == 1 || connected.wait(2000);
    }
};

} // namespace

class tst_FileTransfer : public QObject {
    Q_OBJECT
private slots:
    void sendWritesTheFileFrame_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("asciiBytes");
        QTest::addColumn<int>("fieldBytes");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QList<int>>("percents");
        QTest::newRow("25000 bytes") << 25000 << 0 << 0 << hex("00000000000063A8 82703EC2")
                                     << QList<int> { 42, 82, 100 };
        QTest::newRow("empty") << 0 << 0 << 0 << hex("0000000000000200 82703EC2") << QList<int> {};
        // The path's UTF-8 bytes: asciiBytes, then a two-byte letter, then more.
        QTest::newRow("path of 256 bytes")
            << 1 << 254 << 256 << hex("0000000000000201 82703EC2") << QList<int> { 100 };
        QTest::newRow("longer path, cut before a letter")
            << 1 << 255 << 255 << hex("0000000000000201 82703EC2") << QList<int> { 100 };
    }
    void sendWritesTheFileFrame()
    {
        QFETCH(int, size);
        QFETCH(int, asciiBytes);
        QFETCH(int, fieldBytes);
        QFETCH(QByteArray, header);
        QFETCH(QList<int>, percents);
        QTemporaryDir dir;
        QString local = dir.filePath("data.bin");
        if (asciiBytes > 0) {
            local = dir.path() + "/";
            for (int i = 1; local.size() < asciiBytes; ++i)
                local += i % 200 == 0 ? '/' : 'x';
            local += QString::fromUtf8("é") + (fieldBytes < 256 ? "tail" : "");
            if (local.toUtf8().indexOf("\xc3") != asciiBytes)
                QSKIP("temporary folder too long for this row");
        }
        writeFile(local, pattern(size));
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.30"));
        FileLog log(&pair.connection);
        const QString remote = QString::fromUtf8("dest/ü.bin");
        QVERIFY(pair.connection.sendFile(local, remote));
        QCOMPARE(pair.peerRead(12).toHex(), header.toHex());
        QCOMPARE(pair.peerRead(256), field(remote.toUtf8()));
        const QByteArray localField = pair.peerRead(256);
        QCOMPARE(localField, field(local.toUtf8().left(fieldBytes > 0 ? fieldBytes : 256)));
        QCOMPARE(pair.peerRead(size), pattern(size));
        QTRY_VERIFY(log.ended());
        const QString name = QFileInfo(local).fileName();
        QCOMPARE(log.events,
            (QStringList { "startSend " + name + " ü.bin", "sent " + name + " ü.bin", "complete" }));
        QCOMPARE(log.percents, percents);
        QVERIFY(!pair.connection.sendFile(local, QString(257, 'r')));
        QVERIFY(!pair.connection.sendFile(dir.filePath("missing"), remote));
    }

    // Both ends send a file at once; each lands where its own frame said.
    void bothDirectionsAtOnce()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("tmp")));
        ConnectionPair pair;
        QVERIFY(pair.open("127.0.0.31", dir.filePath("tmp")));
        pair.client->setFileReceiveRoot(dir.filePath("clientroot"));
        pair.host->setFileReceiveRoot(dir.filePath("hostroot"));
        QVERIFY(QDir().mkpath(dir.filePath("clientroot")) && QDir().mkpath(dir.filePath("hostroot")));
        writeFile(dir.filePath("up.bin"), pattern(300000, 1));
        writeFile(dir.filePath("down.bin"), pattern(200000, 2));
        writeFile(dir.filePath("hostroot/in/up.bin"), "an older file");
        FileLog clientLog(pair.client.get());
        FileLog hostLog(pair.host.get());
        QVERIFY(pair.client->sendFile(dir.filePath("up.bin"), "in/up.bin"));
        QVERIFY(pair.host->sendFile(dir.filePath("down.bin"), "down/copy.bin"));
        QVERIFY(pair.client->SendMessage("after the file"));
        QTRY_COMPARE(hostLog.events.count("complete"), 2);
        QTRY_COMPARE(clientLog.events.count("complete"), 2);
        // The two directions interleave; sorted, the host saw each signal once.
        QStringList events = hostLog.events;
        events.sort();
        QCOMPARE(events,
            (QStringList { "complete", "complete", "received up.bin up.bin", "sent down.bin copy.bin",
                "startReceive up.bin up.bin", "startSend down.bin copy.bin" }));
        QCOMPARE(sha(dir.filePath("hostroot/in/up.bin")), sha(dir.filePath("up.bin")));
        QCOMPARE(sha(dir.filePath("clientroot/down/copy.bin")), sha(dir.filePath("down.bin")));
        QCOMPARE(hostLog.messages, QList<QByteArray> { "after the file" });
        QCOMPARE(hostLog.percents.last(), 100);
        QCOMPARE(tempFiles(dir.filePath("tmp")), QStringList());
    }

    // A peer must not choose where its file goes: with no receive folder
    // (the client role) or outside it, the frame is read and dropped.
    void refusedDestinations_data()
    {
        QTest::addColumn<bool>("root");
        QTest::addColumn<QByteArray>("destination");
        QTest::newRow("no receive folder") << false << QByteArray("ok.txt");
        QTest::newRow("absolute") << true << QByteArray("/victim/file");
        QTest::newRow("dot dot") << true << QByteArray("a/../../victim/file");
        QTest::newRow("link out") << true << QByteArray("out/file");
        QTest::newRow("dangling link") << true << QByteArray("dangling");
    }
    void refusedDestinations()
    {
        QFETCH(bool, root);
        QFETCH(QByteArray, destination);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("root")) && QDir().mkpath(dir.filePath("victim")));
        QVERIFY(QFile::link(dir.filePath("victim"), dir.filePath("root/out")));
        QVERIFY(QFile::link(dir.filePath("victim/new"), dir.filePath("root/dangling")));
        destination.replace("/victim", dir.filePath("victim").toUtf8());
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.32"));
        if (root)
            pair.connection.setFileReceiveRoot(dir.filePath("root"));
        FileLog log(&pair.connection);
        const QByteArray data = pattern(30000);
        pair.peerWrite(fileFrameHeader(data.size()) + field(destination) + field("/peer/file") + data
            + frame(ZqMessage_GenericMessage, "next"));
        QTRY_COMPARE(log.messages, QList<QByteArray> { "next" });
        QCOMPARE(log.events, QStringList { "failed" });
        QCOMPARE(log.percents, QList<int> {});
        QCOMPARE(
            QDir(dir.filePath("victim")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(tempFiles(pair.connection.TempDirectory()), QStringList());
        QVERIFY(pair.connection.IsConnected());
    }

    // The marker may arrive whole, split across reads, or with the next frame.
    void cancelMarkerFromPeer_data()
    {
        QTest::addColumn<int>("split");
        QTest::newRow("one write") << 0;
        QTest::newRow("split across writes") << 20;
    }
    void cancelMarkerFromPeer()
    {
        QFETCH(int, split);
        QTemporaryDir dir;
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.33"));
        pair.connection.setFileReceiveRoot(dir.path());
        FileLog log(&pair.connection);
        const QByteArray start
            = fileFrameHeader(100000) + field("got.bin") + field("/peer/got.bin") + pattern(5000);
        const QByteArray next = frame(ZqMessage_GenericMessage, "next");
        const QString temp = pair.connection.TempDirectory();
        if (split > 0) {
            pair.peerWrite(start + marker.left(split));
            // The marker's first bytes are taken as file data until it is whole.
            QTRY_VERIFY(tempFiles(temp).size() == 1
                && QFileInfo(temp + "/" + tempFiles(temp).first()).size() == 5020);
            pair.peerWrite(marker.mid(split) + next);
        } else {
            pair.peerWrite(start + marker + next);
        }
        QTRY_COMPARE(log.messages, QList<QByteArray> { "next" });
        QCOMPARE(log.events, QStringList { "startReceive got.bin got.bin" });
        QCOMPARE(tempFiles(pair.connection.TempDirectory()), QStringList());
        QVERIFY(!QFileInfo::exists(dir.filePath("got.bin")));
    }

    void cancelFileSend()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("big"), pattern(1 << 20));
        writeFile(dir.filePath("queued"), "q");
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.34"));
        FileLog log(&pair.connection);
        QVERIFY(!pair.connection.cancelFileSend(dir.filePath("big"), "big"));
        QVERIFY(pair.connection.sendFile(dir.filePath("big"), "big"));
        QVERIFY(pair.connection.sendFile(dir.filePath("queued"), "queued"));
        QVERIFY(pair.connection.cancelFileSend(dir.filePath("queued"), "queued"));
        QVERIFY(!pair.connection.cancelFileSend(dir.filePath("queued"), "queued"));
        QTRY_VERIFY(log.percents.size() >= 2);
        // Only the matching pair halts the file in flight.
        QVERIFY(!pair.connection.cancelFileSend(dir.filePath("big"), "other"));
        QVERIFY(pair.connection.cancelFileSend(dir.filePath("big"), "big"));
        QVERIFY(pair.connection.SendMessage("next"));
        const QByteArray next = frame(ZqMessage_GenericMessage, "next");
        QByteArray wire;
        QTRY_VERIFY((wire += pair.peer->readAll()).endsWith(next));
        const QByteArray data = wire.mid(12 + 512, wire.size() - 12 - 512 - marker.size() - next.size());
        QCOMPARE(data, pattern(1 << 20).left(data.size()));
        QCOMPARE(wire.mid(wire.size() - marker.size() - next.size(), marker.size()), marker);
        QTest::qWait(50);
        QCOMPARE(log.events, QStringList { "startSend big big" });
    }

    // A marker with fewer than 48 bytes left would desynchronise the stream.
    void tooLateToCancelFinishes()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("file"), pattern(10240 + 40));
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.35"));
        FileLog log(&pair.connection);
        bool cancelled = true;
        bool tried = false;
        connect(&pair.connection, &ZqNetHostConnection::filePercentileComplete, this, [&](uint percent) {
            if (!tried) {
                tried = true;
                QCOMPARE(percent, 99u);
                cancelled = pair.connection.cancelFileSend(dir.filePath("file"), "file");
            }
        });
        QVERIFY(pair.connection.sendFile(dir.filePath("file"), "file"));
        QTRY_VERIFY(log.ended());
        QVERIFY(!cancelled);
        QCOMPARE(log.events.last(), QString("complete"));
        QCOMPARE(pair.peerRead(12 + 512 + 10280).mid(12 + 512), pattern(10240 + 40));
    }

    // The frame holds the size taken at the start: a file that grows is cut
    // there, one that shrinks is ended with the marker.
    void fileChangingWhileSent_data()
    {
        QTest::addColumn<int>("newSize");
        QTest::newRow("grows") << 200000;
        QTest::newRow("shrinks") << 30000;
    }
    void fileChangingWhileSent()
    {
        QFETCH(int, newSize);
        QTemporaryDir dir;
        writeFile(dir.filePath("f.bin"), pattern(100000));
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.41"));
        FileLog log(&pair.connection);
        connect(&pair.connection, &ZqNetHostConnection::fileStartSend, this,
            [&] { writeFile(dir.filePath("f.bin"), pattern(newSize)); });
        QVERIFY(pair.connection.sendFile(dir.filePath("f.bin"), "f.bin"));
        QTRY_VERIFY(log.ended());
        QVERIFY(pair.connection.SendMessage("next"));
        const QByteArray next = frame(ZqMessage_GenericMessage, "next");
        QByteArray wire;
        QTRY_VERIFY((wire += pair.peer->readAll()).endsWith(next));
        QCOMPARE(wire.left(12), fileFrameHeader(100000));
        const QByteArray body = wire.mid(12 + 512, wire.size() - 12 - 512 - next.size());
        if (newSize > 100000) {
            QCOMPARE(body, pattern(100000));
            QCOMPARE(log.events.mid(1), (QStringList { "sent f.bin f.bin", "complete" }));
        } else {
            QVERIFY(body.size() < 100000 && body.endsWith(marker));
            QCOMPARE(
                body.left(body.size() - marker.size()), pattern(newSize).left(body.size() - marker.size()));
            QCOMPARE(log.events.mid(1), (QStringList { "complete", "failed" }));
        }
    }

    // A queued file that can no longer be opened fails; the next one goes.
    void unopenableQueuedFileFailsAndTheQueueMovesOn()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("first"), pattern(50000));
        writeFile(dir.filePath("gone"), "gone");
        writeFile(dir.filePath("last"), "last");
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.42"));
        FileLog log(&pair.connection);
        QVERIFY(pair.connection.sendFile(dir.filePath("first"), "first"));
        QVERIFY(pair.connection.sendFile(dir.filePath("gone"), "gone"));
        QVERIFY(pair.connection.sendFile(dir.filePath("last"), "last"));
        QVERIFY(QFile::remove(dir.filePath("gone")));
        QTRY_COMPARE(log.events.count("complete"), 2);
        QCOMPARE(log.events,
            (QStringList { "startSend first first", "sent first first", "complete", "failed",
                "startSend last last", "sent last last", "complete" }));
    }

    // Two ways the receiver finds a marker where the sender put one, so the
    // stream stays in step: a marker inside the file's own bytes (the sender
    // stops after it), and a cancel just after data ending like the start of
    // the marker (the sender completes it from there, else the receiver would
    // find it 8 bytes early and read the rest as a header).
    void markerStaysInStep_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("planted");
        QTest::addColumn<QStringList>("senderEnd");
        QTest::newRow("marker inside the file") << 15000 << marker << QStringList { "complete", "failed" };
        QTest::newRow("cancel after a marker start") << 10240 - 8 << QByteArray("filestop") << QStringList {};
    }
    void markerStaysInStep()
    {
        QFETCH(int, at);
        QFETCH(QByteArray, planted);
        QFETCH(QStringList, senderEnd);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("tmp")) && QDir().mkpath(dir.filePath("root")));
        writeFile(dir.filePath("f.bin"), pattern(100000).replace(at, planted.size(), planted));
        ConnectionPair pair;
        QVERIFY(pair.open("127.0.0.36", dir.filePath("tmp")));
        pair.host->setFileReceiveRoot(dir.filePath("root"));
        FileLog clientLog(pair.client.get());
        FileLog hostLog(pair.host.get());
        bool cancelled = false;
        if (senderEnd.isEmpty()) {
            connect(pair.client.get(), &ZqNetHostConnection::filePercentileComplete, this, [&] {
                if (!cancelled)
                    QVERIFY(cancelled = pair.client->cancelFileSend(dir.filePath("f.bin"), "f.bin"));
            });
        }
        QVERIFY(pair.client->sendFile(dir.filePath("f.bin"), "f.bin"));
        QTRY_VERIFY(cancelled || clientLog.ended());
        QVERIFY(pair.client->SendMessage("next"));
        QTRY_COMPARE(hostLog.messages, QList<QByteArray> { "next" });
        QCOMPARE(clientLog.events, QStringList { "startSend f.bin f.bin" } + senderEnd);
        QCOMPARE(hostLog.events, QStringList { "startReceive f.bin f.bin" });
        QCOMPARE(tree(dir.filePath("root")) + tempFiles(dir.filePath("tmp")), QStringList());
    }

    // A name taken, or a link planted where the next temporary file would go,
    // is skipped: nothing is written through the link.
    void tempFileNeverFollowsALink()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("root")));
        writeFile(dir.filePath("victim"), "victim");
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.37"));
        pair.connection.setFileReceiveRoot(dir.filePath("root"));
        const QString temp = pair.connection.TempDirectory() + "/f.bin_127.0.0.37_%1.tmp";
        const quint32 next = ZqNetHostConnection::uniqueTempFileTagId;
        QVERIFY(QFile::link(dir.filePath("victim"), temp.arg(next)));
        writeFile(temp.arg(next + 1), "taken");
        FileLog log(&pair.connection);
        pair.peerWrite(fileFrameHeader(4) + field("f.bin") + field("/x/f.bin") + "data");
        QTRY_VERIFY(log.ended());
        QCOMPARE(log.events.last(), QString("complete"));
        QCOMPARE(readFile(dir.filePath("root/f.bin")) + readFile(dir.filePath("victim"))
                + readFile(temp.arg(next + 1)),
            QByteArray("datavictimtaken"));
        QCOMPARE(ZqNetHostConnection::uniqueTempFileTagId, next + 3);
        QFile::remove(temp.arg(next));
        QFile::remove(temp.arg(next + 1));
    }

    void disconnectRemovesThePartialFile_data()
    {
        QTest::addColumn<bool>("byWatchDog");
        QTest::newRow("peer closes") << false;
        // A slot of the failure that ends the connection again: still one disconnected.
        QTest::newRow("watchdog, failure slot ends it") << true;
    }
    void disconnectRemovesThePartialFile()
    {
        QFETCH(bool, byWatchDog);
        QTemporaryDir dir;
        LoopbackPair pair;
        QVERIFY(pair.open("127.0.0.39"));
        pair.connection.setFileReceiveRoot(dir.path());
        FileLog log(&pair.connection);
        QSignalSpy disconnected(&pair.connection, &ZqNetHostConnection::disconnected);
        pair.peerWrite(fileFrameHeader(100000) + field("part") + field("/x/part") + pattern(1000));
        QTRY_COMPARE(tempFiles(pair.connection.TempDirectory()).size(), 1);
        if (byWatchDog) {
            connect(&pair.connection, &ZqNetHostConnection::fileTransferFailed, &log,
                [&] { pair.connection.forceDisconnect(); });
            pair.connection.setWatchDogTimeout(50);
        } else {
            pair.peer->disconnectFromHost();
        }
        QTRY_VERIFY(log.ended());
        QCOMPARE(log.events, (QStringList { "startReceive part part", "complete", "failed" }));
        QCOMPARE(tempFiles(pair.connection.TempDirectory()), QStringList());
        QCOMPARE(disconnected.count(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_FileTransfer)
#include "tst_filetransfer.moc"
