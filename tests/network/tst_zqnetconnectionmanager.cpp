#include "networktest.h"
#include "zqudpbroadcaster.h"

#include <QNetworkDatagram>
#include <QPointer>

#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

static int openDescriptors()
{
    return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size();
}

static const QString switchKey = QStringLiteral("ZqUdpBroadCaster_Enabled");

// Run in a child process with a descriptor limit of 40: the descriptors run
// out while a client connects, then they are given back, the client goes and
// a new one must be accepted. Prints what it saw; exit code 0 when it got in.
static const char exhaustionHelperVariable[] = "GELV_DESCRIPTOR_EXHAUSTION_ADDRESS";
static int acceptErrors = 0;

// The sanitizer's type check needs a descriptor of its own, and there is none.
__attribute__((no_sanitize("vptr"))) static int exhaustDescriptorsThenConnect(int argc, char** argv)
{
    const struct rlimit limit {
        40, 40
    };
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 2;
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        acceptErrors += message == QLatin1String("Client Connection Error!");
    });
    const QHostAddress address(qEnvironmentVariable(exhaustionHelperVariable));
    ZqKeyValueSettings store(false);
    store.SetValue(switchKey, "0");
    ZqNetConnectionManager server(&store, true, QString(), nullptr, address);
    // Something else (files, say) takes every descriptor but one, which the
    // client takes: the server cannot accept it.
    auto first = std::make_unique<QTcpSocket>();
    std::vector<int> held;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        held.push_back(fd);
    ::close(held.back());
    held.pop_back();
    first->connectToHost(address, ZqNetConnectionManager::ServerTcpPort);
    const bool exhausted = QTest::qWaitFor([] { return acceptErrors > 0; }, 20000);
    std::printf("client limit %d; %d accept errors with %d descriptors held\n", server.clientLimit(),
        acceptErrors, int(held.size()));
    if (!exhausted)
        return 3;
    for (int fd : held)
        ::close(fd);
    first.reset();
    QElapsedTimer elapsed;
    elapsed.start();
    // The first client, gone, may still wait in the backlog: the new one
    // tries again until it is listed.
    while (elapsed.elapsed() < 30000) {
        QTcpSocket client;
        client.connectToHost(address, ZqNetConnectionManager::ServerTcpPort);
        const auto listed = [&] {
            for (ZqNetHostConnection* host : server.ClientConnections()) {
                if (host->Socket()->peerPort() == client.localPort())
                    return true;
            }
            return false;
        };
        if (QTest::qWaitFor(listed, 1000)) {
            std::printf("accepting again %lld ms after the descriptors were freed\n", elapsed.elapsed());
            return 0;
        }
    }
    std::printf("nothing accepted for 30 s; isListening() %d\n", int(server.isListening()));
    return 1;
}

static QNetworkAddressEntry entry(const char* ip, const char* broadcast)
{
    QNetworkAddressEntry result;
    result.setIp(QHostAddress(ip));
    result.setBroadcast(QHostAddress(broadcast));
    return result;
}

// A server role with one client that reads all it is sent and some that
// read nothing; the send stall is long, so only the queued-bytes bound drops.
struct ReaderAndNonReaders {
    explicit ReaderAndNonReaders(int nonReaderCount)
        : dropped(printer.server.get(), &ZqNetConnectionManager::clientDisconnected)
    {
        printer.server->setClientSendStallTimeout(60000);
        QObject::connect(printer.server.get(), &ZqNetConnectionManager::newClientConnection,
            printer.server.get(),
            [this](ZqNetHostConnection* host) { byPort[host->Socket()->peerPort()] = host; });
        QObject::connect(
            &reader, &QTcpSocket::readyRead, &reader, [this] { read += reader.readAll().size(); });
        reader.connectToHost(printer.address, ZqNetConnectionManager::ServerTcpPort);
        for (int i = 0; i < nonReaderCount; ++i) {
            nonReaders.emplace_back(new QTcpSocket);
            // Takes nothing from the kernel once a byte is buffered.
            nonReaders.back()->setReadBufferSize(1);
            nonReaders.back()->connectToHost(printer.address, ZqNetConnectionManager::ServerTcpPort);
        }
    }
    bool allAccepted() const { return byPort.size() == int(nonReaders.size()) + 1; }
    ZqNetHostConnection* host(const QTcpSocket& client) const { return byPort.value(client.localPort()); }
    ZqNetHostConnection* nonReader(int i) const { return host(*nonReaders[size_t(i)]); }

