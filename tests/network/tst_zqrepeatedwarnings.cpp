#include "networktest.h"
#include "zqrepeatedwarnings.h"

class TestRepeatedWarnings : public QObject {
    Q_OBJECT

private slots:
    // Within the interval only the first of a kind is written; the rest are
    // counted into one line at flush, and kinds are counted apart.
    void heldBackUntilFlush()
    {
        MessageCapture warnings(QtWarningMsg);
        {
            ZqRepeatedWarnings limiter;
            for (int i = 0; i < 1000; ++i)
                QCOMPARE(limiter.warn("a", QString("a %1").arg(i)), i == 0);
            QVERIFY(limiter.warn("b", "b"));
            QCOMPARE(limiter.count("a"), quint64(1000));
            QCOMPARE(warnings.messages, (QStringList { "a 0", "b" }));
            limiter.flush();
            QCOMPARE(
                warnings.messages, (QStringList { "a 0", "b", "a 999 (999 more like this not written)" }));
        }
        // Nothing held back is left for the destructor's flush.
        QCOMPARE(warnings.messages.size(), 3);
    }

    // Once the interval has passed, the next one is written, with the count
    // held back since the last line: every warning is accounted for.
    void writtenAgainAfterTheInterval()
    {
        MessageCapture warnings(QtWarningMsg);
        ZqRepeatedWarnings limiter(100);
        QVERIFY(limiter.warn("a", "first"));
        limiter.warn("a", "second");
        QTest::qWait(150);
        QVERIFY(limiter.warn("a", "third"));
        QVERIFY(warnings.messages.last().startsWith("third"));
        int told = 0;
        const QRegularExpression held(R"(\((\d+) more like this not written\)$)");
        for (const QString& line : warnings.messages)
            told += 1 + held.match(line).captured(1).toInt();
        QCOMPARE(told, 3);
    }
};

QTEST_GUILESS_MAIN(TestRepeatedWarnings)
#include "tst_zqrepeatedwarnings.moc"
