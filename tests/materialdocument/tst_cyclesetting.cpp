#include "cyclesetting.h"
#include "testsupport.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <cmath>

namespace {

QString cycleXml(const QString& children)
{
    return QStringLiteral("<CycleSettings>") + children + QStringLiteral("</CycleSettings>");
}

void readInto(CycleSetting& cycle, const QString& xml)
{
    QXmlStreamReader reader;
    startAtRoot(reader, xml);
    QVERIFY(cycle.FromXML(reader));
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
}

QString written(CycleSetting& cycle)
{
    return writeWrapped([&](QXmlStreamWriter& writer) { cycle.ToXML(writer); });
}

} // namespace

class tst_CycleSetting : public QObject {
    Q_OBJECT

private slots:
    void newObjectHasNothingToWriteAndValidates()
    {
        CycleSetting cycle;
        QVERIFY(!cycle.valuesToWrite());
        QCOMPARE(int(cycle.XmlFlags()), 0);
        QCOMPARE(childElements(written(cycle)), QStringList());
        QSignalSpy spy(&cycle, &CycleSetting::ValidationErrorMessageChanged);
        QVERIFY(cycle.Validate());
        QCOMPARE(cycle.ValidationErrorMessage(), QStringList());
        QCOMPARE(spy.count(), 1);
    }

    void isReachableThroughTheInterface()
    {
        CycleSetting cycle;
        QObject* object = &cycle;
        QVERIFY(qobject_cast<IMaterialObject*>(object));
        QVERIFY(object->qt_metacast("com.vtr.MaterialDocumentMangementLib.IMaterialObject/1.0"));
    }

    // Every field through the meta-object: name, signal, bit, written text.
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
        const QString element = field.element;
        const QByteArray property = (element.left(1).toLower() + element.mid(1)).toLatin1();

        CycleSetting cycle;
        const QMetaObject* meta = cycle.metaObject();
        const QMetaProperty metaProperty = meta->property(meta->indexOfProperty(property));
        QVERIFY2(metaProperty.isValid(), property.constData());
        QCOMPARE(metaProperty.notifySignal().name(), (element + QStringLiteral("Changed")).toLatin1());
        QCOMPARE(meta->property(meta->propertyOffset() + index).name(), property.constData());
        const QMetaEnum flags = meta->enumerator(meta->indexOfEnumerator("SerializationFlags"));
        QCOMPARE(flags.keyToValue(("CycleSetting" + element).toLatin1()), int(field.bit));
        QCOMPARE(int(field.bit), 1 << index);

        QVariant value;
        QString text;
        switch (field.kind) {
        case CycleSetting::Field::Double:
            value = 2.5;
            text = QStringLiteral("2.5");
            break;
        case CycleSetting::Field::Int:
            value = 1234;
            text = QStringLiteral("1234");
            break;
        case CycleSetting::Field::Switch:
            value = true;
            text = QStringLiteral("true");
            break;
        }
        SignalLog log(&cycle);
        QVERIFY(metaProperty.write(&cycle, value));
        QCOMPARE(log.names,
            QStringList({ QStringLiteral("XmlFlagsChanged"), element + QStringLiteral("Changed") }));
        QCOMPARE(int(cycle.XmlFlags()), int(field.bit));
        QCOMPARE(childElements(written(cycle)), QStringList(element + QLatin1Char('=') + text));

