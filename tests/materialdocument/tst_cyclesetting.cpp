#include "cyclesetting.h"
#include "testsupport.h"

#include <QMetaProperty>
#include <QTest>

#include <climits>
#include <cmath>

namespace {

QByteArray propertyName(const QString& element)
{
    return (element.left(1).toLower() + element.mid(1)).toLatin1();
}

bool readInto(CycleSetting& cycle, const QString& children)
{
    QXmlStreamReader reader;
    startAtRoot(reader, QStringLiteral("<CycleSettings>") + children + QStringLiteral("</CycleSettings>"));
    return cycle.FromXML(reader) && !reader.hasError();
}

QStringList written(CycleSetting& cycle)
{
    return childElements(writeWrapped([&](QXmlStreamWriter& writer) { cycle.ToXML(writer); }));
}

} // namespace

class tst_CycleSetting : public QObject {
    Q_OBJECT

private slots:
    // Each field as the document format has it: bit, initial value, range and label
    // (kind d, i or s). Also its signals, text, reading back and clearing.
    void field_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<char>("kind");
        QTest::addColumn<int>("bit");
        QTest::addColumn<double>("initial");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<QString>("label");
        const auto row = [](const char* element, char kind, int bit, double initial, double maximum,
                             const char* label) {
            QTest::newRow(element) << QString(element) << kind << bit << initial << maximum << QString(label);
        };
        row("Initial_Raise", 'd', 0x1, 1.2, 10, "Initial Raise");
        row("Initial_Release", 'i', 0x2, 4000, 60000, "Initial Release");
        row("Initial_Settle", 'i', 0x4, 14000, 60000, "Initial Settle");
        row("ReleaseRaise_Min_mm", 'd', 0x8, 0.8, 10, "Release Raise Min (mm)");
        row("ReleaseRaise_Max_mm", 'd', 0x10, 1.2, 10, "Release Raise Max (mm)");
        row("CoolRaise_Min_mm", 'd', 0x20, 0, 10, "Cool Raise Min (mm)");
        row("CoolRaise_Max_mm", 'd', 0x40, 0, 10, "Cool Raise Max (mm)");
        row("Kick_ms", 'i', 0x80, 0, 60000, "Kick (ms)");
        row("ReleaseMin_ms", 'i', 0x100, 200, 60000, "Release Min (ms)");
        row("Release_ms", 'i', 0x200, 1000, 60000, "Release (ms)");
        row("Cool_ms", 'i', 0x400, 0, 60000, "Cool (ms)");
        row("Bubble_ms", 'i', 0x800, 0, 60000, "Bubble (ms)");
        row("SettleMin_ms", 'i', 0x1000, 300, 60000, "Settle Min (ms)");
        row("Settle_ms", 'i', 0x2000, 7000, 60000, "Settle (ms)");
        row("EnableBRM", 's', 0x4000, 0, 0, "");
    }
    void field()
    {
        QFETCH(QString, element);
        QFETCH(char, kind);
        QFETCH(int, bit);
        QFETCH(double, initial);
        QFETCH(double, maximum);
        QFETCH(QString, label);
        const QByteArray property = propertyName(element);
        CycleSetting cycle;
        const QMetaObject* meta = cycle.metaObject();
        QCOMPARE(meta->property(meta->indexOfProperty(property)).notifySignal().name(),
            (element + "Changed").toLatin1());
        const QMetaEnum flags = meta->enumerator(meta->indexOfEnumerator("SerializationFlags"));
        QCOMPARE(flags.keyToValue(("CycleSetting" + element).toLatin1()), bit);
        QCOMPARE(cycle.property(property).toDouble(), initial);

        const QVariant value = kind == 'd' ? QVariant(3.1415926)
            : kind == 'i'                  ? QVariant(12345)
                                           : QVariant(true);
        const QString text = kind == 'd' ? QStringLiteral("3.14159") : value.toString();
        SignalLog log(&cycle);
        QVERIFY(cycle.setProperty(property, value));
        QCOMPARE(log.names, QStringList({ "XmlFlagsChanged", element + "Changed" }));
        QCOMPARE(written(cycle), QStringList(element + '=' + text));
        CycleSetting copy;
        QVERIFY(readInto(copy, QStringLiteral("<%1>%2</%1>").arg(element, text)));
        QCOMPARE(copy.property(property).toString(), text);
        QCOMPARE(int(copy.XmlFlags()), bit);
        if (kind == 's')
            return;

        const QString message
            = QStringLiteral("<b>%1</b> is outside the allowed range of 0 to %2.").arg(label).arg(maximum);
        const double step = kind == 'd' ? 1e-9 : 1;
        for (double limit : { 0.0, maximum, -step, maximum + step }) {
            cycle.setProperty(property, limit);
            const bool valid = limit >= 0 && limit <= maximum;
            QCOMPARE(cycle.Validate(), valid);
            QCOMPARE(cycle.ValidationErrorMessage(), valid ? QStringList() : QStringList(message));
        }
        cycle.setProperty(property, value);
        log.names.clear();
        QVERIFY(cycle.setProperty(property, kind == 'd' ? QVariant(std::nan("")) : QVariant(INT_MIN)));
        QCOMPARE(log.names, QStringList("XmlFlagsChanged"));
        QCOMPARE(int(cycle.XmlFlags()), 0);
        QCOMPARE(cycle.property(property), value);
    }

    // More of what stored files hold (see also read/lenient.zqmat). An invalid
    // value: the bit is cleared and the previous value kept.
    void readerIsLenient_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("int not a number") << "Settle_ms"
                                          << "abc" << QVariant(0);
        QTest::newRow("int sentinel clears") << "Settle_ms"
                                             << "-2147483648" << QVariant();
        QTest::newRow("double out of range kept") << "CoolRaise_Max_mm"
                                                  << "99" << QVariant(99.0);
        QTest::newRow("double nan clears") << "CoolRaise_Max_mm"
                                           << "nan" << QVariant();
        QTest::newRow("switch 1 ignored") << "EnableBRM"
                                          << "1" << QVariant();
    }
    void readerIsLenient()
    {
        QFETCH(QString, element);
        QFETCH(QString, text);
        QFETCH(QVariant, value);
        const QByteArray property = propertyName(element);
        CycleSetting cycle;
        cycle.setProperty(property, 9);
        cycle.setXmlFlags(CycleSetting::SerializationFlags(0));
        const QVariant before = cycle.property(property);
        QVERIFY(readInto(cycle, QStringLiteral("<%1>%2</%1>").arg(element, text)));
        QCOMPARE(int(cycle.XmlFlags()) != 0, value.isValid());
        QCOMPARE(cycle.property(property), value.isValid() ? value : before);
    }

    void unknownElementIsSkippedWhole()
    {
        CycleSetting cycle;
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Extra\"");
        QVERIFY(readInto(cycle,
            "<Extra><Kick_ms>5</Kick_ms><Deeper><Cool_ms>9</Cool_ms></Deeper></Extra><Bubble_ms>7</"
            "Bubble_ms>"));
        QCOMPARE(written(cycle), QStringList("Bubble_ms=7"));
    }
};

QTEST_GUILESS_MAIN(tst_CycleSetting)
#include "tst_cyclesetting.moc"
