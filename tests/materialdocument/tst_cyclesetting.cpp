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
    // Every field through the meta-object: signal, bit, written text, read
    // back, and cleared by its no-value sentinel.
    void fieldThroughMetaObject_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < CycleSetting::fieldCount; ++i)
            QTest::newRow(qPrintable(CycleSetting::fields()[i].element)) << i;
    }
    void fieldThroughMetaObject()
    {
        QFETCH(int, index);
        const CycleSetting::Field& field = CycleSetting::fields()[index];
        CycleSetting cycle;
        const QMetaObject* meta = cycle.metaObject();
        const QMetaProperty property = meta->property(meta->indexOfProperty(propertyName(field.element)));
        QVERIFY(property.isValid());
        QCOMPARE(property.notifySignal().name(), (field.element + QStringLiteral("Changed")).toLatin1());
        const QMetaEnum flags = meta->enumerator(meta->indexOfEnumerator("SerializationFlags"));
        QCOMPARE(flags.keyToValue(("CycleSetting" + field.element).toLatin1()), int(field.bit));

        const bool isDouble = field.kind == CycleSetting::Field::Double;
        const QVariant value
            = isDouble ? QVariant(2.5) : field.kind == CycleSetting::Field::Int ? QVariant(1234) : QVariant(true);
        SignalLog log(&cycle);
        QVERIFY(property.write(&cycle, value));
        QCOMPARE(log.names, QStringList({ "XmlFlagsChanged", field.element + "Changed" }));
        QCOMPARE(written(cycle), QStringList(field.element + '=' + value.toString()));

        CycleSetting copy;
        QVERIFY(readInto(copy, QStringLiteral("<%1>%2</%1>").arg(field.element, value.toString())));
        QCOMPARE(property.read(&copy), value);
        QCOMPARE(int(copy.XmlFlags()), int(field.bit));

        if (field.kind == CycleSetting::Field::Switch)
            return;
        QVERIFY(property.write(&cycle, 60001));
        QVERIFY2(!cycle.Validate(), "out of range, yet valid");
        QVERIFY(property.write(&cycle, value));
        log.names.clear();
        QVERIFY(property.write(&cycle, isDouble ? QVariant(std::nan("")) : QVariant(INT_MIN)));
        QCOMPARE(log.names, QStringList("XmlFlagsChanged"));
        QCOMPARE(int(cycle.XmlFlags()), 0);
        QCOMPARE(property.read(&cycle), value);
    }

    // More of what stored files hold (see also read/lenient.zqmat). An invalid
    // value: the bit is cleared and the previous value kept.
    void readerIsLenient_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("int negative fraction") << "Settle_ms" << "-0.9" << QVariant(0);
        QTest::newRow("int exponent") << "Settle_ms" << "1e3" << QVariant(1000);
        QTest::newRow("int not a number") << "Settle_ms" << "abc" << QVariant(0);
        QTest::newRow("int sentinel clears") << "Settle_ms" << "-2147483648" << QVariant();
        QTest::newRow("int nan clears") << "Settle_ms" << "nan" << QVariant();
        QTest::newRow("double not a number") << "CoolRaise_Max_mm" << "abc" << QVariant(0.0);
        QTest::newRow("double out of range kept") << "CoolRaise_Max_mm" << "99" << QVariant(99.0);
        QTest::newRow("double nan clears") << "CoolRaise_Max_mm" << "nan" << QVariant();
        QTest::newRow("switch 1 ignored") << "EnableBRM" << "1" << QVariant();
        QTest::newRow("switch with blank ignored") << "EnableBRM" << " false" << QVariant();
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
            "<Extra><Kick_ms>5</Kick_ms><Deeper><Cool_ms>9</Cool_ms></Deeper></Extra><Bubble_ms>7</Bubble_ms>"));
        QCOMPARE(written(cycle), QStringList("Bubble_ms=7"));
    }

    // Exact messages at the limits and just outside.
    void validationAtTheLimits_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("message");
        const QString kick = QStringLiteral("<b>Kick (ms)</b> is outside the allowed range of 0 to 60000.");
        const QString raise = QStringLiteral("<b>Initial Raise</b> is outside the allowed range of 0 to 10.");
        QTest::newRow("int min") << QByteArray("kick_ms") << QVariant(0) << QString();
        QTest::newRow("int max") << QByteArray("kick_ms") << QVariant(60000) << QString();
        QTest::newRow("int below") << QByteArray("kick_ms") << QVariant(-1) << kick;
        QTest::newRow("int above") << QByteArray("kick_ms") << QVariant(60001) << kick;
        QTest::newRow("double min") << QByteArray("initial_Raise") << QVariant(0.0) << QString();
        QTest::newRow("double max") << QByteArray("initial_Raise") << QVariant(10.0) << QString();
        QTest::newRow("double above") << QByteArray("initial_Raise") << QVariant(10.5) << raise;
        QTest::newRow("double just below") << QByteArray("initial_Raise") << QVariant(-1e-9) << raise;
    }
    void validationAtTheLimits()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QFETCH(QString, message);
        CycleSetting cycle;
        QVERIFY(cycle.setProperty(property, value));
        QCOMPARE(cycle.Validate(), message.isEmpty());
        QCOMPARE(cycle.ValidationErrorMessage(), message.isEmpty() ? QStringList() : QStringList(message));
    }
};

QTEST_GUILESS_MAIN(tst_CycleSetting)
#include "tst_cyclesetting.moc"
