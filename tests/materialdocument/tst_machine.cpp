#include "machine.h"
#include "qualitylevel.h"
#include "testsupport.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

template <typename T> QString written(T& object)
{
    return writeXml([&](QXmlStreamWriter& writer) { object.ToXML(writer); });
}

template <typename T> bool readFrom(T& object, const QString& xml, QXmlStreamReader* readerOut = nullptr)
{
    QXmlStreamReader local;
    QXmlStreamReader& reader = readerOut ? *readerOut : local;
    reader.addData(xml);
    // The readers step onto their element themselves from the document start.
    return object.FromXML(reader);
}

QStringList qualityNames(Machine& machine)
{
    QStringList names;
    for (int i = 0; i < machine._qualityLevelCount(); ++i)
        names << machine._qualityLevelAt(i)->Name();
    return names;
}

} // namespace

class tst_Machine : public QObject {
    Q_OBJECT

private slots:
    void modelNameToString_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("text");
        QTest::newRow("ORVO_A") << int(Machine::ORVO_A) << "ORV_2.0_AA";
        QTest::newRow("ORVO_B") << int(Machine::ORVO_B) << "ORV_2.0_BB";
        QTest::newRow("TESK") << int(Machine::TESK) << "ORV_2.0_TT";
        QTest::newRow("Unknown") << int(Machine::Unknown) << "Unknown Machine";
        QTest::newRow("outside the table") << 7 << "Unknown Machine";
        QTest::newRow("negative") << -1 << "Unknown Machine";
    }
    void modelNameToString()
    {
        QFETCH(int, model);
        QFETCH(QString, text);
        Machine machine;
        QCOMPARE(machine.machineModelNameToString(Machine::MachineModelNames(model)), text);
    }

    void modelNameFromString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("model");
        QTest::newRow("A") << "ORV_2.0_AA" << int(Machine::ORVO_A);
        QTest::newRow("B") << "ORV_2.0_BB" << int(Machine::ORVO_B);
        QTest::newRow("T") << "ORV_2.0_TT" << int(Machine::TESK);
        QTest::newRow("lower case") << "orv_2.0_bb" << int(Machine::Unknown);
        QTest::newRow("unknown text") << "Unknown Machine" << int(Machine::Unknown);
        QTest::newRow("display name") << "Orvo A" << int(Machine::Unknown);
        QTest::newRow("trailing blank") << "ORV_2.0_AA " << int(Machine::Unknown);
        QTest::newRow("empty") << "" << int(Machine::Unknown);
    }
    void modelNameFromString()
    {
        QFETCH(QString, text);
        QFETCH(int, model);
        Machine machine;
        QCOMPARE(int(machine.machineModelNameFromString(text)), model);
    }

    void newMachineWritesOnlyUseOrigMethod()
    {
        Machine machine;
        QCOMPARE(machine.ModelName(), Machine::Unknown);
        QCOMPARE(int(machine.XmlFlags()), 0);
        QVERIFY(!machine.UseOrigMethod());
        QCOMPARE(written(machine),
            QStringLiteral("\n<Machine>\n    <UseOrigMethod>false</UseOrigMethod>\n</Machine>"));
    }

    void settersSetTheirBitAndEmitInOrder()
    {
        Machine machine;
        SignalLog log(&machine);
        machine.setModelName(Machine::TESK);
        machine.setPreferredQuality(QString());
        QCOMPARE(log.names,
            QStringList(
                { "XmlFlagsChanged", "ModelNameChanged", "XmlFlagsChanged", "PreferredQualityChanged" }));
        QCOMPARE(int(machine.XmlFlags()), int(Machine::MachineModelName | Machine::MachinePreferredQuality));
        QCOMPARE(written(machine),
            QStringLiteral("\n<Machine modelName=\"ORV_2.0_TT\">\n    <PreferredQuality></PreferredQuality>\n"
                           "    <UseOrigMethod>false</UseOrigMethod>\n</Machine>"));
    }

    void unknownModelRoundTrips()
    {
        Machine machine;
        machine.setModelName(Machine::Unknown);
        const QString xml = written(machine);
        QVERIFY(xml.contains(QLatin1String("modelName=\"Unknown Machine\"")));
        Machine copy;
        copy.setModelName(Machine::ORVO_A);
        QVERIFY(readFrom(copy, xml));
        QCOMPARE(copy.ModelName(), Machine::Unknown);
    }

    void machineWithoutModelAttributeKeepsItsModel()
    {
        Machine machine;
        QVERIFY(readFrom(machine, QStringLiteral("<Machine><Dp>2</Dp></Machine>")));
        QCOMPARE(int(machine.XmlFlags()), 0);
        QCOMPARE(machine.Dp(), 2.0);
    }

    void readerRejectsOtherElements()
    {
        Machine machine;
        QVERIFY(!readFrom(machine, QStringLiteral("<machine/>")));
        QualityLevel level;
        QVERIFY(!readFrom(level, QStringLiteral("<Machine/>")));
    }

    void qualityLevelWithoutNameWritesTheDevName()
    {
        QualityLevel level;
        level.setThickness_um(50);
        SignalLog log(&level);
        QCOMPARE(written(level), QStringLiteral("\n<Quality Name=\"(Dev) - 50\" Thickness_um=\"50\"/>"));
        QCOMPARE(int(level.XmlFlags()), int(QualityLevel::QualityLevelName));
        QCOMPARE(log.names, QStringList());
        QCOMPARE(level.property("name").toString(), QStringLiteral("(Dev) - 50"));
    }

    void qualityLevelAttributes()
    {
        QualityLevel level;
        SignalLog log(&level);
        level.setName(QStringLiteral("Fine"));
        level.setDisplayName(QStringLiteral("Fine & \"fast\""));
        level.setThickness_um(25);
        QCOMPARE(log.names, QStringList({ "NameChanged", "DisplayNameChanged", "Thickness_umChanged" }));
        QCOMPARE(written(level),
            QStringLiteral("\n<Quality Name=\"Fine\" DisplayName=\"Fine &amp; &quot;fast&quot;\" "
                           "Thickness_um=\"25\"/>"));

        QualityLevel copy;
        QVERIFY(readFrom(copy, written(level)));
        QCOMPARE(copy.Name(), QStringLiteral("Fine"));
        QCOMPARE(copy.DisplayName(), QStringLiteral("Fine & \"fast\""));
        QCOMPARE(copy.Thickness_um(), 25);
        QCOMPARE(int(copy.XmlFlags()),
            int(QualityLevel::QualityLevelName | QualityLevel::QualityLevelDisplayName));
    }

    void qualityWithoutNameAttributeReadsTheDevName()
    {
        QualityLevel level;
        QVERIFY(readFrom(level, QStringLiteral("<Quality Thickness_um=\"40\"/>")));
        QCOMPARE(int(level.XmlFlags()), 0);
        QCOMPARE(level.Name(), QStringLiteral("(Dev) - 40"));
        QVERIFY(written(level).contains(QLatin1String("Name=\"(Dev) - 40\"")));
    }

    void thicknessThatIsNoNumberReadsZero()
    {
        QualityLevel level;
        QVERIFY(readFrom(level, QStringLiteral("<Quality Name=\"x\" Thickness_um=\"abc\"/>")));
        QCOMPARE(level.Thickness_um(), 0);
        QVERIFY(!level.Validate());
        QCOMPARE(level.ValidationErrorMessage(),
            QStringList(QStringLiteral("<b>Thickness (um)</b> is outside the allowed range of 10 to 300.")));
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
    }

    void qualityValidateWithBaseListsThicknessFirst()
    {
        QualityLevel level;
        level.setThickness_um(5);
        level.setTimeMultiplier(7);
        QSignalSpy spy(&level, &BaseMaterialObject::ValidationErrorMessageChanged);
        QVERIFY(!level.Validate(true));
        QCOMPARE(level.ValidationErrorMessage(),
            QStringList({ QStringLiteral("<b>Thickness (um)</b> is outside the allowed range of 10 to 300."),
                QStringLiteral("<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5.") }));
        QCOMPARE(spy.count(), 2);
        // Without the base class only the thickness counts.
        level.setThickness_um(30);
        QVERIFY(level.Validate());
    }

    void machineValidateWithoutBaseKeepsTheLastResult()
    {
        Machine machine;
        machine.setTimeMultiplier(7);
        QVERIFY(machine.Validate());
        QVERIFY(!machine.Validate(true));
        QCOMPARE(machine.ValidationErrorMessage().size(), 1);
        machine.setTimeMultiplier(1);
        QVERIFY(!machine.Validate());
        bool result = true;
        QVERIFY(
            QMetaObject::invokeMethod(&machine, "Validate", Q_RETURN_ARG(bool, result), Q_ARG(bool, true)));
        QVERIFY(result);
    }

    void updateFlagIsInvokableAndTouchesOnlySharedBits()
    {
        QualityLevel level;
        QSignalSpy spy(&level, &BaseMaterialObject::SharedXmlFlagsChanged);
        QVERIFY(QMetaObject::invokeMethod(&level, "UpdateFlag",
            Q_ARG(BaseMaterialObject::SharedSerializationFlags,
                BaseMaterialObject::BaseMaterialObjectOverHangFactor),
            Q_ARG(bool, true)));
        QCOMPARE(int(level.SharedXmlFlags()), int(BaseMaterialObject::BaseMaterialObjectOverHangFactor));
        QCOMPARE(int(level.XmlFlags()), 0);
        QCOMPARE(spy.count(), 1);

        Machine machine;
        machine.UpdateFlag(BaseMaterialObject::BaseMaterialObjectUseOrigMethod, false);
        QCOMPARE(int(machine.SharedXmlFlags()), 0);
        QCOMPARE(int(machine.XmlFlags()), 0);
    }

    void appendReparentsAndClearDeletes()
    {
        QObject document;
        Machine machine;
        auto* level = new QualityLevel(&document);
        QPointer<QualityLevel> watch(level);
        QQmlListProperty<QualityLevel> list = machine.QualityLevels();
        QSignalSpy spy(&machine, &Machine::QualityLevelsChanged);
        list.append(&list, level);
        QCOMPARE(level->parent(), &machine);
        QCOMPARE(list.count(&list), 1);
        QCOMPARE(list.at(&list, 0), level);
        list.clear(&list);
        QVERIFY(watch.isNull());
        QCOMPARE(list.count(&list), 0);
        QCOMPARE(spy.count(), 2);
        list.clear(&list);
        QCOMPARE(spy.count(), 3);
    }

    void appendingNullIsIgnored()
    {
        Machine machine;
        QQmlListProperty<QualityLevel> list = machine.QualityLevels();
        QSignalSpy spy(&machine, &Machine::QualityLevelsChanged);
        list.append(&list, nullptr);
        QCOMPARE(list.count(&list), 0);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(written(machine).count(QLatin1String("QualityLevels")), 0);
    }

    void indexOutsideTheListGivesNull_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("negative") << -1;
        QTest::newRow("count") << 1;
        QTest::newRow("far") << 1000;
    }
    void indexOutsideTheListGivesNull()
    {
        QFETCH(int, index);
        Machine machine;
        machine._appendQualityLevel(new QualityLevel);
        QQmlListProperty<QualityLevel> list = machine.QualityLevels();
        QCOMPARE(list.at(&list, index), nullptr);
        QCOMPARE(machine._qualityLevelAt(index), nullptr);
    }

    // Emulated replace/removeLast would clear (deleting) and re-append the
    // deleted objects.
    void listOffersNoEmulatedReplace()
    {
        Machine machine;
        QQmlListProperty<QualityLevel> list = machine.QualityLevels();
        QVERIFY(list.replace == nullptr);
        QVERIFY(list.removeLast == nullptr);
    }

    void sameLevelAppendedTwiceIsDeletedOnce()
    {
        Machine machine;
        auto* level = new QualityLevel;
        machine._appendQualityLevel(level);
        machine._appendQualityLevel(level);
        QCOMPARE(machine._qualityLevelCount(), 2);
        machine._clearQualityLevels();
        QCOMPARE(machine._qualityLevelCount(), 0);
    }

    void levelDeletedElsewhereLeavesTheList()
    {
        Machine machine;
        auto* level = new QualityLevel;
        machine._appendQualityLevel(level);
        machine._appendQualityLevel(new QualityLevel);
        QSignalSpy spy(&machine, &Machine::QualityLevelsChanged);
        delete level;
        QCOMPARE(machine._qualityLevelCount(), 1);
        QCOMPARE(spy.count(), 1);
        QVERIFY(!written(machine).isEmpty());
    }

    void qualityLevelsAreReadInOrderAndAppended()
    {
        Machine machine;
        auto* existing = new QualityLevel;
        existing->setName(QStringLiteral("existing"));
        machine._appendQualityLevel(existing);
        QVERIFY(readFrom(machine,
            QStringLiteral(
                "<Machine><QualityLevels><Quality Name=\"a\"/><Quality Name=\"b\"/></QualityLevels>"
                "<QualityLevels><Quality Name=\"c\"/></QualityLevels></Machine>")));
        QCOMPARE(qualityNames(machine), QStringList({ "existing", "a", "b", "c" }));
        for (int i = 0; i < machine._qualityLevelCount(); ++i)
            QCOMPARE(machine._qualityLevelAt(i)->parent(), &machine);
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
                           "<PreferredQuality>b</PreferredQuality><Dp>3</Dp></Machine>"),
            &reader));
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(qualityNames(machine), QStringList({ "a", "b" }));
        QCOMPARE(machine._qualityLevelAt(1)->Dp(), 2.0);
        QCOMPARE(machine.PreferredQuality(), QStringLiteral("b"));
        QCOMPARE(machine.Dp(), 3.0);
        QVERIFY(reader.isEndElement());
        QCOMPARE(reader.name(), QLatin1String("Machine"));
    }

    void writeReadWriteIsStable()
    {
        Machine machine;
        machine.setModelName(Machine::ORVO_B);
        machine.setPreferredQuality(QStringLiteral("Normal <50>"));
        machine.setExposure(3.25);
        machine.CycleSettings()->setEnableBRM(true);
        for (int thickness : { 25, 50 }) {
            auto* level = new QualityLevel;
            level->setThickness_um(thickness);
            level->setDisplayName(QString::number(thickness) + QStringLiteral(" µm"));
            level->setZShrinkageFactor(1.0123456789);
            level->CycleSettings()->setInitial_Raise(2.5);
            machine._appendQualityLevel(level);
        }
        const QString first = written(machine);
        Machine copy;
        QVERIFY(readFrom(copy, first));
        QCOMPARE(written(copy), first);
        QCOMPARE(written(machine), first);
    }
};

QTEST_GUILESS_MAIN(tst_Machine)
#include "tst_machine.moc"
