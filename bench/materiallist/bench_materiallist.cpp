// The longest stall of the event loop, seen by a 10 ms timer, while the Settings section
// connects to a printer that lists 4,000,000 names in 16 MiB and then broadcasts the list
// again, until it shows its 1000 rows. The floor: a bare QTcpSocket asks a second such
// printer for the same list, reads both frames whole and shows the first 1000 names in a
// bare ListView of the same window.
#include "benchrow.h"
#include "printerstandinprocess.h"
#include "qmlbench.h"
#include "wirebytes.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Rounds = 5;
constexpr int Names = 4000000;
constexpr int Shown = 1000;
const QString ListKey = QStringLiteral("ZqNetValueKey_MLIB_MaterialNameList");

// The longest gap between ticks of a 10 ms timer until done() holds; -1 when it did not within a minute.
double longestStall(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = qMax(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    const QDeadlineTimer deadline(60000);
    while (!done()) {
        if (deadline.hasExpired())
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return double(qMax(longest, clock.elapsed() - last));
}

// The first `Shown` names of a list value (count, then data-stream strings).
QStringList firstNames(const QByteArray& list)
{
    QStringList names;
    if (list.size() < 4)
        return names;
    const quint32 count = qFromBigEndian<quint32>(list.constData());
    int at = 4;
    for (quint32 i = 0; i < count && names.size() < Shown && at + 4 <= list.size(); ++i) {
        const quint32 bytes = qFromBigEndian<quint32>(list.constData() + at);
        at += 4;
        if (bytes == 0xFFFFFFFF || bytes > quint32(list.size() - at))
            break;
        QString name(int(bytes / 2), Qt::Uninitialized);
        qFromBigEndian<ushort>(list.constData() + at, name.size(), name.data());
        at += int(bytes);
        names << name;
    }
    return names;
}

// One round of the floor: ask, read the answer and the broadcast whole, show each.
double floorRound(QObject* root, const QString& address, bool& ok)
{
    call(root, "showFloor", true);
    QTcpSocket socket;
    QByteArray buffer;
    int lists = 0;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        buffer += socket.readAll();
        while (buffer.size() >= 12) {
            const qint64 length = qFromBigEndian<qint64>(buffer.constData());
            if (buffer.size() < 12 + length)
                return;
            const QByteArray payload = buffer.mid(12, int(length));
            buffer.remove(0, int(12 + length));
            const int key = payload.indexOf(WireBytes::text(ListKey));
            if (key < 0)
                continue;
            const QByteArray list = payload.mid(key + WireBytes::text(ListKey).size() + 4);
            root->setProperty("floorNames", firstNames(list));
            ++lists;
        }
    });
    socket.connectToHost(QHostAddress(address), 32889);
    const double stall = longestStall([&] {
        if (socket.state() == QAbstractSocket::ConnectedState && socket.property("asked").isNull()) {
            socket.setProperty("asked", true);
            socket.write(WireBytes::frame(0x7D218C12, WireBytes::u32(0) + WireBytes::text(ListKey)));
        }
        return lists >= 2 && call(root, "floorShown").toInt() == Shown;
    });
    ok = ok && stall >= 0;
    call(root, "showFloor", false);
    return stall;
}

double oursRound(QObject* root, const QString& address, bool& ok)
{
    if (!call(root, "connectTo", address).toBool()) {
        ok = false;
        return -1;
    }
    // At connect, the answer, then the broadcast.
    const double stall = longestStall(
        [&] { return root->property("listChanges").toInt() >= 3 && call(root, "shown").toInt() == Shown; });
    ok = ok && stall >= 0;
    call(root, "disconnectFrom", address);
    QTest::qWait(500);
    return stall;
}

} // namespace

int main(int argc, char** argv)
{
    prepareOffscreenQml();
    QApplication app(argc, argv);
    QTemporaryDir home;
    setUpQmlBench(home, QtCriticalMsg);

    const QStringList options { "--list-names", QString::number(Names), "--broadcast-list" };
    PrinterStandInProcess oursPrinter, floorPrinter;
    if (!oursPrinter.start(QStringLiteral(GELV_FLOOD_PRINTER), options)
        || !floorPrinter.start(QStringLiteral(GELV_FLOOD_PRINTER), options)) {
        std::printf("the flooding printer did not start\n");
        return 1;
    }
    QQmlApplicationEngine engine;
    QObject* root = loadBenchQml(engine, GELV_BENCH_QML);
    if (!root)
        return 1;
    QTest::qWait(200);

    bool ok = true;
    std::vector<double> ours, floor;
    for (int i = 0; i < Rounds && ok; ++i) {
        if (i % 2) {
            floor.push_back(floorRound(root, floorPrinter.address(), ok));
            ours.push_back(oursRound(root, oursPrinter.address(), ok));
        } else {
            ours.push_back(oursRound(root, oursPrinter.address(), ok));
            floor.push_back(floorRound(root, floorPrinter.address(), ok));
        }
        std::printf("round %d: longest stall %.0f ms, floor %.0f ms\n", i + 1, ours.back(), floor.back());
    }
    if (!ok) {
        std::printf("a round did not finish within a minute\n");
        return 1;
    }
    std::printf("16 MiB material list in Settings: longest stall %.0f ms (median of %d), floor %.0f ms\n",
        median(ours), Rounds, median(floor));
    benchRow("16 MiB list in Settings, longest stall", median(ours), median(floor), "ms", "<=4");
    return 0;
}