        CycleSetting copy;
        readInto(copy, cycleXml(QStringLiteral("<%1>%2</%1>").arg(element, text)));
        QCOMPARE(metaProperty.read(&copy), value);
        QCOMPARE(int(copy.XmlFlags()), int(field.bit));
    }

    void noValueClearsTheBitAndKeepsTheValue_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < CycleSetting::fieldCount; ++i) {
            if (CycleSetting::fields()[i].kind != CycleSetting::Field::Switch)
                QTest::newRow(qPrintable(CycleSetting::fields()[i].element)) << i;
        }
    }
    void noValueClearsTheBitAndKeepsTheValue()
    {
        QFETCH(int, index);
        const CycleSetting::Field& field = CycleSetting::fields()[index];
        const bool isDouble = field.kind == CycleSetting::Field::Double;
        const QByteArray property = (field.element.left(1).toLower() + field.element.mid(1)).toLatin1();
        CycleSetting cycle;
        const QVariant value = isDouble ? QVariant(3.5) : QVariant(77);
        const QVariant none = isDouble ? QVariant(std::nan("")) : QVariant(INT_MIN);
        QVERIFY(cycle.setProperty(property, value));
        QVERIFY(cycle.XmlFlags() & field.bit);

        SignalLog log(&cycle);
        QVERIFY(cycle.setProperty(property, none));
        QCOMPARE(log.names, QStringList(QStringLiteral("XmlFlagsChanged")));
        QCOMPARE(int(cycle.XmlFlags()), 0);
        QCOMPARE(cycle.property(property), value);
        QVERIFY(!cycle.valuesToWrite());
    }

    void writesPresentFieldsInTableOrder()
    {
        CycleSetting cycle;
        cycle.setEnableBRM(false);
        cycle.setRelease_ms(1500);
        QCOMPARE(childElements(written(cycle)),
            QStringList({ QStringLiteral("Release_ms=1500"), QStringLiteral("EnableBRM=false") }));
    }

    void readsIntFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("value");
        QTest::newRow("integer") << "7000" << true << 7000;
        QTest::newRow("fraction truncates") << "7000.9" << true << 7000;
        QTest::newRow("negative fraction truncates toward zero") << "-0.9" << true << 0;
        QTest::newRow("exponent") << "1e3" << true << 1000;
        QTest::newRow("surrounding blanks") << " 12 " << true << 12;
        QTest::newRow("not a number reads 0") << "abc" << true << 0;
        QTest::newRow("empty reads 0") << "" << true << 0;
        QTest::newRow("largest int") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest int + 1") << "-2147483647" << true << -2147483647;
        QTest::newRow("sentinel clears") << "-2147483648" << false << 9;
        QTest::newRow("too large clears") << "1e12" << false << 9;
        QTest::newRow("just too large clears") << "2147483648" << false << 9;
        QTest::newRow("nan clears") << "nan" << false << 9;
        QTest::newRow("inf clears") << "inf" << false << 9;
    }
    void readsIntFields()
    {
        QFETCH(QString, text);
        QFETCH(bool, present);
        QFETCH(int, value);
        CycleSetting cycle;
        cycle.setSettle_ms(9);
        readInto(cycle, cycleXml(QStringLiteral("<Settle_ms>%1</Settle_ms>").arg(text)));
        QCOMPARE(bool(cycle.XmlFlags() & CycleSetting::CycleSettingSettle_ms), present);
        QCOMPARE(cycle.Settle_ms(), value);
    }

    void readsDoubleFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("present");
        QTest::addColumn<double>("value");
        QTest::newRow("number") << "2.25" << true << 2.25;
        QTest::newRow("not a number reads 0") << "abc" << true << 0.0;
        QTest::newRow("out of range is kept") << "99" << true << 99.0;
        QTest::newRow("nan clears and keeps") << "nan" << false << 4.5;
    }
    void readsDoubleFields()
    {
        QFETCH(QString, text);
        QFETCH(bool, present);
        QFETCH(double, value);
        CycleSetting cycle;
        cycle.setCoolRaise_Max_mm(4.5);
        readInto(cycle, cycleXml(QStringLiteral("<CoolRaise_Max_mm>%1</CoolRaise_Max_mm>").arg(text)));
        QCOMPARE(bool(cycle.XmlFlags() & CycleSetting::CycleSettingCoolRaise_Max_mm), present);
        QCOMPARE(cycle.CoolRaise_Max_mm(), value);
    }

    void readsEnableBRM_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("value");
        QTest::newRow("false in mixed case") << "FaLsE" << true << false;
        QTest::newRow("true in capitals") << "TRUE" << true << true;
        QTest::newRow("1 changes nothing") << "1" << false << true;
        QTest::newRow("blank around changes nothing") << " false" << false << true;
    }
    void readsEnableBRM()
    {
        QFETCH(QString, text);
        QFETCH(bool, present);
        QFETCH(bool, value);
        CycleSetting cycle;
        cycle.setEnableBRM(true);
        cycle.setXmlFlags(CycleSetting::SerializationFlags(0));
        readInto(cycle, cycleXml(QStringLiteral("<EnableBRM>%1</EnableBRM>").arg(text)));
        QCOMPARE(bool(cycle.XmlFlags() & CycleSetting::CycleSettingEnableBRM), present);
        QCOMPARE(cycle.EnableBRM(), value);
    }

    void unknownElementIsSkippedWhole()
    {
        CycleSetting cycle;
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Extra\"");
        readInto(cycle,
            cycleXml(QStringLiteral("<Extra><Kick_ms>5</Kick_ms><Deeper><Cool_ms>9</Cool_ms></Deeper></Extra>"
                                    "<Bubble_ms>7</Bubble_ms>")));
        QCOMPARE(int(cycle.XmlFlags()), int(CycleSetting::CycleSettingBubble_ms));
        QCOMPARE(cycle.Bubble_ms(), 7);
        QCOMPARE(cycle.Kick_ms(), 0);
    }

    void readerStopsAtItsOwnEndTag()
    {
        QXmlStreamReader reader;
        startAtRoot(
            reader, QStringLiteral("<T><CycleSettings><Kick_ms>5</Kick_ms></CycleSettings><Next/></T>"));
        reader.readNextStartElement();
        CycleSetting cycle;
        QVERIFY(cycle.FromXML(reader));
        QVERIFY(reader.isEndElement());
        QCOMPARE(reader.name(), QLatin1String("CycleSettings"));
        QVERIFY(reader.readNextStartElement());
        QCOMPARE(reader.name(), QLatin1String("Next"));
    }

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

    void everyFieldOutOfRangeGivesOneMessageInTableOrder()
    {
        CycleSetting cycle;
        for (int i = 0; i < CycleSetting::fieldCount; ++i) {
            const CycleSetting::Field& field = CycleSetting::fields()[i];
            const QByteArray property = (field.element.left(1).toLower() + field.element.mid(1)).toLatin1();
            if (field.kind == CycleSetting::Field::Double)
                cycle.setProperty(property, 11.0);
            else if (field.kind == CycleSetting::Field::Int)
                cycle.setProperty(property, 60001);
        }
        QVERIFY(!cycle.Validate(true));
        const QString form = QStringLiteral("<b>%1</b> is outside the allowed range of %2 to %3.");
        QCOMPARE(cycle.ValidationErrorMessage(),
            QStringList({
                form.arg("Initial Raise", "0", "10"),
                form.arg("Initial Release", "0", "60000"),
                form.arg("Initial Settle", "0", "60000"),
                form.arg("Release Raise Min (mm)", "0", "10"),
                form.arg("Release Raise Max (mm)", "0", "10"),
                form.arg("Cool Raise Min (mm)", "0", "10"),
                form.arg("Cool Raise Max (mm)", "0", "10"),
                form.arg("Kick (ms)", "0", "60000"),
                form.arg("Release Min (ms)", "0", "60000"),
                form.arg("Release (ms)", "0", "60000"),
                form.arg("Cool (ms)", "0", "60000"),
                form.arg("Bubble (ms)", "0", "60000"),
                form.arg("Settle Min (ms)", "0", "60000"),
                form.arg("Settle (ms)", "0", "60000"),
            }));
    }

    void nanPassesValidationAndAbsentFieldsAreChecked()
    {
        CycleSetting cycle;
        cycle.setInitial_Raise(50.0);
        cycle.setInitial_Raise(std::nan(""));
        // Cleared, but the kept value is still checked.
        QVERIFY(!cycle.Validate());
        QCOMPARE(cycle.ValidationErrorMessage().size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_CycleSetting)
#include "tst_cyclesetting.moc"
