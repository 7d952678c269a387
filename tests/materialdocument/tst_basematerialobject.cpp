#include "basematerialobject.h"
#include "testsupport.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

using Parameter = BaseMaterialObject::Parameter;

const Parameter& parameter(int index) { return BaseMaterialObject::parameters()[index]; }

QString block(BaseMaterialObject& object)
{
    return writeWrapped([&](QXmlStreamWriter& writer) { object.ToXML(writer); });
}

// Reads every child of <T>...</T> through the shared-block reader.
bool readBlock(BaseMaterialObject& object, const QString& children, QXmlStreamReader* readerOut = nullptr)
{
    QXmlStreamReader local;
    QXmlStreamReader& reader = readerOut ? *readerOut : local;
    startAtRoot(reader, QStringLiteral("<T>") + children + QStringLiteral("</T>"));
    while (reader.readNextStartElement()) {
        if (!object.FromXML(reader))
            return false;
    }
    return true;
}

// A value inside the range that survives its text form unchanged.
double sampleValue(const Parameter& p)
{
    return QString::number(p.minimum + (p.maximum - p.minimum) / 4, 'g', 3).toDouble();
}

} // namespace

class tst_BaseMaterialObject : public QObject {
    Q_OBJECT

private slots:
    void newObjectWritesNothingAndValidates()
    {
        BaseMaterialObject object;
        QCOMPARE(int(object.SharedXmlFlags()), 0);
        QCOMPARE(childElements(block(object)), QStringList());
        QSignalSpy spy(&object, &BaseMaterialObject::ValidationErrorMessageChanged);
        QVERIFY(object.Validate());
        QCOMPARE(object.ValidationErrorMessage(), QStringList());
        QCOMPARE(spy.count(), 1);
        QVERIFY(object.CycleSettings());
        QCOMPARE(object.CycleSettings()->parent(), nullptr);
        QCOMPARE(object.property("cycleSettings").value<CycleSetting*>(), object.CycleSettings());
        QVERIFY(qobject_cast<IMaterialObject*>(static_cast<QObject*>(&object)));
    }

    void everyBitIsDistinct()
    {
        int all = 0;
        for (int i = 0; i < BaseMaterialObject::parameterCount; ++i) {
            QVERIFY2(!(all & parameter(i).bit), qPrintable(parameter(i).name));
            all |= parameter(i).bit;
        }
        QCOMPARE(all, 0xFFFFFFF);
        QCOMPARE(int(BaseMaterialObject::BaseMaterialObjectFoundationExposure), 0x8000000);
        QCOMPARE(int(BaseMaterialObject::BaseMaterialObjectInhibitedLayer_mm), 0x800000);
    }

    // Each parameter through the meta-object: property, signal, bit, element
    // and text, and reading the text back.
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
        QCOMPARE(QString::fromLatin1(p.property), p.name.left(1).toLower() + p.name.mid(1));

        BaseMaterialObject object;
        const QMetaObject* meta = object.metaObject();
        const QMetaProperty property = meta->property(meta->indexOfProperty(p.property));
        QVERIFY(property.isValid() && property.isWritable());
        QCOMPARE(property.notifySignal().name(), (p.name + QStringLiteral("Changed")).toLatin1());
        const QMetaEnum flags = meta->enumerator(meta->indexOfEnumerator("SharedSerializationFlags"));
        QCOMPARE(flags.keyToValue(("BaseMaterialObject" + p.name).toLatin1()), int(p.bit));
        QCOMPARE(property.read(&object).toDouble(), p.initial);

        const QVariant value = p.isSwitch ? QVariant(!bool(p.initial)) : QVariant(sampleValue(p));
        const QString text = p.isSwitch ? (value.toBool() ? QStringLiteral("true") : QStringLiteral("false"))
                                        : QString::number(value.toDouble(), p.format, p.precision);
        SignalLog log(&object);
        QVERIFY(property.write(&object, value));
        QCOMPARE(log.names,
            QStringList({ QStringLiteral("SharedXmlFlagsChanged"), p.name + QStringLiteral("Changed") }));
        QCOMPARE(int(object.SharedXmlFlags()), int(p.bit));
        QCOMPARE(childElements(block(object)), QStringList(p.element + QLatin1Char('=') + text));

