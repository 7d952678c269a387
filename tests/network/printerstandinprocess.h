#pragma once

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

// The printer stand-in (tools/printerstandin) run as a child process; its JSON-lines
// log comes from its standard output. Needs PRINTERSTANDIN_BINARY.
class PrinterStandInProcess {
public:
    ~PrinterStandInProcess()
    {
        process.kill();
        process.waitForFinished(2000);
    }

    // Starts on address:32889 and waits until it listens.
    bool start(const QString& address, const QStringList& arguments = {})
    {
        process.setProgram(QStringLiteral(PRINTERSTANDIN_BINARY));
        process.setArguments(QStringList { "--address", address } + arguments);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        return !waitFor("event", "listening").isEmpty();
    }

    // The first log line, read so far or arriving within the time-out, whose field has
    // that value; empty when none does. Keeps the event loop running while it waits.
    QJsonObject waitFor(const QString& field, const QString& value, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (process.canReadLine())
                lines << QJsonDocument::fromJson(process.readLine()).object();
            for (const QJsonObject& line : lines) {
                if (line.value(field).toString() == value)
                    return line;
            }
            if (timer.elapsed() > timeoutMs || process.state() == QProcess::NotRunning)
                return {};
            QTest::qWait(5);
        }
    }

    QProcess process;
    QList<QJsonObject> lines;
};
