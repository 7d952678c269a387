#include "basematerialobject.h"
#include "testsupport.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

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
    // Each parameter as the document format has it: bit, element, initial value, range
    // and label (format 0 for a switch). Also its signals, reading back and clearing by NaN.
    void parameter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("element");
        QTest::addColumn<int>("bit");
        QTest::addColumn<double>("initial");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<QString>("label");
        QTest::addColumn<char>("format");
        QTest::addColumn<int>("precision");
        const auto row = [](const char* name, const char* element, int bit, double initial, double minimum,
                             double maximum, const char* label, char format = 'g', int precision = 6) {
            QTest::newRow(name) << QString(name) << QString(element) << bit << initial << minimum << maximum
                                << QString(label) << format << precision;
        };
        const auto flag = [&row](const char* name, int bit, bool initial) {
            row(name, name, bit, initial, 0, 0, "", 0, 0);
        };
        row("TimeMultiplier", "TimeMultiplier", 0x1, 1.0, 0.1, 5.0, "Time Multiplier");
        row("Model_Dose_MJcm3", "Model_Dose_MJcm3", 0x2, 0.1, 0.1, 20000.0, "Model Dose MJcm3");
        row("Model_Dose_Const", "Model_Dose_Const", 0x4, 0.0, 0.0, 1000.0, "Model Dose Const");
        row("Dp", "Dp", 0x8, 0.1, 0.1, 10000.0, "Dp");
        row("Iy_um", "Iy_um", 0x10, 0.0, -10000.0, 0.0, "Iy um");
        row("Oc_um", "Oc_um", 0x20, 0.0, 0.0, 10000.0, "Oc um");
        row("XYBleed_mm", "XYBleed_mm", 0x40, 0.0, 0.0, 3.0, "XY Bleed (mm)");
        row("ZBleedDepth_mm", "ZBleedDepth_mm", 0x80, 0.1, 0.0, 3.0, "Z Bleed Depth (mm)");
        row("XYTrim_mm", "XYTrim_mm", 0x100, 0.0, -1.0, 1.0, "XY Trim (mm)");
        row("ZShrinkageFactor", "ZShinkageFactor", 0x200, 1.0, 1.0, 1.2, "Z Shrinkage Factor", 'g', 14);
        row("XYShrinkageFactor", "XYShinkageFactor", 0x400, 1.0, 1.0, 1.2, "XY Shrinkage Factor", 'g', 14);
        row("OverHangFactor", "OverHangFactor", 0x800, 80.0, 0.0, 500.0, "Over Hang Factor", 'g', 12);
        row("OverExposureFactor", "OverExposureFactor", 0x1000, 0.0, 0.0, 5.0, "Over Exposure Factor", 'g',
            12);
        flag("TestingOC", 0x2000, false);
        flag("TestingRC", 0x4000, false);
        flag("TestingTrim", 0x8000, false);
        row("RaiseAccelLimit", "RaiseAccelLimit", 0x10000, 1.0, 0.0, 1.0, "Raise Accell Limit");
        row("LowerDecelLimit", "LowerDecelLimit", 0x20000, 1.0, 0.0, 1.0, "Lower Decel Limit");
        flag("UsePrinterXYScaling", 0x40000, false);
        row("RC_Factor", "RC_Factor", 0x80000, 0.0, 0.0, 1.0, "RC Factor");
        row("Exposure", "Exposure", 0x100000, 0.1, 0.1, 100.0, "Exposure");
        row("BaseExposureTimeOverride_ms", "BaseExposureTimeOverride_ms", 0x200000, 0.1, 0.1, 60000.0,
            "Base Exposure Time Override (ms)");
        row("AttachDepth", "AttachDepth", 0x400000, 500.0, 0.0, 1000.0, "Attach Depth");
        row("FoundationExposure", "FoundationExposure", 0x8000000, 0.1, 0.0, 1000.0, "Attach Dosage");
        row("InhibitedLayer_mm", "InhibitedLayer_mm", 0x800000, 0.0, 0.0, 0.5, "Inhibited Layer (mm)");
        flag("UseOrigMethod", 0x1000000, true);
        row("MaterialScalingFactorX", "MaterialScalingFactorX", 0x2000000, 0.8, 0.8, 1.2,
            "Material Scaling Factor X", 'f', 12);
        row("MaterialScalingFactorY", "MaterialScalingFactorY", 0x4000000, 0.8, 0.8, 1.2,
            "Material Scaling Factor Y", 'f', 12);
    }
    void parameter()
    {
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
        BaseMaterialObject object;
        const QMetaObject* meta = object.metaObject();
        QCOMPARE(meta->property(meta->indexOfProperty(property)).notifySignal().name(),
            (name + "Changed").toLatin1());
        const QMetaEnum flags = meta->enumerator(meta->indexOfEnumerator("SharedSerializationFlags"));
        QCOMPARE(flags.keyToValue(("BaseMaterialObject" + name).toLatin1()), bit);
        QCOMPARE(object.property(property).toDouble(), initial);

        const double inside = minimum + (maximum - minimum) * 0.3183098861837907;
        const QVariant value = format ? QVariant(inside) : QVariant(!initial);
        const QString text = format ? QString::number(inside, format, precision) : value.toString();
        SignalLog log(&object);
        QVERIFY(object.setProperty(property, value));
        QCOMPARE(log.names, QStringList({ "SharedXmlFlagsChanged", name + "Changed" }));
        QCOMPARE(written(object), QStringList(element + '=' + text));
        BaseMaterialObject copy;
        QVERIFY(readBlock(copy, QStringLiteral("<%1>%2</%1>").arg(element, text)));
        QCOMPARE(copy.property(property), format ? QVariant(text.toDouble()) : value);
        QCOMPARE(int(copy.SharedXmlFlags()), bit);
        if (!format)
            return;

        const QString message = QStringLiteral("<b>%1</b> is outside the allowed range of %2 to %3.")
                                    .arg(label, QString::number(minimum, format, precision),
                                        QString::number(maximum, format, precision));
        for (double limit :
            { minimum, maximum, std::nextafter(minimum, -1e300), std::nextafter(maximum, 1e300) }) {
            object.setProperty(property, limit);
            const bool valid = limit >= minimum && limit <= maximum;
            QCOMPARE(object.Validate(), valid);
            QCOMPARE(object.ValidationErrorMessage(), valid ? QStringList() : QStringList(message));
        }
        object.setProperty(property, inside);
        log.names.clear();
        object.setProperty(property, std::nan(""));
        QCOMPARE(log.names, QStringList("SharedXmlFlagsChanged"));
        QCOMPARE(int(object.SharedXmlFlags()), 0);
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
        QTest::newRow("out of range kept")
            << "<TimeMultiplier>7</TimeMultiplier>" << QStringList("TimeMultiplier=7") << "";
        QTest::newRow("switch with blanks ignored")
            << "<TestingTrim> true </TestingTrim>" << QStringList() << "";
        QTest::newRow("names are case-sensitive") << "<dp>3</dp>" << QStringList() << "dp";
        QTest::newRow("unknown element skipped whole")
            << "<Extra><Dp>5</Dp><More><Exposure>9</Exposure></More></Extra><Oc_um>3</Oc_um>"
            << QStringList("Oc_um=3") << "Extra";
        QTest::newRow("cycle settings, then more")
            << "<CycleSettings><Kick_ms>5</Kick_ms></CycleSettings><Dp>2</Dp><UseOrigMethod>false</"
               "UseOrigMethod>"
            << QStringList({ "Dp=2", "UseOrigMethod=false", "CycleSettings=5" }) << "";
    }
    void readerIsLenient()
    {
        QFETCH(QString, xml);
        QFETCH(QStringList, expected);
        QFETCH(QString, skipped);
        BaseMaterialObject object;
        if (!skipped.isEmpty())
            QTest::ignoreMessage(
                QtDebugMsg, qPrintable(QStringLiteral("Skipping element \"%1\"").arg(skipped)));
        QVERIFY(readBlock(object, xml));
        QCOMPARE(written(object), expected);
    }
};

QTEST_GUILESS_MAIN(tst_BaseMaterialObject)
#include "tst_basematerialobject.moc"
