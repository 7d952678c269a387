#include "../testsupport.h"
#include "basematerialobject.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamWriter>

#include <climits>
#include <cmath>

namespace {

// Name and text of each element `object` writes, e.g. "Dp=0.5"; nested ones give their text.
QStringList written(IMaterialObject& object)
{
    QString xml;
    QXmlStreamWriter writer(&xml);
    writer.writeStartElement(QStringLiteral("T"));
    object.ToXML(writer);
    writer.writeEndElement();
    QStringList children;
    QXmlStreamReader reader(xml);
    reader.readNextStartElement();
    while (reader.readNextStartElement()) {
        const QString name = reader.name().toString();
        children << name + '=' + reader.readElementText(QXmlStreamReader::IncludeChildElements);
    }
    return children;
}

// Reads each child of <T>...</T> through the shared-block reader.
bool readBlock(BaseMaterialObject& object, const QString& children)
{
    QXmlStreamReader reader(QStringLiteral("<T>") + children + QStringLiteral("</T>"));
    reader.readNextStartElement();
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
    // Each shared parameter and cycle field as the document format has it: element, bit,
    // initial value, range and label. Format 'i' is a cycle integer, 0 a switch.
    void parameter_data()
    {
        columns<bool, QString, QString, int, double, double, double, QString, char, int>("cycle", "name",
            "element", "bit", "initial", "minimum", "maximum", "label", "format", "precision");
        const auto base = [](const char* name, int bit, double initial, double minimum, double maximum,
                              const char* label, char format = 'g', int precision = 6,
                              const char* element = nullptr) {
            QTest::newRow(name) << false << QString(name) << QString(element ? element : name) << bit
                                << initial << minimum << maximum << QString(label) << format << precision;
        };
        const auto flag
            = [&base](const char* name, int bit, bool initial) { base(name, bit, initial, 0, 0, "", 0, 0); };
        const auto cycle
            = [](const char* name, char format, int bit, double initial, double maximum, const char* label) {
                  QTest::newRow(name) << true << QString(name) << QString(name) << bit << initial << 0.0
                                      << maximum << QString(label) << format << 6;
              };
        base("TimeMultiplier", 0x1, 1.0, 0.1, 5.0, "Time Multiplier");
        base("Model_Dose_MJcm3", 0x2, 0.1, 0.1, 20000.0, "Model Dose MJcm3");
        base("Model_Dose_Const", 0x4, 0.0, 0.0, 1000.0, "Model Dose Const");
        base("Dp", 0x8, 0.1, 0.1, 10000.0, "Dp");
        base("Iy_um", 0x10, 0.0, -10000.0, 0.0, "Iy um");
        base("Oc_um", 0x20, 0.0, 0.0, 10000.0, "Oc um");
        base("XYBleed_mm", 0x40, 0.0, 0.0, 3.0, "XY Bleed (mm)");
        base("ZBleedDepth_mm", 0x80, 0.1, 0.0, 3.0, "Z Bleed Depth (mm)");
        base("XYTrim_mm", 0x100, 0.0, -1.0, 1.0, "XY Trim (mm)");
        base("ZShrinkageFactor", 0x200, 1.0, 1.0, 1.2, "Z Shrinkage Factor", 'g', 14, "ZShinkageFactor");
        base("XYShrinkageFactor", 0x400, 1.0, 1.0, 1.2, "XY Shrinkage Factor", 'g', 14, "XYShinkageFactor");
        base("OverHangFactor", 0x800, 80.0, 0.0, 500.0, "Over Hang Factor", 'g', 12);
        base("OverExposureFactor", 0x1000, 0.0, 0.0, 5.0, "Over Exposure Factor", 'g', 12);
        flag("TestingOC", 0x2000, false);
        flag("TestingRC", 0x4000, false);
        flag("TestingTrim", 0x8000, false);
        base("RaiseAccelLimit", 0x10000, 1.0, 0.0, 1.0, "Raise Accell Limit");
        base("LowerDecelLimit", 0x20000, 1.0, 0.0, 1.0, "Lower Decel Limit");
        flag("UsePrinterXYScaling", 0x40000, false);
        base("RC_Factor", 0x80000, 0.0, 0.0, 1.0, "RC Factor");
        base("Exposure", 0x100000, 0.1, 0.1, 100.0, "Exposure");
        base("BaseExposureTimeOverride_ms", 0x200000, 0.1, 0.1, 60000.0, "Base Exposure Time Override (ms)");
        base("AttachDepth", 0x400000, 500.0, 0.0, 1000.0, "Attach Depth");
        base("FoundationExposure", 0x8000000, 0.1, 0.0, 1000.0, "Attach Dosage");
        base("InhibitedLayer_mm", 0x800000, 0.0, 0.0, 0.5, "Inhibited Layer (mm)");
        flag("UseOrigMethod", 0x1000000, true);
        base("MaterialScalingFactorX", 0x2000000, 0.8, 0.8, 1.2, "Material Scaling Factor X", 'f', 12);
        base("MaterialScalingFactorY", 0x4000000, 0.8, 0.8, 1.2, "Material Scaling Factor Y", 'f', 12);
        cycle("Initial_Raise", 'g', 0x1, 1.2, 10, "Initial Raise");
        cycle("Initial_Release", 'i', 0x2, 4000, 60000, "Initial Release");
        cycle("Initial_Settle", 'i', 0x4, 14000, 60000, "Initial Settle");
        cycle("ReleaseRaise_Min_mm", 'g', 0x8, 0.8, 10, "Release Raise Min (mm)");
        cycle("ReleaseRaise_Max_mm", 'g', 0x10, 1.2, 10, "Release Raise Max (mm)");
        cycle("CoolRaise_Min_mm", 'g', 0x20, 0, 10, "Cool Raise Min (mm)");
        cycle("CoolRaise_Max_mm", 'g', 0x40, 0, 10, "Cool Raise Max (mm)");
        cycle("Kick_ms", 'i', 0x80, 0, 60000, "Kick (ms)");
        cycle("ReleaseMin_ms", 'i', 0x100, 200, 60000, "Release Min (ms)");
        cycle("Release_ms", 'i', 0x200, 1000, 60000, "Release (ms)");
        cycle("Cool_ms", 'i', 0x400, 0, 60000, "Cool (ms)");
        cycle("Bubble_ms", 'i', 0x800, 0, 60000, "Bubble (ms)");
        cycle("SettleMin_ms", 'i', 0x1000, 300, 60000, "Settle Min (ms)");
        cycle("Settle_ms", 'i', 0x2000, 7000, 60000, "Settle (ms)");
        cycle("EnableBRM", 0, 0x4000, 0, 0, "");
    }
    // Also its signals, reading back, range messages and clearing by an invalid value.
    void parameter()
    {
        QFETCH(bool, cycle);
        QFETCH(QString, name);
        QFETCH(QString, element);
        QFETCH(int, bit);
        QFETCH(double, initial);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        QFETCH(QString, label);
        QFETCH(char, format);
        QFETCH(int, precision);
        const QByteArray property = (name.left(1).toLower() + name.mid(1)).toLatin1();
        const char* flagsName = cycle ? "xmlFlags" : "sharedXmlFlags";
        BaseMaterialObject base;
        QObject& object = cycle ? static_cast<QObject&>(*base.CycleSettings()) : base;
        IMaterialObject& io = cycle ? static_cast<IMaterialObject&>(*base.CycleSettings()) : base;
        const QMetaObject* meta = object.metaObject();
        QCOMPARE(meta->property(meta->indexOfProperty(property)).notifySignal().name(),
            (name + "Changed").toLatin1());
        const QMetaEnum flags = meta->enumerator(
            meta->indexOfEnumerator(cycle ? "SerializationFlags" : "SharedSerializationFlags"));
        QCOMPARE(flags.keyToValue(((cycle ? "CycleSetting" : "BaseMaterialObject") + name).toLatin1()), bit);
        QCOMPARE(object.property(property).toDouble(), initial);

        double inside = minimum + (maximum - minimum) * 0.3183098861837907;
        if (format == 'i')
            inside = std::round(inside);
        const QVariant value = format == 'i' ? QVariant(int(inside))
            : format                         ? QVariant(inside)
                                             : QVariant(!initial);
        const QString text = format == 'i' ? QString::number(inside)
            : format                       ? QString::number(inside, format, precision)
                                           : value.toString();
        const QMetaProperty flagsProperty = meta->property(meta->indexOfProperty(flagsName));
        QSignalSpy flagsSpy(&object, flagsProperty.notifySignal());
        QSignalSpy valueSpy(&object, meta->property(meta->indexOfProperty(property)).notifySignal());
        QVERIFY(object.setProperty(property, value));
        QCOMPARE(QList<int>({ flagsSpy.count(), valueSpy.count() }), QList<int>({ 1, 1 }));
        QCOMPARE(written(io), QStringList(element + '=' + text));
        BaseMaterialObject copy;
        const QString xml = QStringLiteral("<%1>%2</%1>").arg(element, text);
        QVERIFY(readBlock(copy, cycle ? "<CycleSettings>" + xml + "</CycleSettings>" : xml));
        QObject& copied = cycle ? static_cast<QObject&>(*copy.CycleSettings()) : copy;
        if (format)
            QCOMPARE(copied.property(property).toDouble(), text.toDouble());
        else
            QCOMPARE(copied.property(property).toString(), text);
        QCOMPARE(copied.property(flagsName).toInt(), bit);
        if (!format)
            return;

        const char f = format == 'i' ? 'g' : format;
        const QString message
            = QStringLiteral("<b>%1</b> is outside the allowed range of %2 to %3.")
                  .arg(label, QString::number(minimum, f, precision), QString::number(maximum, f, precision));
        for (double limit : { minimum, maximum, format == 'i' ? minimum - 1 : std::nextafter(minimum, -1e300),
                 format == 'i' ? maximum + 1 : std::nextafter(maximum, 1e300) }) {
            object.setProperty(property, limit);
            const bool valid = limit >= minimum && limit <= maximum;
            QCOMPARE(io.Validate(false), valid);
            QCOMPARE(object.property("validationErrorMessage").toStringList(),
                valid ? QStringList() : QStringList(message));
        }
        object.setProperty(property, value);
        flagsSpy.clear();
        valueSpy.clear();
        QVERIFY(object.setProperty(property, format == 'i' ? QVariant(INT_MIN) : QVariant(std::nan(""))));
        QCOMPARE(QList<int>({ flagsSpy.count(), valueSpy.count() }), QList<int>({ 1, 0 }));
        QCOMPARE(object.property(flagsName).toInt(), 0);
        // A cleared exposure drops below its minimum so that validation catches it.
        QCOMPARE(object.property(property).toDouble(), name == "Exposure" ? 0.0 : inside);
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
        QCOMPARE(spy.count(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_BaseMaterialObject)
#include "tst_basematerialobject.moc"
