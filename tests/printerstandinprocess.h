#ifndef GELV_PRINTERSTANDINPROCESS_H
#define GELV_PRINTERSTANDINPROCESS_H

// The printer stand-in (tools/printerstandin) run as a child process on one loopback
// address, with its JSON-lines log read back from its standard output.
#include "loopbackaddress.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <QVariantList>

class PrinterStandInProcess {
public:
    ~PrinterStandInProcess() { stop(); }

    // Starts it on a free loopback address of its own, then address() is where it listens.
    // Another run may bind the address first: the launch then goes again on a new one.
    bool start(const QString& program, const QStringList& options)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (start(program, freeLoopbackAddress(), options))
                return true;
            if (!m_exitedEarly)
                return false;
        }
        return false;
    }

    // Starts it with the stand-in's own options (--mode, --name, --group-key, --material ...)
    // and waits until it listens. Loopback addresses only.
    bool start(const QString& program, const QString& address, const QStringList& options)
    {
        stop();
        m_address = address;
        m_exitedEarly = false;
        if (!QHostAddress(address).isLoopback())
            return false;
        m_log.clear();
        m_process.setProgram(program);
        m_process.setArguments(QStringList { QStringLiteral("--address"), address } + options);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            if (m_process.waitForReadyRead(100))
                m_log += m_process.readAllStandardOutput();
            if (m_log.contains("\"event\":\"listening\""))
                return true;
        }
        m_exitedEarly = m_process.state() == QProcess::NotRunning;
        stop();
        return false;
    }

    QString address() const { return m_address; }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    qint64 processId() const { return m_process.processId(); }

    // Every log line so far, each as an object.
    QVariantList log()
    {
        m_log += m_process.readAllStandardOutput();
        QVariantList lines;
        for (const QByteArray& line : m_log.split('\n')) {
            if (!line.isEmpty())
                lines.append(QJsonDocument::fromJson(line).object().toVariantMap());
        }
        return lines;
    }

    // How many log lines so far have that value in that field.
    int count(const QString& field, const QString& value)
    {
        int lines = 0;
        for (const QVariant& line : log())
            lines += line.toMap().value(field).toString() == value;
        return lines;
    }

    // The first log line, read so far or arriving within the time-out, whose field has that
    // value; empty when none does. Keeps the event loop running while it waits.
    QVariantMap waitFor(const QString& field, const QString& value, int timeoutMs = 15000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (const QVariant& line : log()) {
                if (line.toMap().value(field).toString() == value)
                    return line.toMap();
            }
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return {};
            QTest::qWait(5);
        }
    }

private:
    QProcess m_process;
    QByteArray m_log;
    QString m_address;
    bool m_exitedEarly = false;
};

#endif
