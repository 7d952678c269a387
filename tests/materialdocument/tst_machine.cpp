#include "machine.h"
#include "qualitylevel.h"
#include "testsupport.h"

#include <QTest>

namespace {

template <typename T> QString written(T& object)
{
    return writeXml([&](QXmlStreamWriter& writer) { object.ToXML(writer); });
}

// The readers step onto their element themselves from the document start.
template <typename T> bool readFrom(T& object, const QString& xml, QXmlStreamReader* readerOut = nullptr)
{
    QXmlStreamReader local;
    QXmlStreamReader& reader = readerOut ? *readerOut : local;
    reader.addData(xml);
    return object.FromXML(reader);
}

} // namespace

class tst_Machine : public QObject {
    Q_OBJECT

private slots:
    void modelNames_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("direction");
        QTest::newRow("ORVO_A") << int(Machine::ORVO_A) << "ORV_2.0_AA" << "both";
        QTest::newRow("ORVO_B") << int(Machine::ORVO_B) << "ORV_2.0_BB" << "both";
        QTest::newRow("TESK") << int(Machine::TESK) << "ORV_2.0_TT" << "both";
        QTest::newRow("Unknown") << int(Machine::Unknown) << "Unknown Machine" << "both";
        QTest::newRow("outside the table") << 7 << "Unknown Machine" << "to text";
        QTest::newRow("trailing blank") << int(Machine::Unknown) << "ORV_2.0_AA " << "from text";
        QTest::newRow("empty") << int(Machine::Unknown) << "" << "from text";
    }
    void modelNames()
    {
        QFETCH(int, model);
        QFETCH(QString, text);
        QFETCH(QString, direction);
        Machine machine;
        if (direction != QLatin1String("from text"))
            QCOMPARE(machine.machineModelNameToString(Machine::MachineModelNames(model)), text);
        if (direction != QLatin1String("to text"))
            QCOMPARE(int(machine.machineModelNameFromString(text)), model);
    }

    void qualityLevelWithoutNameUsesTheDevName()
    {
        QualityLevel level;
        QVERIFY(readFrom(level, QStringLiteral("<Quality Thickness_um=\"40\"/>")));
        QCOMPARE(int(level.XmlFlags()), 0);
        QCOMPARE(level.Name(), QStringLiteral("(Dev) - 40"));
        QCOMPARE(written(level), QStringLiteral("\n<Quality Name=\"(Dev) - 40\" Thickness_um=\"40\"/>"));
        QCOMPARE(int(level.XmlFlags()), int(QualityLevel::QualityLevelName));
    }

    void thicknessLimits_data()
    {
        QTest::addColumn<int>("thickness");
        QTest::addColumn<bool>("valid");
        QTest::newRow("min") << 10 << true;
        QTest::newRow("max") << 300 << true;
        QTest::newRow("below") << 9 << false;
        QTest::newRow("above") << 301 << false;
    }
    void thicknessLimits()
    {
        QFETCH(int, thickness);
        QFETCH(bool, valid);
        QualityLevel level;
        level.setThickness_um(thickness);
        QCOMPARE(level.Validate(), valid);
        QCOMPARE(level.ValidationErrorMessage(),
            valid ? QStringList()
                  : QStringList("<b>Thickness (um)</b> is outside the allowed range of 10 to 300."));
    }

    void validateWithAndWithoutTheBase()
    {
        QualityLevel level;
        level.setThickness_um(5);
        level.setTimeMultiplier(7);
        QVERIFY(!level.Validate(true));
        QCOMPARE(level.ValidationErrorMessage(),
            QStringList({ "<b>Thickness (um)</b> is outside the allowed range of 10 to 300.",
                "<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5." }));
        level.setThickness_um(30);
        QVERIFY(level.Validate());

        // A machine has nothing of its own to check: without the base it keeps the last result.
        Machine machine;
        machine.setTimeMultiplier(7);
        QVERIFY(machine.Validate());
        QVERIFY(!machine.Validate(true));
        machine.setTimeMultiplier(1);
        QVERIFY(!machine.Validate());
        bool result = false;
        QVERIFY(QMetaObject::invokeMethod(&machine, "Validate", Q_RETURN_ARG(bool, result), Q_ARG(bool, true)));
        QVERIFY(result);
    }

    // Descending into an unknown child ended the quality walk at its end
    // tag, and everything after it in the machine was lost.
    void unknownElementAmongQualityLevelsIsSkipped()
    {
        Machine machine;
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Extra\"");
        QXmlStreamReader reader;
        QVERIFY(readFrom(machine,
            QStringLiteral("<Machine><QualityLevels><Quality Name=\"a\"/>"
                           "<Extra><Quality Name=\"inner\"/></Extra>"
                           "<Quality Name=\"b\"><Dp>2</Dp></Quality></QualityLevels>"
                           "<QualityLevels><Quality Name=\"c\"/></QualityLevels>"
                           "<PreferredQuality>b</PreferredQuality><Dp>3</Dp></Machine>"),
            &reader));
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QStringList names;
        for (int i = 0; i < machine._qualityLevelCount(); ++i)
            names << machine._qualityLevelAt(i)->Name();
        QCOMPARE(names, QStringList({ "a", "b", "c" }));
        QCOMPARE(machine._qualityLevelAt(1)->Dp(), 2.0);
        QCOMPARE(machine.PreferredQuality(), QStringLiteral("b"));
        QCOMPARE(machine.Dp(), 3.0);
        QVERIFY(reader.isEndElement());
        QCOMPARE(reader.name(), QLatin1String("Machine"));
    }
};

QTEST_GUILESS_MAIN(tst_Machine)
#include "tst_machine.moc"
