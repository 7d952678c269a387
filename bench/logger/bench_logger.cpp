// 100,000 lines through the logger's message handler against the floor: a
// bare QFile write and flush of the same lines. Standard output, which the
// handler always writes (one more write per message), goes to /dev/null while
// measuring; the floor is also shown with that same echo added.
#include "benchrow.h"
#include "logger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int lineCount = 100000;
constexpr int rounds = 5;

QStringList makeMessages()
{
    QStringList messages;
    messages.reserve(lineCount);
    for (int i = 0; i < lineCount; ++i)
        messages.append(
            QStringLiteral("ZqNetRequester(127.0.0.1)::OnMessageReceived: reply %1 for request id %2")
                .arg(i)
                .arg(i * 7));
    return messages;
}

qint64 runHandler(const QStringList& messages)
{
    const QMessageLogContext context(nullptr, 0, nullptr, "default");
    QElapsedTimer timer;
    timer.start();
    for (const QString& message : messages)
        Logger::messageHandler(QtInfoMsg, context, message);
    return timer.nsecsElapsed();
}

// The floor; with echo, also what the handler must do besides: each message
// and a line end to standard output, flushed.
qint64 runFloor(const QString& path, const QStringList& messages, bool echo)
{
    QList<QByteArray> lines;
    QList<QByteArray> echoes;
    lines.reserve(messages.size());
    for (const QString& message : messages) {
        lines.append("2024-03-05 14:07:09.042 Info     default: " + message.toUtf8() + '\n');
        echoes.append(message.toUtf8() + '\n');
    }
    QFile file(path);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return -1;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < lines.size(); ++i) {
        file.write(lines.at(i));
        file.flush();
        if (echo) {
            std::fwrite(echoes.at(i).constData(), 1, size_t(echoes.at(i).size()), stdout);
            std::fflush(stdout);
        }
    }
    return timer.nsecsElapsed();
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) { }

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QStringList messages = makeMessages();

    std::fflush(stdout);
    const int savedStdout = ::dup(1);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);

    auto best = [](qint64& kept, qint64 value) { kept = kept < 0 ? value : std::min(kept, value); };
    qint64 bestHandler = -1;
    qint64 bestFloor = -1;
    qint64 bestFloorEcho = -1;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir roundDir(dir.filePath(QStringLiteral("round")));
        Logger::logParentDirectory = roundDir.path();
        qInstallMessageHandler(quiet);
        Logger::initialization();
        qInstallMessageHandler(nullptr);
        best(bestHandler, runHandler(messages));
        best(bestFloor, runFloor(roundDir.filePath(QStringLiteral("floor.log")), messages, false));
        best(bestFloorEcho, runFloor(roundDir.filePath(QStringLiteral("floorecho.log")), messages, true));
    }

    std::fflush(stdout);
    ::dup2(savedStdout, 1);
    ::close(devNull);
    ::close(savedStdout);

    if (bestFloor <= 0 || bestFloorEcho <= 0) {
        std::printf("floor run failed\n");
        return 1;
    }
    std::printf("%d lines, best of %d rounds\n", lineCount, rounds);
    std::printf("  Logger::messageHandler   %8.1f ms  %6.2f us/line\n", bestHandler / 1e6,
        bestHandler / 1e3 / lineCount);
    std::printf(
        "  QFile write + flush      %8.1f ms  %6.2f us/line\n", bestFloor / 1e6, bestFloor / 1e3 / lineCount);
    std::printf(
        "  ratio                    %8.2fx (target <= 1.5x)\n", double(bestHandler) / double(bestFloor));
    std::printf("  floor + stdout echo      %8.1f ms  %6.2f us/line\n", bestFloorEcho / 1e6,
        bestFloorEcho / 1e3 / lineCount);
    std::printf("  ratio to floor + echo    %8.2fx\n", double(bestHandler) / double(bestFloorEcho));
    benchRow("logger, 100k lines", bestHandler / 1e6, bestFloor / 1e6, "ms", "<=1.5");
    benchRow("logger, floor with stdout echo", bestHandler / 1e6, bestFloorEcho / 1e6, "ms", "<=1.5");
    return 0;
}
