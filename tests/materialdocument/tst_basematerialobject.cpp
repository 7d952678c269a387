#include "basematerialobject.h"
#include "testsupport.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

using Parameter = BaseMaterialObject::Parameter;

const Parameter& parameter(int index) { return BaseMaterialObject::parameters()[index]; }

QStringList written(BaseMaterialObject& object)
{
    return childElements(writeWrapped([&](QXmlStreamWriter& writer) { object.ToXML(writer); }));
}

// Reads every child of <T>...</T> through the shared-block reader.
bool readBlock(BaseMaterialObject& object, const QString& children)
{
    QXmlStreamReader reader;
    startAtRoot(reader, QStringLiteral("<T>") + children + QStringLiteral("</T>"));
    while (reader.readNextStartElement()) {
        if (!object.FromXML(reader))
            return false;
    }
    return !reader.hasError();
}

} // namespace

class tst_BaseMaterialObject : public QObject {
    Q_OBJECT

private slots:
    // Each parameter through the meta-object: signal, bit, element and text,
    // read back, and cleared by NaN.
    void parameterThroughMetaObject_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < BaseMaterialObject::parameterCount; ++i)
            QTest::newRow(qPrintable(parameter(i).name)) << i;
    }
    void parameterThroughMetaObject()
    {
        QFETCH(int, index);
        const Parameter& p = parameter(index);
        BaseMaterialObject object;
        const QMetaObject* meta = object.metaObject();
        const QMetaProperty property = meta->property(meta->indexOfProperty(p.property));
        QVERIFY(property.isValid() && property.isWritable());
        QCOMPARE(property.notifySignal().name(), (p.name + QStringLiteral("Changed")).toLatin1());
        const QMetaEnum flags = meta->enumerator(meta->indexOfEnumerator("SharedSerializationFlags"));
        QCOMPARE(flags.keyToValue(("BaseMaterialObject" + p.name).toLatin1()), int(p.bit));
        QCOMPARE(property.read(&object).toDouble(), p.initial);

        // A value inside the range that survives its text form unchanged.
        const double number = QString::number(p.minimum + (p.maximum - p.minimum) / 4, 'g', 3).toDouble();
        const QVariant value = p.isSwitch ? QVariant(!bool(p.initial)) : QVariant(number);
        const QString text = p.isSwitch ? value.toString() : QString::number(number, p.format, p.precision);
        SignalLog log(&object);
        QVERIFY(property.write(&object, value));
        QCOMPARE(log.names, QStringList({ "SharedXmlFlagsChanged", p.name + "Changed" }));
        QCOMPARE(written(object), QStringList(p.element + '=' + text));

        BaseMaterialObject copy;
        QVERIFY(readBlock(copy, QStringLiteral("<%1>%2</%1>").arg(p.element, text)));
        QCOMPARE(property.read(&copy), value);
        QCOMPARE(int(copy.SharedXmlFlags()), int(p.bit));

        if (p.isSwitch)
            return;
        object.setProperty(p.property, 1e9);
        QVERIFY2(!object.Validate(), "far out of range, yet valid");
        object.setProperty(p.property, number);
        log.names.clear();
        object.setProperty(p.property, std::nan(""));
        QCOMPARE(log.names, QStringList("SharedXmlFlagsChanged"));
        QCOMPARE(int(object.SharedXmlFlags()), 0);
        // A cleared exposure drops below its minimum so that validation catches it.
        const bool isExposure = p.bit == BaseMaterialObject::BaseMaterialObjectExposure;
        QCOMPARE(object.property(p.property).toDouble(), isExposure ? 0.0 : number);
    }

    void updateFlagSwitchesBitsWithoutTouchingValues()
    {
        BaseMaterialObject object;
        object.setXYTrim_mm(0.5);
        object.setXYTrim_mm(std::nan(""));
        QSignalSpy spy(&object, &BaseMaterialObject::SharedXmlFlagsChanged);
        object.UpdateFlag(
            BaseMaterialObject::SharedSerializationFlags(BaseMaterialObject::BaseMaterialObjectXYTrim_mm
                | BaseMaterialObject::BaseMaterialObjectOverHangFactor),
            true);
        QCOMPARE(written(object), QStringList({ "XYTrim_mm=0.5", "OverHangFactor=80" }));
        object.UpdateFlag(BaseMaterialObject::BaseMaterialObjectXYTrim_mm, false);
        QCOMPARE(written(object), QStringList("OverHangFactor=80"));
        QCOMPARE(object.XYTrim_mm(), 0.5);
        QCOMPARE(spy.count(), 2);
    }

    // More of what stored files hold (see also read/lenient.zqmat), and what is written after reading it.
    void readerIsLenient_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("skipped");
        QTest::newRow("nan clears") << "<Dp>2</Dp><Dp>nan</Dp>" << QStringList() << "";
        QTest::newRow("out of range kept") << "<TimeMultiplier>7</TimeMultiplier>" << QStringList("TimeMultiplier=7") << "";
        QTest::newRow("switch with blanks ignored") << "<TestingTrim> true </TestingTrim>" << QStringList() << "";
        QTest::newRow("names are case-sensitive") << "<dp>3</dp>" << QStringList() << "dp";
        QTest::newRow("unknown element skipped whole")
            << "<Extra><Dp>5</Dp><More><Exposure>9</Exposure></More></Extra><Oc_um>3</Oc_um>"
            << QStringList("Oc_um=3") << "Extra";
        QTest::newRow("cycle settings, then more")
            << "<CycleSettings><Kick_ms>5</Kick_ms></CycleSettings><Dp>2</Dp><UseOrigMethod>false</UseOrigMethod>"
            << QStringList({ "Dp=2", "UseOrigMethod=false", "CycleSettings=5" }) << "";
    }
    void readerIsLenient()
    {
        QFETCH(QString, xml);
        QFETCH(QStringList, expected);
        QFETCH(QString, skipped);
        BaseMaterialObject object;
        if (!skipped.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Skipping element \"%1\"").arg(skipped)));
        QVERIFY(readBlock(object, xml));
        QCOMPARE(written(object), expected);
    }

    // Exact messages at the limits and just outside, for a representative set of ranges.
    void validationAtTheLimits_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("message");
        const QString form = QStringLiteral("<b>%1</b> is outside the allowed range of %2.");
        const QHash<QString, QString> chosen = {
            { "TimeMultiplier", form.arg("Time Multiplier", "0.1 to 5") },
            { "Iy_um", form.arg("Iy um", "-10000 to 0") },
            { "RaiseAccelLimit", form.arg("Raise Accell Limit", "0 to 1") },
            { "MaterialScalingFactorX", form.arg("Material Scaling Factor X", "0.800000000000 to 1.200000000000") },
        };
        for (int i = 0; i < BaseMaterialObject::parameterCount; ++i) {
            const Parameter& p = parameter(i);
            if (!chosen.contains(p.name))
                continue;
            const QByteArray name = p.name.toLatin1();
            QTest::newRow(name + " min") << i << p.minimum << QString();
            QTest::newRow(name + " max") << i << p.maximum << QString();
            QTest::newRow(name + " below") << i << std::nextafter(p.minimum, -1e300) << chosen.value(p.name);
            QTest::newRow(name + " above") << i << std::nextafter(p.maximum, 1e300) << chosen.value(p.name);
        }
    }
    void validationAtTheLimits()
    {
        QFETCH(int, index);
        QFETCH(double, value);
        QFETCH(QString, message);
        BaseMaterialObject object;
        object.setProperty(parameter(index).property, value);
        QCOMPARE(object.Validate(), message.isEmpty());
        QCOMPARE(object.ValidationErrorMessage(), message.isEmpty() ? QStringList() : QStringList(message));
    }
};

QTEST_GUILESS_MAIN(tst_BaseMaterialObject)
#include "tst_basematerialobject.moc"
