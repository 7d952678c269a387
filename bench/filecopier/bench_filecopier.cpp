// ZqFileCopier against cp(1) copying the same 100 MiB file. The copier syncs
// its copy to disk before renaming it into place, so cp followed by a sync of
// the copy is the like-for-like floor; plain cp is shown too.
#include "benchrow.h"
#include "zqfilecopier.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Rounds = 5;
constexpr qint64 Size = 100 * 1024 * 1024;

double copierMs(const QString& from, const QString& to, bool& ok)
{
    QFile::remove(to);
    ZqFileCopier copier(false);
    copier.setOriginFile(from);
    copier.setDestinationFile(to);
    QEventLoop loop;
    QObject::connect(&copier, &ZqFileCopier::copyComplete, &loop, [&] { loop.exit(0); });
    QObject::connect(&copier, &ZqFileCopier::copyFailed, &loop, [&] { loop.exit(1); });
    QElapsedTimer timer;
    timer.start();
    ok = copier.copy() && loop.exec() == 0 && ok;
    return timer.nsecsElapsed() / 1e6;
}

double cpMs(const QString& from, const QString& to, bool sync, bool& ok)
{
    QFile::remove(to);
    QElapsedTimer timer;
    timer.start();
    ok = QProcess::execute("cp", { from, to }) == 0 && ok;
    if (sync)
        ok = QProcess::execute("sync", { "-d", to }) == 0 && ok;
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("*.debug=false\n*.info=false");
    QTemporaryDir dir;
    const QString origin = dir.filePath("origin");
    if (!writePatternFile(origin, Size))
        return 1;
    bool ok = true;
    double ours = 1e300, floor = 1e300, synced = 1e300;
    for (int i = 0; i < Rounds; ++i) {
        ours = std::min(ours, copierMs(origin, dir.filePath("ours"), ok));
        floor = std::min(floor, cpMs(origin, dir.filePath("floor"), false, ok));
        synced = std::min(synced, cpMs(origin, dir.filePath("floor"), true, ok));
    }
    ok = ok && QFile(dir.filePath("ours")).size() == Size && QFile(dir.filePath("floor")).size() == Size;
    std::printf("copy %lld MiB, best of %d\n", Size >> 20, Rounds);
    std::printf("  ZqFileCopier: %8.1f ms  (%.0f MB/s)\n", ours, Size / 1e3 / ours);
    std::printf("  cp and sync:  %8.1f ms  (%.0f MB/s)\n", synced, Size / 1e3 / synced);
    std::printf("  cp:           %8.1f ms  (%.0f MB/s)\n", floor, Size / 1e3 / floor);
    std::printf("  ratio: %.2fx against cp and sync, %.2fx against cp%s\n", ours / synced, ours / floor,
        ok ? "" : "  A COPY FAILED");
    benchRow("copier 100 MiB, against cp and sync", ours, synced, "ms", "none");
    benchRow("copier 100 MiB, against cp", ours, floor, "ms", "none");
    return ok ? 0 : 1;
}
