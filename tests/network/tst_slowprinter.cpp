// Printers that take what is sent to them slowly, or not at all.
#include "../printerstandinprocess.h"
#include "PelluxNetworkLibrary.h"
#include "networktest.h"

namespace {

// The bytes the flood printer has read, as it last logged them.
qint64 bytesRead(PrinterStandInProcess& printer)
{
    qint64 bytes = 0;
    for (const QVariant& line : printer.log()) {
        if (line.toMap().value("event").toString() == "read")
            bytes = line.toMap().value("bytes").toLongLong();
    }
    return bytes;
}

} // namespace

class tst_SlowPrinter : public QObject {
    Q_OBJECT

private slots:
    // Regression: a printer that pinged and read 16 KB/s, with 4 MiB of installs queued
    // for it, was dropped after taking 410 KB: only the socket's own writes counted as
    // progress, and the kernel hands those back only after a third of its buffer drained.
    void slowReaderStaysNonReaderGoes()
    {
        PrinterStandInProcess slow, stalled;
        QVERIFY(slow.start(FLOODPRINTER_BINARY, QStringLiteral("127.0.0.231"), { "--read-rate", "16384" }));
        QVERIFY(stalled.start(FLOODPRINTER_BINARY, QStringLiteral("127.0.0.232"), { "--no-read" }));
        PelluxNetworkLib slowItem, stalledItem;
        QSignalSpy slowEnded(&slowItem, &PelluxNetworkLib::disconnected);
        QSignalSpy stalledEnded(&stalledItem, &PelluxNetworkLib::disconnected);
        QVERIFY(slowItem.connectToPrinter(QStringLiteral("127.0.0.231")));
        QVERIFY(stalledItem.connectToPrinter(QStringLiteral("127.0.0.232")));
        const QString document(1024 * 1024, QLatin1Char('A'));
        for (int i = 0; i < 4; ++i) {
            QVERIFY(slowItem.sendMaterialString(document));
            QVERIFY(stalledItem.sendMaterialString(document));
        }
        QElapsedTimer clock;
        clock.start();
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("^ZqNetHostConnection\\(127\\.0\\.0\\.232\\): the peer took none of the "
                               "\\d+ bytes waiting for it in the last 25000 ms, disconnecting$"));
        QVERIFY(stalledEnded.wait(35000));
        const qint64 stalledAfter = clock.elapsed();
        const qint64 takenThen = bytesRead(slow);
        QTest::qWait(int(qMax<qint64>(0, 60000 - clock.elapsed())));
        const qint64 taken = bytesRead(slow);
        qInfo("Non-reader dropped after %lld ms; slow reader had taken %lld bytes then, %lld bytes after %lld ms",
            stalledAfter, takenThen, taken, clock.elapsed());
        QCOMPARE(slowEnded.count(), 0);
        QVERIFY(slowItem.property("connected").toBool());
        QVERIFY2(taken > 512 * 1024, qPrintable(QString::number(taken)));
    }
};

QTEST_GUILESS_MAIN(tst_SlowPrinter)
#include "tst_slowprinter.moc"