    LoopbackServer printer;
    QHash<quint16, ZqNetHostConnection*> byPort;
    QSignalSpy dropped;
    QTcpSocket reader;
    qint64 read = 0;
    std::vector<std::unique_ptr<QTcpSocket>> nonReaders;
};

class tst_ZqNetConnectionManager : public QObject {
    Q_OBJECT
private slots:
    void listenFailureIsReported()
    {
        LoopbackServer first;
        QVERIFY(first.server->isListening());
        QTest::ignoreMessage(QtWarningMsg,
            qPrintable("ZqNetConnectionManager: cannot listen on " + first.address.toString()
                + " port 32889 : The bound address is already in use"));
        LoopbackServer second(first.address);
        QVERIFY(!second.server->isListening());
    }

    void connectionIsParkedOnceAndFreed()
    {
        LoopbackServer printer;
        ZqNetConnectionManager client(&printer.store, false, QString());
        // Not listed, yet parked; parked twice, it would be deleted twice.
        QPointer<ZqNetHostConnection> host = new ZqNetHostConnection(QString(), &client);
        client.RemoveServer(host);
        client.RemoveServer(host);
        QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
        QVERIFY(!host);
    }

    // An ended printer connection was deleted at the free queue's expiry even
    // while files it had received still waited for their copy: they landed,
    // and nobody was told. It now stays parked until they are told.
    void parkedConnectionStaysUntilItsFilesAreTold()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath("root");
        QVERIFY(QDir().mkpath(root));
        QTcpServer printer;
        QVERIFY(printer.listen(QHostAddress(freeLoopbackAddress()), ZqNetConnectionManager::ServerTcpPort));
        ZqNetConnectionManager client(false);
        QVERIFY(client.AttemptConnectionToServer(printer.serverAddress(), 5000));
        QPointer<ZqNetHostConnection> host = client.ServerConnections().last();
        host->setFileReceiveRoot(root);
        QSignalSpy received(host.data(), &ZqNetHostConnection::fileReceived);
        QVERIFY(printer.waitForNewConnection(5000));
        std::unique_ptr<QTcpSocket> peer(printer.nextPendingConnection());
        const int files = 5;
        QByteArray wire;
        for (int i = 0; i < files; ++i) {
            wire += frame(ZqMessageTypes::ZqMessage_FileDataMessage, {}, 512 + 100)
                + QByteArray("f" + QByteArray::number(i)).leftJustified(256, '\0')
                + QByteArray("/x/f").leftJustified(256, '\0') + pattern(100, i);
        }
        peer->write(wire);
        QVERIFY(peer->waitForBytesWritten(5000));
        // Without the event loop no copy's end is taken in: all still wait.
        while (host->unsettledReceivedFiles() < files)
            QVERIFY(host->Socket()->waitForReadyRead(5000));
        host->forceDisconnect();
        QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
        QVERIFY(host);
        QTRY_COMPARE(received.count(), files);
        QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
        QVERIFY(!host);
        QCOMPARE(QDir(root).entryList(QDir::Files).size(), files);
    }

    void ignoreSetIsStoredAndReadBounded()
    {
        LoopbackServer printer;
        ZqNetConnectionManager(&printer.store, false, QString())
            .AddServerToIgnoreSet(QHostAddress("127.0.0.60"));
        const QString key = QStringLiteral("ConnectionManagerIgnoreList");
        QCOMPARE(printer.store.GetValue(key, QByteArray()), QByteArray::fromHex("00000001 00 7f00003c"));
        QVERIFY(ZqNetConnectionManager(&printer.store, false, QString())
                    .serverInIgnoreSet(QHostAddress("127.0.0.60")));
        // A huge count is read element by element, never reserved.
        printer.store.SetValue(key, QByteArray::fromHex("7fffffff 00 7f00003d 00 7f00"));
        QCOMPARE(ZqNetConnectionManager(&printer.store, false, QString()).IgnoredServers(),
            QList<QHostAddress> { QHostAddress("127.0.0.61") });
    }

    void serverRelaysMessagesAndReportsSends()
    {
        LoopbackServer printer;
        ZqNetConnectionManager client(&printer.store, false, QString());
        QSignalSpy relayed(printer.server.get(), &ZqNetConnectionManager::clientMessageReceived);
        QVERIFY(client.AttemptConnectionToServer(printer.address, 10000));
        QVERIFY(client.ServerConnections().first()->SendMessage(
            "hello", ZqMessageTypes::ZqMessage_GenericMessage));
        QVERIFY(relayed.wait(10000));
        ZqNetHostConnection* host = printer.server->ClientConnections().first();
        QCOMPARE(relayed.first().first().value<ZqNetHostConnection*>(), host);
        QVERIFY(printer.server->BroadCastMessageToClients("b", ZqMessageTypes::ZqMessage_GenericMessage));
        // A send the connection refuses is reported as failed.
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(
                QtWarningMsg, "ZqNetHostConnection::SendMessage: invalid msgType, use sendFile()");
        QVERIFY(!printer.server->SendMessageToClient(host, "c", ZqMessageTypes::ZqMessage_FileDataMessage));
        QVERIFY(!printer.server->BroadCastMessageToClients("d", ZqMessageTypes::ZqMessage_FileDataMessage));
    }

    void droppedClientsLeakNoDescriptor()
    {
        LoopbackServer printer;
        ZqNetConnectionManager client(&printer.store, false, QString());
        QSignalSpy accepted(printer.server.get(), &ZqNetConnectionManager::newClientConnection);
        QSignalSpy ended(&client, &ZqNetConnectionManager::serverDisconnected);
        QPointer<QTcpSocket> socket;
        // The server drops a client whose socket is still open: only closing that
        // socket lets the client see the end.
        auto cycle = [&] {
            QVERIFY(client.AttemptConnectionToServer(printer.address, 10000));
            QVERIFY(accepted.count() > 0 || accepted.wait(10000));
            socket = printer.server->ClientConnections().last()->Socket();
            printer.server->RemoveClient(printer.server->ClientConnections().last());
            QVERIFY(ended.count() > 0 || ended.wait(10000));
            accepted.clear();
            ended.clear();
            QVERIFY(QMetaObject::invokeMethod(&client, "OnFreeQueueTimeout"));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        cycle();
        const int before = openDescriptors();
        for (int i = 0; i < 1000 && !QTest::currentTestFailed(); ++i)
            cycle();
        QCOMPARE(openDescriptors(), before);
        QVERIFY(!socket);
    }

    // Regression: removing a live client ran the disconnect chain again from inside the
    // removal, which was logged twice.
    void removingALiveClientReportsItOnce()
    {
        LoopbackServer printer;
        QSignalSpy accepted(printer.server.get(), &ZqNetConnectionManager::newClientConnection);
        QSignalSpy ended(printer.server.get(), &ZqNetConnectionManager::clientDisconnected);
        QTcpSocket client;
        client.connectToHost(printer.address, ZqNetConnectionManager::ServerTcpPort);
        QVERIFY(accepted.wait(10000));
        MessageCapture infos(QtInfoMsg);
        printer.server->RemoveClient(printer.server->ClientConnections().first());
        QCOMPARE(ended.count(), 1);
        QCOMPARE(infos.count("^ZqNetConnectionManager:: Removed Client From Connection List\\.$"), 1);
        QVERIFY(printer.server->ClientConnections().isEmpty());
    }

    void waitForServerConnectionSleeps()
    {
        LoopbackServer printer;
        ZqNetConnectionManager client(&printer.store, false, QString());
        QTimer::singleShot(300, &client, [&] { client.AttemptConnectionToServer(printer.address, 10000); });
        const std::clock_t start = std::clock();
        client.WaitForServerConnection();
        // Spinning would burn the whole 300 ms.
        QVERIFY(double(std::clock() - start) / CLOCKS_PER_SEC < 0.1);
    }

    // Qt stops accepting after an accept error ("Out of resources") and
    // nothing started it again: after every client had gone, the server took
    // no one while it still said it was listening.
    void acceptingResumesAfterDescriptorsRunOut()
    {
        QProcess helper;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(exhaustionHelperVariable, freeLoopbackAddress());
        helper.setProcessEnvironment(environment);
        helper.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(helper.waitForFinished(90000));
        const QByteArray output = helper.readAllStandardOutput() + helper.readAllStandardError();
        qInfo().noquote() << output.trimmed();
        QVERIFY2(helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0, output.constData());
    }

    // A client that announces a large message and sends all but a little of
    // it, slowly enough to keep the watchdog quiet, held its buffer for ever.
    // File frames were exempt: a header never finished, or a 2^50-byte file
    // trickled a byte at a time, held the client as long as the trickle went
    // on. A file frame's header and path block meet the deadline too, and its
    // bytes must keep coming.
    void slowClientIsDroppedByTheFrameDeadline_data()
    {
        columns<QByteArray, QString>("start", "warning");
        const int size = 1 << 20;
        const QByteArray message = frame(ZqMessageTypes::ZqMessage_GenericMessage, pattern(size - 100), size);
        QTest::newRow("message not whole") << message << "protocol error, frame not whole within 300 ms$";
        const QByteArray header = frame(ZqMessageTypes::ZqMessage_FileDataMessage, {}, qint64(1) << 50);
        QTest::newRow("file path block not whole")
            << header + QByteArray(100, 'p') << "protocol error, frame not whole within 300 ms$";
        QTest::newRow("file bytes trickled")
            << header + QByteArray(512, '\0') << "protocol error, file data stalled: \\d+ bytes in 300 ms$";
    }
    void slowClientIsDroppedByTheFrameDeadline()
    {
        QFETCH(QByteArray, start);
        QFETCH(QString, warning);
        LoopbackServer printer;
        printer.server->setClientFrameDeadline(300);
        printer.server->setClientSendStallTimeout(300);
        QSignalSpy accepted(printer.server.get(), &ZqNetConnectionManager::newClientConnection);
        QSignalSpy dropped(printer.server.get(), &ZqNetConnectionManager::clientDisconnected);
        QTcpSocket client;
        client.connectToHost(printer.address, ZqNetConnectionManager::ServerTcpPort);
        QVERIFY(accepted.wait(10000));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        client.write(start);
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, &client, [&] { client.write("x"); });
        trickle.start(50);
        QTRY_COMPARE_WITH_TIMEOUT(dropped.count(), 1, 10000);
        QVERIFY(elapsed.elapsed() >= 250);
        QCOMPARE(printer.server->ClientConnections().size(), 0);
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    }

    // Clients that each announce a large message and hold back its end:
    // every one stayed within its own bounds, and together they held
    // gigabytes. Unfinished frames are bounded for all clients together; the
    // client holding the most is dropped.
    void unfinishedFramesAreBoundedInTotal()
    {
        LoopbackServer printer;
        QSignalSpy accepted(printer.server.get(), &ZqNetConnectionManager::newClientConnection);
        QSignalSpy dropped(printer.server.get(), &ZqNetConnectionManager::clientDisconnected);
        const qint64 residentBefore = residentKiB();
        const QByteArray held = unfinishedFrame(16 * 1024 * 1024);
        const auto clients = connectingClients(6, printer.address, ZqNetConnectionManager::ServerTcpPort);
        QTRY_COMPARE(accepted.count(), 6);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("^ZqNetConnectionManager: dropping client 127.0.0.1: it holds \\d+ of \\d+ "
                               "bytes of unread frames$"));
        qint64 peakHeld = 0;
        for (auto& client : clients) {
            client->write(held);
            QTRY_VERIFY_WITH_TIMEOUT(
                client->bytesToWrite() == 0 || client->state() != QAbstractSocket::ConnectedState, 10000);
            QTest::qWait(20);
            qint64 total = 0;
            for (ZqNetHostConnection* host : printer.server->ClientConnections())
                total += host->Socket()->bytesAvailable();
            peakHeld = qMax(peakHeld, total);
        }
        // 15 MiB each: four fit.
        QTRY_COMPARE(dropped.count(), 2);
        std::printf("unfinished frames: %lld bytes held at most, resident memory grown by %lld KiB\n",
            peakHeld, residentKiB() - residentBefore);
        QVERIFY2(peakHeld <= ZqNetConnectionManager::MaxUnfinishedFrameBytes,
            qPrintable(QString::number(peakHeld)));
        QCOMPARE(printer.server->ClientConnections().size(), 4);
    }

    // A broadcast was copied for every client, and a client that read was
    // dropped for its own answer and the broadcast after it (32 MB, over the
    // 17 MiB cap). A broadcast is now held once; past the bound for all
    // clients the one furthest behind goes first.
    void broadcastQueuesAreBoundedInTotal()
    {
        ReaderAndNonReaders t(7);
        ZqNetConnectionManager& server = *t.printer.server;
        QTRY_VERIFY(t.allAccepted());
        const QByteArray answer = pattern(16000000, 1), broadcast = pattern(16000000, 2);
        const qint64 residentBefore = residentKiB();
        QVERIFY(server.SendMessageToClient(
            t.host(t.reader), answer, ZqMessageTypes::ZqMessage_ValueRequestAccepted));
        QVERIFY(server.BroadCastMessageToClients(broadcast, ZqMessageTypes::ZqMessage_ValueUpdateBroadcast));
        const qint64 grownKiB = residentKiB() - residentBefore;
        QTRY_VERIFY_WITH_TIMEOUT(t.read >= 2 * (12 + qint64(answer.size())), 20000);
        std::printf("16 MB answer and broadcast, 7 clients that never read: %lld KiB more\n", grownKiB);
        QCOMPARE(t.dropped.count(), 0);
#ifndef __SANITIZE_ADDRESS__ // which keeps freed memory in quarantine
        QVERIFY2(grownKiB < 16 * 1024, qPrintable(QString::number(grownKiB)));
#endif

        // Answers of 16 MB to four that never read: theirs alone, 80 MB in
        // all with the broadcast. One goes; the reader stays.
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("^ZqNetConnectionManager: dropping client 127.0.0.1: furthest behind"));
        for (int i = 0; i < 4; ++i)
            server.SendMessageToClient(
                t.nonReader(i), pattern(16000000, 3 + i), ZqMessageTypes::ZqMessage_ValueRequestAccepted);
        QCOMPARE(t.dropped.count(), 1);
        QCOMPARE(server.ClientConnections().size(), 7);
        QVERIFY(server.ClientConnections().contains(t.host(t.reader)));
    }

    // A message written to the socket a piece at a time is held whole until
    // its last piece is in; the quick look over all clients counted only the
    // pieces still to go. Answers of 16 MB, each read in part: 80 MB held
    // with the fifth, and nobody was dropped.
    void partlyReadAnswersCountWhole()
    {
        LoopbackServer printer;
        printer.server->setClientSendStallTimeout(60000);
        QList<ZqNetHostConnection*> hosts;
        connect(printer.server.get(), &ZqNetConnectionManager::newClientConnection, this,
            [&](ZqNetHostConnection* host) {
                // Little room in the kernel, so that what is not read stays with the server.
                host->Socket()->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 65536);
                hosts << host;
            });
        QSignalSpy dropped(printer.server.get(), &ZqNetConnectionManager::clientDisconnected);
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 5; ++i) {
            clients.emplace_back(new QTcpSocket);
            clients.back()->setReadBufferSize(65536);
            clients.back()->connectToHost(printer.address, ZqNetConnectionManager::ServerTcpPort);
        }
        QTRY_COMPARE(hosts.size(), 5);
        bool stopped = false;
        for (int i = 0; i < 5; ++i) {
            QTcpSocket* client = clients[size_t(i)].get();
            QTRY_COMPARE(client->state(), QAbstractSocket::ConnectedState);
            client->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
            ZqNetHostConnection* host = nullptr;
            for (ZqNetHostConnection* h : qAsConst(hosts))
                host = h->Socket()->peerPort() == client->localPort() ? h : host;
            QVERIFY(host);
            if (i == 4) {
                QTest::ignoreMessage(QtWarningMsg,
                    QRegularExpression(
                        "^ZqNetConnectionManager: dropping client 127.0.0.1: furthest behind"));
            }
            QVERIFY(printer.server->SendMessageToClient(
                        host, pattern(16000000, i), ZqMessageTypes::ZqMessage_ValueRequestAccepted)
                || i == 4);
            if (i == 4)
                break;
            // Read until less than 4 MB of the answer waits, then nothing more.
            stopped = false;
            const auto connection = connect(client, &QTcpSocket::readyRead, client, [&stopped, client, host] {
                stopped = host->pendingSendBytes() < 4000000;
                if (!stopped)
                    client->readAll();
            });
            QTRY_VERIFY_WITH_TIMEOUT(stopped, 30000);
            disconnect(connection);
            QCOMPARE(dropped.count(), 0);
        }
        QCOMPARE(dropped.count(), 1);
    }

    // Messages were told apart by where their bytes lie, and the number of
    // one sent and taken long ago stayed with that place: bytes sent from
    // there again (the same bytes, or new ones in the freed memory) counted
    // as the oldest, and the client that had read everything was dropped as
    // furthest behind.
    void bytesSentAgainCountAsNew()
    {
        ReaderAndNonReaders t(4);
        LoopbackServer& printer = t.printer;
        QSignalSpy& dropped = t.dropped;
        const qint64& read = t.read;
        QTRY_VERIFY(t.allAccepted());
        ZqNetHostConnection* const readerHost = t.host(t.reader);
        const QByteArray answer = pattern(16000000, 1);
        QVERIFY(printer.server->SendMessageToClient(
            readerHost, answer, ZqMessageTypes::ZqMessage_ValueRequestAccepted));
        QTRY_VERIFY_WITH_TIMEOUT(
            read == 12 + qint64(answer.size()) && readerHost->pendingMessages().isEmpty(), 20000);
        for (int i = 0; i < 4; ++i) {
            QVERIFY(printer.server->SendMessageToClient(
                t.nonReader(i), pattern(13000000, 2 + i), ZqMessageTypes::ZqMessage_ValueRequestAccepted));
        }
        QCOMPARE(dropped.count(), 0);
        // 68 MB in all with the reader's new answer: the oldest waiting goes.
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("^ZqNetConnectionManager: dropping client 127.0.0.1: furthest behind"));
        QVERIFY(printer.server->SendMessageToClient(
            readerHost, answer, ZqMessageTypes::ZqMessage_ValueRequestAccepted));
        QCOMPARE(dropped.count(), 1);
        QVERIFY(!printer.server->ClientConnections().contains(t.nonReader(0)));
        QTRY_VERIFY_WITH_TIMEOUT(read == 2 * (12 + qint64(answer.size())), 20000);
    }

    // Every send walked every client's whole queue (the bound for all clients,
    // the backlog of each, the numbers of held messages), so that clients that
    // read slowly made each send slower: 900 broadcasts a second fell to 40.
    // A send now reads running totals and no queue entry, however long the queues.
    void aSendWalksNoQueue()
    {
        ReaderAndNonReaders t(7);
        ZqNetConnectionManager& server = *t.printer.server;
        QTRY_VERIFY(t.allAccepted());
        // No event loop between them: all but the first wait in every client's queue.
        for (int i = 0; i < 2000; ++i)
            server.BroadCastMessageToClients(pattern(100, i), ZqMessageTypes::ZqMessage_GenericMessage);
        const quint64 walked = ZqNetHostConnection::sendQueueEntriesWalked;
        QVERIFY(server.BroadCastMessageToClients(pattern(100, -1), ZqMessageTypes::ZqMessage_GenericMessage));
        QVERIFY(server.SendMessageToClient(
            t.nonReader(0), pattern(100, -2), ZqMessageTypes::ZqMessage_ValueRequestAccepted));
        QCOMPARE(ZqNetHostConnection::sendQueueEntriesWalked - walked, quint64(0));
        QVERIFY(t.nonReader(0)->pendingMessages().size() >= 2000);
        QCOMPARE(t.dropped.count(), 0);
    }

    // The totals are kept as messages start and stop waiting: what clients
    // that went held must leave them, or a client would later be dropped as
    // furthest behind for bytes that nobody holds.
    void goneClientsLeaveNothingCounted()
    {
        ReaderAndNonReaders t(4);
        ZqNetConnectionManager& server = *t.printer.server;
        QTRY_VERIFY(t.allAccepted());
        // Each a message of its own: bytes in a place of their own.
        const QByteArray bytes = pattern(16000000);
        const auto answer = [&bytes] { return QByteArray(bytes.constData(), bytes.size()); };
        // One answer in flight and one queued for each.
        for (int i = 0; i < 4; ++i) {
            QVERIFY(server.SendMessageToClient(
                t.nonReader(i / 2), answer(), ZqMessageTypes::ZqMessage_ValueRequestAccepted));
        }
        QVERIFY(t.nonReader(0)->pendingSendBytes() > 31000000);
        t.nonReaders[0]->abort();
        t.nonReaders[1]->abort();
        QTRY_COMPARE(t.dropped.count(), 2);
        // 64,000,048 bytes waiting in all, within the bound on their own.
        for (int i = 2; i < 4; ++i) {
            for (int j = 0; j < 2; ++j) {
                QVERIFY(server.SendMessageToClient(
                    t.nonReader(i), answer(), ZqMessageTypes::ZqMessage_ValueRequestAccepted));
            }
        }
        QCOMPARE(t.dropped.count(), 2);
        QCOMPARE(server.ClientConnections().size(), 3);
    }

    // Regression: a message a slot of a client's drop sent in the middle of a
    // broadcast took the broadcast's number away, so the clients after the
    // drop held the broadcast as the newest message of all; past the bound in
    // all, a client holding newer messages was dropped instead of them.
    void clientHoldingABroadcastPastADropIsFurthestBehind()
    {
        ReaderAndNonReaders t(2);
        ZqNetConnectionManager& server = *t.printer.server;
        QTRY_VERIFY(t.allAccepted());
        // Only clients that read nothing are left.
        t.reader.abort();
        QTRY_COMPARE(t.dropped.count(), 1);
        QCOMPARE(server.ClientConnections().size(), 2);
        ZqNetHostConnection* const backlogged = server.ClientConnections().at(0);
        ZqNetHostConnection* const behind = server.ClientConnections().at(1);
        const QByteArray bytes = pattern(16000000);
        const auto answer = [&bytes] { return QByteArray(bytes.constData(), bytes.size()); };
        const auto accepted = ZqMessageTypes::ZqMessage_ValueRequestAccepted;
        QVERIFY(server.SendMessageToClient(backlogged, answer(), accepted));
        QVERIFY(server.SendMessageToClient(backlogged, answer(), accepted));
        bool toldOnDrop = false;
        connect(&server, &ZqNetConnectionManager::clientDisconnected, this, [&](ZqNetHostConnection* host) {
            if (host == backlogged && !toldOnDrop)
                toldOnDrop = server.SendMessageToClient(behind, "dropped one", accepted);
        });
        QVERIFY(!server.BroadCastMessageToClients(answer(), ZqMessageTypes::ZqMessage_GenericMessage));
        QVERIFY(toldOnDrop);
        QCOMPARE(t.dropped.count(), 2);
        // Two later clients are sent newer messages, past the bound in all at the last one.
        QTcpSocket later[2];
        for (QTcpSocket& client : later) {
            client.setReadBufferSize(1);
            client.connectToHost(t.printer.address, ZqNetConnectionManager::ServerTcpPort);
        }
        QTRY_VERIFY(t.host(later[0]) && t.host(later[1]));
        ZqNetHostConnection* const first = t.host(later[0]);
        ZqNetHostConnection* const second = t.host(later[1]);
        QVERIFY(server.SendMessageToClient(first, answer(), accepted));
        QVERIFY(server.SendMessageToClient(first, answer(), accepted));
        QVERIFY(server.SendMessageToClient(second, answer(), accepted));
        QCOMPARE(t.dropped.count(), 2);
        QVERIFY(server.SendMessageToClient(second, answer(), accepted));
        QCOMPARE(t.dropped.count(), 3);
        QCOMPARE(server.ClientConnections(), (QList<ZqNetHostConnection*> { first, second }));
    }

    // One address may hold only so many of the server's places.
    void clientsFromOneAddressAreCapped()
    {
        LoopbackServer printer;
        QSignalSpy accepted(printer.server.get(), &ZqNetConnectionManager::newClientConnection);
        const auto clients = connectingClients(9, printer.address, ZqNetConnectionManager::ServerTcpPort);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("^ZqNetConnectionManager: refusing client 127.0.0.1: 8 clients, 8 from that"));
        QTRY_COMPARE(accepted.count(), 8);
        QTRY_COMPARE(std::count_if(clients.begin(), clients.end(),
                         [](auto& c) { return c->state() == QAbstractSocket::UnconnectedState; }),
            1);
        QCOMPARE(printer.server->ClientConnections().size(), 8);
    }

    // A client that reads nothing had every broadcast queued for it without
    // bound. It is dropped when its backlog passes the cap, or when it takes
    // nothing for the stall interval; a client that reads stays.
    void broadcastBacklogToANonReaderIsBounded_data()
    {
        columns<int, int, int, QString>("count", "size", "stallMs", "warning");
        QTest::newRow("backlog over the cap")
            << 10 << 4 * 1024 * 1024 << 60000 << "^ZqNetConnectionManager: dropping client 127.0.0.1";
        QTest::newRow("no progress") << 1 << 8 * 1024 * 1024 << 300
                                     << "^ZqNetHostConnection\\(127.0.0.1\\): the peer took none of";
    }
    void broadcastBacklogToANonReaderIsBounded()
    {
        QFETCH(int, count);
        QFETCH(int, size);
        QFETCH(int, stallMs);
        QFETCH(QString, warning);
        LoopbackServer printer;
        printer.server->setClientSendStallTimeout(stallMs);
        // Peer ports by connection, taken while each connection is alive.
        QHash<ZqNetHostConnection*, quint16> ports;
        QList<quint16> dropped;
        connect(printer.server.get(), &ZqNetConnectionManager::newClientConnection, this,
            [&](ZqNetHostConnection* host) { ports[host] = host->Socket()->peerPort(); });
        connect(printer.server.get(), &ZqNetConnectionManager::clientDisconnected, this,
            [&](ZqNetHostConnection* host) { dropped << ports.value(host); });
        QTcpSocket reader, nonReader;
        // Takes nothing from the kernel once a byte is buffered.
        nonReader.setReadBufferSize(1);
        reader.connectToHost(printer.address, ZqNetConnectionManager::ServerTcpPort);
        nonReader.connectToHost(printer.address, ZqNetConnectionManager::ServerTcpPort);
        QTRY_COMPARE(ports.size(), 2);
        qint64 read = 0;
        connect(&reader, &QTcpSocket::readyRead, &reader, [&] { read += reader.readAll().size(); });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        const QByteArray message = pattern(size);
        for (int i = 0; i < count; ++i) {
            printer.server->BroadCastMessageToClients(message, ZqMessageTypes::ZqMessage_GenericMessage);
            QTRY_VERIFY_WITH_TIMEOUT(read >= (i + 1) * qint64(12 + size), 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(dropped, QList<quint16> { nonReader.localPort() }, 20000);
        QCOMPARE(printer.server->ClientConnections().size(), 1);
        QCOMPARE(printer.server->ClientConnections().first()->Socket()->peerPort(), reader.localPort());
    }

    void announcesNineBytesOnLoopback_data()
    {
        columns<QByteArray, bool>("stored", "enabled");
        QTest::newRow("missing") << QByteArray() << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("not a number") << QByteArray("on") << false;
        QTest::newRow("text after a zero byte") << QByteArray("2\0x", 3) << true;
    }

    void announcesNineBytesOnLoopback()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, enabled);
        QUdpSocket receiver;
        // A port of this run's own: a parallel run elsewhere hears nothing of it.
        QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 0));
        ZqKeyValueSettings store(false);
        if (!stored.isNull())
            store.SetValue(switchKey, stored);
        ZqUDPBroadCaster caster(&store, QStringLiteral("ZqPrinter"));
        // Before any timer can fire: nothing may ever be broadcast on a real interface.
        caster.setInterfaceNames(QStringLiteral("lo"), QStringLiteral("lo"));
        caster.setPort(receiver.localPort());
        QCOMPARE(caster.isEnabled(), enabled);
        QCOMPARE(store.GetValue(switchKey, "untouched"), stored.isNull() ? QByteArray("untouched") : stored);

        QVERIFY(QMetaObject::invokeMethod(&caster, "BroadcastDatagrams"));
        caster.SetEnabled(!enabled);
        QCOMPARE(store.GetValue(switchKey, "untouched"), QByteArray(enabled ? "0" : "1"));
        QVERIFY(QMetaObject::invokeMethod(&caster, "BroadcastDatagrams"));
        // Exactly one of the two ticks was enabled; loopback keeps the order.
        QVERIFY(receiver.hasPendingDatagrams() || QSignalSpy(&receiver, &QUdpSocket::readyRead).wait(10000));
        QCOMPARE(receiver.receiveDatagram().data(), QByteArray("ZqPrinter"));
        QTest::qWait(100);
        QVERIFY(!receiver.hasPendingDatagrams());
    }

    void broadcastAddressIsFirstIPv4One()
    {
        QCOMPARE(ZqUDPBroadCaster::broadcastAddress({}), QHostAddress());
        QCOMPARE(ZqUDPBroadCaster::broadcastAddress({ entry("2001:db8::2", ""), entry("192.0.2.9", ""),
                     entry("198.51.100.3", "198.51.100.255"), entry("203.0.113.5", "203.0.113.255") }),
            QHostAddress(QStringLiteral("198.51.100.255")));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(exhaustionHelperVariable))
        return exhaustDescriptorsThenConnect(argc, argv);
    QCoreApplication app(argc, argv);
    tst_ZqNetConnectionManager test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_zqnetconnectionmanager.moc"
