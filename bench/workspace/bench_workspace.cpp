// Opening documents into filled form tabs, editing a field, and memory over
// open/close cycles, each beside the model's own readFromPath + ToXMLString.
#include "benchrow.h"
#include "pelluxmaterialdocument.h"
#include "qmlbench.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJSEngine>
#include <QQuickWindow>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

void settle(QQmlEngine& engine)
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        engine.collectGarbage();
    }
}

} // namespace

int main(int argc, char** argv)
{
    prepareOffscreenQml();
    QApplication app(argc, argv);
    QTemporaryDir home;
    setUpQmlBench(home, QtWarningMsg);

    const int documents = 20;
    QStringList paths;
    for (int i = 0; i < documents; ++i) {
        const QString path = home.filePath(QStringLiteral("material %1.zqmat").arg(i));
        QFile::copy(QStringLiteral(GELV_BENCH_FIXTURE), path);
        paths << path;
    }

    QQmlApplicationEngine engine;
    QObject* root = loadBenchQml(engine, GELV_BENCH_QML);
    if (!root)
        return 1;
    QCoreApplication::processEvents();

    // Floor: the model alone reads the file and serialises it.
    std::vector<double> floorOpen;
    for (const QString& path : paths) {
        QElapsedTimer timer;
        timer.start();
        PelluxMaterialDocument document;
        document.readFromPath(path);
        const QString xml = document.ToXMLString();
        floorOpen.push_back(timer.nsecsElapsed() / 1e6);
        if (xml.isEmpty() || document.HasError())
            return 1;
    }

    // Open to a visible, filled tab.
    std::vector<double> open;
    for (const QString& path : paths) {
        QElapsedTimer timer;
        timer.start();
        if (!call(root, "open", path).toBool())
            return 1;
        QCoreApplication::processEvents();
        if (!call(root, "filled").toBool())
            return 1;
        open.push_back(timer.nsecsElapsed() / 1e6);
    }

    // One keystroke-sized edit of a decimal field.
    const int edits = 400;
    QElapsedTimer editTimer;
    editTimer.start();
    for (int i = 0; i < edits; ++i)
        call(root, "setFieldText", QStringLiteral("Time Multiplier"),
            i % 2 ? QStringLiteral("1.5") : QStringLiteral("1.6"));
    const double perEdit = editTimer.nsecsElapsed() / 1e3 / edits;

    // The same edit once the document's text is a megabyte: an edit that
    // serialised the document would now cost milliseconds.
    call(root, "growDocument", 1 << 20);
    QElapsedTimer bigEditTimer;
    bigEditTimer.start();
    for (int i = 0; i < edits; ++i)
        call(root, "setFieldText", QStringLiteral("Time Multiplier"),
            i % 2 ? QStringLiteral("1.5") : QStringLiteral("1.6"));
    const double perBigEdit = bigEditTimer.nsecsElapsed() / 1e3 / edits;
    PelluxMaterialDocument big;
    big.setPrevImageName(QString(1 << 20, QLatin1Char('x')));
    QElapsedTimer bigSerialiseTimer;
    bigSerialiseTimer.start();
    for (int i = 0; i < 20; ++i)
        big.ToXMLString();
    const double perBigSerialise = bigSerialiseTimer.nsecsElapsed() / 1e3 / 20;

    PelluxMaterialDocument reference;
    reference.readFromPath(paths.first());
    QElapsedTimer serialiseTimer;
    serialiseTimer.start();
    for (int i = 0; i < edits; ++i)
        reference.ToXMLString();
    const double perSerialise = serialiseTimer.nsecsElapsed() / 1e3 / edits;
    call(root, "closeAll");
    settle(engine);

    // Memory over open/close cycles.
    long afterFirst = 0;
    const int cycles = 50;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        call(root, "open", paths.at(cycle % documents));
        QCoreApplication::processEvents();
        call(root, "closeAll");
        settle(engine);
        if (cycle == 0)
            afterFirst = residentKiB();
    }
    const long afterAll = residentKiB();

    const double openMedian = median(open);
    const double floorMedian = median(floorOpen);
    printf("open to filled tab, median of %d: %.3f ms; readFromPath+ToXMLString: %.3f ms; ratio %.1f\n",
        documents, openMedian, floorMedian, openMedian / floorMedian);
    printf("field edit: %.1f us; one ToXMLString: %.1f us; ratio %.2f\n", perEdit, perSerialise,
        perEdit / perSerialise);
    printf("field edit with a 1 MiB document: %.1f us; one ToXMLString of it: %.1f us; ratio %.3f\n",
        perBigEdit, perBigSerialise, perBigEdit / perBigSerialise);
    printf("resident memory after 1 open/close cycle: %ld KiB; after %d: %ld KiB; growth %.1f %%\n",
        afterFirst, cycles, afterAll, 100.0 * (afterAll - afterFirst) / afterFirst);
    benchRow("open to filled tab", openMedian, floorMedian, "ms", "none");
    benchRow("field edit, 1 MiB document", perBigEdit, perBigSerialise, "us", "<2");
    benchRow("memory after 50 open/close cycles", afterAll, afterFirst, "KiB", "<=1.1");
    return afterAll <= afterFirst * 1.1 ? 0 : 2;
}