        BaseMaterialObject copy;
        QVERIFY(readBlock(copy, QStringLiteral("<%1>%2</%1>").arg(p.element, text)));
        QCOMPARE(property.read(&copy), value);
        QCOMPARE(int(copy.SharedXmlFlags()), int(p.bit));
    }

    void noValueClearsTheBitAndKeepsTheValue_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < BaseMaterialObject::parameterCount; ++i) {
            if (!parameter(i).isSwitch)
                QTest::newRow(qPrintable(parameter(i).name)) << i;
        }
    }
    void noValueClearsTheBitAndKeepsTheValue()
    {
        QFETCH(int, index);
        const Parameter& p = parameter(index);
        BaseMaterialObject object;
        const double value = sampleValue(p);
        object.setProperty(p.property, value);
        SignalLog log(&object);
        object.setProperty(p.property, std::nan(""));
        QCOMPARE(log.names, QStringList(QStringLiteral("SharedXmlFlagsChanged")));
        QCOMPARE(int(object.SharedXmlFlags()), 0);
        // A cleared exposure drops below its minimum so that validation catches it.
        const bool isExposure = p.bit == BaseMaterialObject::BaseMaterialObjectExposure;
        QCOMPARE(object.property(p.property).toDouble(), isExposure ? 0.0 : value);
    }

    void clearedExposureFailsValidation()
    {
        BaseMaterialObject object;
        object.setExposure(std::nan(""));
        QCOMPARE(object.Exposure(), 0.0);
        QVERIFY(!object.Validate());
        QCOMPARE(object.ValidationErrorMessage(),
            QStringList(QStringLiteral("<b>Exposure</b> is outside the allowed range of 0.1 to 100.")));
    }

    void switchSetterSetsTheBitForEitherValue()
    {
        BaseMaterialObject object;
        SignalLog log(&object);
        object.setTestingOC(false);
        QCOMPARE(log.names,
            QStringList({ QStringLiteral("SharedXmlFlagsChanged"), QStringLiteral("TestingOCChanged") }));
        QCOMPARE(childElements(block(object)), QStringList(QStringLiteral("TestingOC=false")));
    }

    void updateFlagSwitchesBitsWithoutTouchingValues()
    {
        BaseMaterialObject object;
        object.setXYTrim_mm(0.5);
        object.setXYTrim_mm(std::nan(""));
        QCOMPARE(childElements(block(object)), QStringList());
        QSignalSpy spy(&object, &BaseMaterialObject::SharedXmlFlagsChanged);
        object.UpdateFlag(BaseMaterialObject::BaseMaterialObjectXYTrim_mm, true);
        QCOMPARE(childElements(block(object)), QStringList(QStringLiteral("XYTrim_mm=0.5")));
        object.UpdateFlag(
            BaseMaterialObject::SharedSerializationFlags(BaseMaterialObject::BaseMaterialObjectOverHangFactor
                | BaseMaterialObject::BaseMaterialObjectUseOrigMethod),
            true);
        QCOMPARE(childElements(block(object)),
            QStringList({ QStringLiteral("XYTrim_mm=0.5"), QStringLiteral("OverHangFactor=80"),
                QStringLiteral("UseOrigMethod=true") }));
        object.UpdateFlag(BaseMaterialObject::BaseMaterialObjectXYTrim_mm, false);
        object.UpdateFlag(BaseMaterialObject::BaseMaterialObjectXYTrim_mm, false);
        QCOMPARE(spy.count(), 4);
        QCOMPARE(object.XYTrim_mm(), 0.5);
        QCOMPARE(int(object.SharedXmlFlags()),
            int(BaseMaterialObject::BaseMaterialObjectOverHangFactor
                | BaseMaterialObject::BaseMaterialObjectUseOrigMethod));
    }

    void readsBothShrinkageSpellings_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QString>("written");
        QTest::newRow("Z as written") << "ZShinkageFactor"
                                      << "ZShinkageFactor=1.05";
        QTest::newRow("Z spelt right") << "ZShrinkageFactor"
                                       << "ZShinkageFactor=1.05";
        QTest::newRow("XY as written") << "XYShinkageFactor"
                                       << "XYShinkageFactor=1.05";
        QTest::newRow("XY spelt right") << "XYShrinkageFactor"
                                        << "XYShinkageFactor=1.05";
    }
    void readsBothShrinkageSpellings()
    {
        QFETCH(QString, element);
        QFETCH(QString, written);
        BaseMaterialObject object;
        QVERIFY(readBlock(object, QStringLiteral("<%1>1.05</%1>").arg(element)));
        QCOMPARE(childElements(block(object)), QStringList(written));
    }

    void readerIsLenient_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("written");
        QTest::newRow("not a number reads 0") << "<Dp>abc</Dp>"
                                              << "Dp=0";
        QTest::newRow("blanks around a number") << "<Dp> 2.5 </Dp>"
                                                << "Dp=2.5";
        QTest::newRow("nan clears") << "<Dp>2</Dp><Dp>nan</Dp>"
                                    << "";
        QTest::newRow("switch in capitals") << "<TestingTrim>TRUE</TestingTrim>"
                                            << "TestingTrim=true";
        QTest::newRow("switch yes ignored") << "<TestingTrim>yes</TestingTrim>"
                                            << "";
        QTest::newRow("switch 1 ignored") << "<TestingTrim>1</TestingTrim>"
                                          << "";
        QTest::newRow("switch with blanks ignored") << "<TestingTrim> true </TestingTrim>"
                                                    << "";
        QTest::newRow("names are case-sensitive") << "<dp>3</dp>"
                                                  << "";
        QTest::newRow("out of range kept") << "<TimeMultiplier>7</TimeMultiplier>"
                                           << "TimeMultiplier=7";
    }
    void readerIsLenient()
    {
        QFETCH(QString, xml);
        QFETCH(QString, written);
        BaseMaterialObject object;
        if (xml.startsWith(QLatin1String("<dp>")))
            QTest::ignoreMessage(QtDebugMsg, "Skipping element \"dp\"");
        QVERIFY(readBlock(object, xml));
        QCOMPARE(childElements(block(object)), written.isEmpty() ? QStringList() : QStringList(written));
    }

    void notANumberIsReportedByValidation()
    {
        BaseMaterialObject object;
        QVERIFY(readBlock(object, QStringLiteral("<Dp>abc</Dp>")));
        QVERIFY(!object.Validate());
        QCOMPARE(object.ValidationErrorMessage(),
            QStringList(QStringLiteral("<b>Dp</b> is outside the allowed range of 0.1 to 10000.")));
    }

    void unknownElementIsSkippedWholeAndReadingGoesOn()
    {
        BaseMaterialObject object;
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Extra\"");
        QVERIFY(readBlock(object,
            QStringLiteral("<Extra><Dp>5</Dp><More><Exposure>9</Exposure></More></Extra><Oc_um>3</Oc_um>")));
        QCOMPARE(childElements(block(object)), QStringList(QStringLiteral("Oc_um=3")));
    }

    void elementInsideAParameterIsAReaderError()
    {
        BaseMaterialObject object;
        QXmlStreamReader reader;
        readBlock(object, QStringLiteral("<Dp><x/></Dp><Oc_um>3</Oc_um>"), &reader);
        QVERIFY(reader.hasError());
        QVERIFY(!(object.SharedXmlFlags() & BaseMaterialObject::BaseMaterialObjectOc_um));
    }

    void cycleSettingsAreWrittenLastAndOnlyWhenPresent()
    {
        BaseMaterialObject object;
        object.setDp(2);
        QCOMPARE(childElements(block(object)), QStringList(QStringLiteral("Dp=2")));
        object.CycleSettings()->setKick_ms(5);
        object.setUseOrigMethod(false);
        QCOMPARE(childElements(block(object)),
            QStringList({ QStringLiteral("Dp=2"), QStringLiteral("UseOrigMethod=false"),
                QStringLiteral("CycleSettings=5") }));

        BaseMaterialObject copy;
        QVERIFY(
            readBlock(copy, QStringLiteral("<CycleSettings><Kick_ms>5</Kick_ms></CycleSettings><Dp>2</Dp>")));
        QCOMPARE(copy.CycleSettings()->Kick_ms(), 5);
        QCOMPARE(copy.Dp(), 2.0);
    }

    void validationAtTheLimits_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("valid");
        for (int i = 0; i < BaseMaterialObject::parameterCount; ++i) {
            const Parameter& p = parameter(i);
            if (p.isSwitch)
                continue;
            const QByteArray name = p.name.toLatin1();
            QTest::newRow(name + " min") << i << p.minimum << true;
            QTest::newRow(name + " max") << i << p.maximum << true;
            QTest::newRow(name + " below") << i << std::nextafter(p.minimum, -1e300) << false;
            QTest::newRow(name + " above") << i << std::nextafter(p.maximum, 1e300) << false;
        }
    }
    void validationAtTheLimits()
    {
        QFETCH(int, index);
        QFETCH(double, value);
        QFETCH(bool, valid);
        const Parameter& p = parameter(index);
        BaseMaterialObject object;
        object.setProperty(p.property, value);
        QCOMPARE(object.Validate(), valid);
        QCOMPARE(object.ValidationErrorMessage().size(), valid ? 0 : 1);
        if (!valid)
            QVERIFY(
                object.ValidationErrorMessage().first().startsWith(QStringLiteral("<b>") + p.label + "</b>"));
    }

    // The labels and limits exactly as users see them, in check order.
    void everyParameterOutOfRange_data()
    {
        QTest::addColumn<double>("value");
        QTest::newRow("above") << 1e9;
        QTest::newRow("below") << -1e9;
    }
    void everyParameterOutOfRange()
    {
        QFETCH(double, value);
        BaseMaterialObject object;
        for (int i = 0; i < BaseMaterialObject::parameterCount; ++i) {
            if (!parameter(i).isSwitch)
                object.setProperty(parameter(i).property, value);
        }
        QVERIFY(!object.Validate());
        const QString form = QStringLiteral("<b>%1</b> is outside the allowed range of %2 to %3.");
        QStringList expected = {
            form.arg("Time Multiplier", "0.1", "5"),
            form.arg("Model Dose MJcm3", "0.1", "20000"),
            form.arg("Model Dose Const", "0", "1000"),
            form.arg("Dp", "0.1", "10000"),
            form.arg("Iy um", "-10000", "0"),
            form.arg("Oc um", "0", "10000"),
            form.arg("XY Bleed (mm)", "0", "3"),
            form.arg("Z Bleed Depth (mm)", "0", "3"),
            form.arg("XY Trim (mm)", "-1", "1"),
            form.arg("Z Shrinkage Factor", "1", "1.2"),
            form.arg("XY Shrinkage Factor", "1", "1.2"),
            form.arg("Over Hang Factor", "0", "500"),
            form.arg("Over Exposure Factor", "0", "5"),
            form.arg("Raise Accell Limit", "0", "1"),
            form.arg("Lower Decel Limit", "0", "1"),
            form.arg("RC Factor", "0", "1"),
            form.arg("Exposure", "0.1", "100"),
            form.arg("Base Exposure Time Override (ms)", "0.1", "60000"),
            form.arg("Attach Depth", "0", "1000"),
            form.arg("Attach Dosage", "0", "1000"),
            form.arg("Inhibited Layer (mm)", "0", "0.5"),
            form.arg("Material Scaling Factor X", "0.800000000000", "1.200000000000"),
            form.arg("Material Scaling Factor Y", "0.800000000000", "1.200000000000"),
        };
        QCOMPARE(object.ValidationErrorMessage(), expected);
    }

    void validateIsVirtualThroughTheMetaObject()
    {
        BaseMaterialObject object;
        object.setTimeMultiplier(7.0);
        bool result = true;
        QVERIFY(QMetaObject::invokeMethod(&object, "Validate", Q_RETURN_ARG(bool, result)));
        QVERIFY(!result);
        QCOMPARE(object.ValidationErrorMessage(),
            QStringList(QStringLiteral("<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5.")));
    }
};

QTEST_GUILESS_MAIN(tst_BaseMaterialObject)
#include "tst_basematerialobject.moc"
