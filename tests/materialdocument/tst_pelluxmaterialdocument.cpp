#include "pelluxmaterialdocument.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

namespace {

const QString kDataDir = QStringLiteral(GELV_TEST_DATA_DIR);
const QString kParseError = QStringLiteral("Failed to parse ZqMat document.");
const QString kWriteError
    = QStringLiteral("PelluxMaterialDocument::writeToPath:QXmlStreamWriter failed to write to file");

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

// Keeps the actual text next to the build for a failed comparison.
void keepActual(const QString& name, const QString& text)
{
    const QString dir = QStringLiteral(GELV_TEST_OUTPUT_DIR "/materialdocument");
    QDir().mkpath(dir);
    writeBytes(dir + QLatin1Char('/') + name, text.toUtf8());
}

// Mounts a small tmpfs on dir in a mount namespace of this thread's own, so
// that a disk-full can be provoked. False where the system does not allow it.
bool mountSmallFilesystem(const QString& dir)
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=256k") == 0;
}

// Takes up the free space of the filesystem at dir until `leave` bytes remain.
bool fillUpTo(const QString& dir, qint64 leave)
{
    struct statvfs info;
    if (::statvfs(QFile::encodeName(dir).constData(), &info) != 0)
        return false;
    const qint64 free = qint64(info.f_bavail) * qint64(info.f_frsize);
    return free > leave && writeBytes(dir + QStringLiteral("/filler"), QByteArray(int(free - leave), 'f'));
}

bool readText(PelluxMaterialDocument& document, const QString& xml, QXmlStreamReader* readerOut = nullptr)
{
    QXmlStreamReader local;
    QXmlStreamReader& reader = readerOut ? *readerOut : local;
    reader.addData(xml);
    return document.FromXML(reader);
}

QStringList machineModels(PelluxMaterialDocument& document)
{
    QStringList models;
    for (int i = 0; i < document._machineCount(); ++i)
        models << document._machineAt(i)->machineModelNameToString(document._machineAt(i)->ModelName());
    return models;
}

// A document with every field of every level present.
void fillCompletely(PelluxMaterialDocument& document)
{
    document.setDescription(QStringLiteral("Line one\nline <two> & \"three\""));
    document.setVersion(QStringLiteral("4.1"));
    document.setFriendlyName(QStringLiteral("Everything"));
    document.setFriendlyColorRed(12);
    document.setFriendlyColorGreen(34);
    document.setFriendlyColorBlue(56);
    document.setFriendlyColorHueF(0.1f);
    document.setFriendlyColorSatF(33.3f);
    document.setFriendlyColorLightnessF(66.6f);
    document.setPrevImageName(QStringLiteral("every.png"));
    document.setDistributedFlag(true);
    const auto fillShared = [](BaseMaterialObject& object, double shift) {
        for (int i = 0; i < BaseMaterialObject::parameterCount; ++i) {
            const BaseMaterialObject::Parameter& p = BaseMaterialObject::parameters()[i];
            if (p.isSwitch)
                object.setProperty(p.property, i % 2 == 0);
            else
                object.setProperty(p.property, p.minimum + (p.maximum - p.minimum) / 3 + shift);
        }
        CycleSetting* cycle = object.CycleSettings();
        for (int i = 0; i < CycleSetting::fieldCount; ++i) {
            const CycleSetting::Field& f = CycleSetting::fields()[i];
            const QByteArray property = (f.element.left(1).toLower() + f.element.mid(1)).toLatin1();
            if (f.kind == CycleSetting::Field::Switch)
                cycle->setProperty(property, true);
            else if (f.kind == CycleSetting::Field::Int)
                cycle->setProperty(property, 100 + i);
            else
                cycle->setProperty(property, 1.0 / (i + 3) + shift);
        }
    };
    fillShared(document, 0);
    for (int m = 0; m < 2; ++m) {
        auto* machine = new Machine;
        machine->setModelName(Machine::MachineModelNames(m));
        machine->setPreferredQuality(QStringLiteral("q0"));
        fillShared(*machine, 0.001 * (m + 1));
        for (int q = 0; q < 3; ++q) {
            auto* level = new QualityLevel;
            level->setName(QStringLiteral("q%1").arg(q));
            level->setDisplayName(QStringLiteral("Quality %1 µm").arg(25 * (q + 1)));
            level->setThickness_um(25 * (q + 1));
            fillShared(*level, 0.0001 * (q + 1));
            machine->_appendQualityLevel(level);
        }
        document._appendMachine(machine);
    }
}

} // namespace

class tst_PelluxMaterialDocument : public QObject {
    Q_OBJECT

private slots:
    void newDocument()
    {
        PelluxMaterialDocument document;
        QVERIFY(!document.HasError());
        QCOMPARE(document.ErrorString(), QString());
        QCOMPARE(int(document.XmlFlags()), 0);
        QCOMPARE(int(document.SharedXmlFlags()), 0);
        QCOMPARE(document._machineCount(), 0);
        QCOMPARE(document.Version(), QStringLiteral("1.0"));
        QCOMPARE(document.FriendlyColorRed(), short(-1));
        QCOMPARE(document.ToXMLString(), QStringLiteral("\n<ZqMaterial/>"));
    }

    void newDocumentNeedsANameAndAColor()
    {
        PelluxMaterialDocument document;
        const QStringList expected
            = { QStringLiteral("Name is required."), QStringLiteral("Please choose a Color.") };
        QVERIFY(!document.Validate(false));
        QCOMPARE(document.ValidationErrorMessage(), expected);
        QVERIFY(!document.Validate());
        QCOMPARE(document.ValidationErrorMessage(), expected);
    }

    void documentMessages_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("rgb");
        QTest::addColumn<QList<float>>("hueSat");
        QTest::addColumn<QStringList>("messages");
        const QList<int> grey = { 128, 128, 128 };
        const QList<float> hs = { 0.5f, 100.0f };
        const QString form = QStringLiteral("<b>%1</b> is outside the allowed range of %2 to %3.");
        QTest::newRow("valid") << "1.0"
                               << "Resin" << grey << hs << QStringList();
        QTest::newRow("no version") << ""
                                    << "Resin" << grey << hs << QStringList("Version is required.");
        QTest::newRow("dot first") << "1.0"
                                   << ".Resin" << grey << hs << QStringList("Name cannot start with \".\".");
        QTest::newRow("backslash first")
            << "1.0"
            << "\\Resin" << grey << hs << QStringList("Name cannot start with \"\\\".");
        QTest::newRow("dot later") << "1.0"
                                   << "Resin.v2" << grey << hs << QStringList();
        QTest::newRow("blank then dot") << "1.0"
                                        << " .Resin" << grey << hs << QStringList();
        QTest::newRow("all in order")
            << ""
            << "" << QList<int>({ -1, -1, -1 }) << QList<float>({ 2.0f, 201.0f })
            << QStringList({ "Version is required.", "Name is required.", "Please choose a Color.",
                   form.arg("Color Hue F", "0", "1"), form.arg("Color Sat F", "0", "200") });
        QTest::newRow("red above") << "1.0"
                                   << "R" << QList<int>({ 256, 0, 0 }) << hs
                                   << QStringList(form.arg("Color Red", "0", "255"));
        QTest::newRow("red -1 alone")
            << "1.0"
            << "R" << QList<int>({ -1, 0, 0 }) << hs << QStringList(form.arg("Color Red", "0", "255"));
        QTest::newRow("green and blue")
            << "1.0"
            << "R" << QList<int>({ 0, 300, -5 }) << hs
            << QStringList({ form.arg("Color Green", "0", "255"), form.arg("Color Blue", "0", "255") });
        QTest::newRow("colour limits")
            << "1.0"
            << "R" << QList<int>({ 0, 255, 0 }) << QList<float>({ 0.0f, 200.0f }) << QStringList();
        QTest::newRow("hue max") << "1.0"
                                 << "R" << grey << QList<float>({ 1.0f, 0.0f }) << QStringList();
        QTest::newRow("hue below") << "1.0"
                                   << "R" << grey << QList<float>({ -0.001f, 0.0f })
                                   << QStringList(form.arg("Color Hue F", "0", "1"));
        QTest::newRow("saturation above") << "1.0"
                                          << "R" << grey << QList<float>({ 0.0f, 250.0f })
                                          << QStringList(form.arg("Color Sat F", "0", "200"));
        QTest::newRow("hue nan passes")
            << "1.0"
            << "R" << grey << QList<float>({ std::nanf(""), 0.0f }) << QStringList();
    }
    void documentMessages()
    {
        QFETCH(QString, version);
        QFETCH(QString, name);
        QFETCH(QList<int>, rgb);
        QFETCH(QList<float>, hueSat);
        QFETCH(QStringList, messages);
        PelluxMaterialDocument document;
        document.setVersion(version);
        document.setFriendlyName(name);
        document.setFriendlyColorRed(short(rgb[0]));
        document.setFriendlyColorGreen(short(rgb[1]));
        document.setFriendlyColorBlue(short(rgb[2]));
        document.setFriendlyColorHueF(hueSat[0]);
        document.setFriendlyColorSatF(hueSat[1]);
        document.setFriendlyColorLightnessF(1000.0f); // never checked
        QCOMPARE(document.Validate(), messages.isEmpty());
        QCOMPARE(document.ValidationErrorMessage(), messages);
    }

    void validateWithBaseListsDocumentMessagesFirst()
    {
        PelluxMaterialDocument document;
        document.setTimeMultiplier(7);
        QSignalSpy spy(&document, &BaseMaterialObject::ValidationErrorMessageChanged);
        bool result = true;
        QVERIFY(
            QMetaObject::invokeMethod(&document, "Validate", Q_RETURN_ARG(bool, result), Q_ARG(bool, true)));
        QVERIFY(!result);
        QCOMPARE(document.ValidationErrorMessage(),
            QStringList({ "Name is required.", "Please choose a Color.",
                "<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5." }));
        QCOMPARE(spy.count(), 2);
        QVERIFY(!document.Validate(false));
        QCOMPARE(document.ValidationErrorMessage().size(), 2);
    }

    // "65636" used to wrap to 100 and pass as a valid colour.
    void oversizedColorComponentStaysOutOfRange_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("wraps to a valid value") << "65636" << 32767;
        QTest::newRow("just above short") << "32768" << 32767;
        QTest::newRow("largest short") << "32767" << 32767;
        QTest::newRow("far below") << "-70000" << -32768;
        QTest::newRow("beyond int") << "99999999999" << 32767;
        QTest::newRow("not a number") << "abc" << 0;
        QTest::newRow("fraction is no integer") << "12.5" << 0;
    }
    void oversizedColorComponentStaysOutOfRange()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        PelluxMaterialDocument document;
        QVERIFY(readText(document,
            QStringLiteral(
                "<ZqMaterial><FriendlyColorRed>%1</FriendlyColorRed>"
                "<FriendlyColorGreen>0</FriendlyColorGreen><FriendlyColorBlue>0</FriendlyColorBlue>"
                "</ZqMaterial>")
                .arg(text)));
        QCOMPARE(int(document.FriendlyColorRed()), value);
        QVERIFY(document.XmlFlags() & PelluxMaterialDocument::PelluxMaterialDocumentFriendlyColorRed);
        document.setFriendlyName(QStringLiteral("n"));
        QCOMPARE(document.Validate(), value >= 0 && value <= 255);
    }

    void settersSetTheirBitAndEmitBothSignals()
    {
        PelluxMaterialDocument document;
        SignalLog log(&document);
        document.setFriendlyColorRed(-1);
        document.setDescription(QString());
        QCOMPARE(log.names,
            QStringList(
                { "XmlFlagsChanged", "FriendlyColorRedChanged", "XmlFlagsChanged", "DescriptionChanged" }));
        QCOMPARE(childElements(document.ToXMLString()),
            QStringList({ QStringLiteral("Description="), QStringLiteral("FriendlyColorRed=-1") }));
    }

    void distributedFlag()
    {
        PelluxMaterialDocument document;
        document.setPrevImageName(QStringLiteral("p.png"));
        document.setDp(2);
        document.setDistributedFlag(true);
        QCOMPARE(childElements(document.ToXMLString()),
            QStringList({ QStringLiteral("PrevImageName=p.png"), QStringLiteral("DistributedFlag=true"),
                QStringLiteral("Dp=2") }));
        SignalLog log(&document);
        QTest::ignoreMessage(QtDebugMsg, "Distributed flag removed");
        document.setDistributedFlag(false);
        QCOMPARE(log.names, QStringList({ "XmlFlagsChanged", "DistributedFlagChanged" }));
        QVERIFY(!document.ToXMLString().contains(QLatin1String("DistributedFlag")));
        QTest::ignoreMessage(QtDebugMsg, "Distributed flag removed");
        document.setDistributedFlag(false);
        QCOMPARE(log.names.size(), 4);
        // A bit set directly writes the flag's current value.
        document.setXmlFlags(PelluxMaterialDocument::PelluxMaterialDocumentDistributedFlag);
        QCOMPARE(childElements(document.ToXMLString()).first(), QStringLiteral("DistributedFlag=false"));
    }

    void readsDistributedFlag_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("present");
        QTest::newRow("capitals") << "TRUE" << true;
        QTest::newRow("lower") << "true" << true;
        QTest::newRow("false clears") << "False" << false;
        QTest::newRow("other text changes nothing") << "yes" << true;
    }
    void readsDistributedFlag()
    {
        QFETCH(QString, text);
        QFETCH(bool, present);
        PelluxMaterialDocument document;
        document.setDistributedFlag(true);
        if (text.toLower() == QLatin1String("false"))
            QTest::ignoreMessage(QtDebugMsg, "Distributed flag removed");
        QVERIFY(readText(document,
            QStringLiteral("<ZqMaterial><DistributedFlag>%1</DistributedFlag></ZqMaterial>").arg(text)));
        QCOMPARE(document.DistributedFlag(), present);
        QCOMPARE(bool(document.XmlFlags() & PelluxMaterialDocument::PelluxMaterialDocumentDistributedFlag),
            present);
    }

    void machinesListProperty()
    {
        PelluxMaterialDocument document;
        QObject other;
        auto* machine = new Machine(&other);
        QPointer<Machine> watch(machine);
        QSignalSpy spy(&document, &PelluxMaterialDocument::MachinesChanged);
        QQmlListProperty<Machine> list = document.Machines();
        QVERIFY(list.replace == nullptr && list.removeLast == nullptr);
        list.append(&list, nullptr);
        QCOMPARE(list.count(&list), 0);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(document.ToXMLString(), QStringLiteral("\n<ZqMaterial/>"));
        list.append(&list, machine);
        QCOMPARE(machine->parent(), &document);
        QCOMPARE(list.at(&list, 0), machine);
        QCOMPARE(list.at(&list, 1), nullptr);
        QCOMPARE(list.at(&list, -1), nullptr);
        QCOMPARE(childElements(document.ToXMLString()), QStringList(QStringLiteral("Machines=false")));
        list.clear(&list);
        QVERIFY(watch.isNull());
        QCOMPARE(spy.count(), 2);
        list.clear(&list);
        QCOMPARE(spy.count(), 3);
    }

    // Qt emulates an index assignment by clearing the list and appending
    // again, and clearing deletes the machines it then re-appends.
    void qmlIndexAssignmentDeletesNoMachine()
    {
        qmlRegisterType<PelluxMaterialDocument>("MaterialDocumentTest", 1, 0, "PelluxMaterialDocument");
        qmlRegisterType<Machine>("MaterialDocumentTest", 1, 0, "Machine");
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.15\n"
                          "import MaterialDocumentTest 1.0\n"
                          "QtObject {\n"
                          "    property PelluxMaterialDocument doc: PelluxMaterialDocument {}\n"
                          "    property Machine a: Machine { modelName: Machine.ORVO_A }\n"
                          "    property Machine b: Machine { modelName: Machine.TESK }\n"
                          "    function run() {\n"
                          "        doc.machines.push(a);\n"
                          "        doc.machines.push(b);\n"
                          "        doc.machines[0] = b;\n"
                          "        return doc.machines.length;\n"
                          "    }\n"
                          "}\n",
            QUrl());
        QScopedPointer<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        auto* document = root->property("doc").value<PelluxMaterialDocument*>();
        QPointer<Machine> a = root->property("a").value<Machine*>();
        QVariant length;
        QVERIFY(QMetaObject::invokeMethod(root.data(), "run", Q_RETURN_ARG(QVariant, length)));
        QCOMPARE(length.toInt(), 2);
        QVERIFY(!a.isNull());
        QCOMPARE(machineModels(*document), QStringList({ "ORV_2.0_AA", "ORV_2.0_TT" }));
    }

    void machineDeletedElsewhereLeavesTheList()
    {
        PelluxMaterialDocument document;
        auto* machine = new Machine;
        document._appendMachine(machine);
        document._appendMachine(machine);
        delete machine;
        QCOMPARE(document._machineCount(), 0);
        QCOMPARE(document.ToXMLString(), QStringLiteral("\n<ZqMaterial/>"));
    }

    void readingAppendsToExistingMachines()
    {
        PelluxMaterialDocument document;
        auto* machine = new Machine;
        machine->setModelName(Machine::TESK);
        document._appendMachine(machine);
        document.setFriendlyName(QStringLiteral("kept"));
        document.readFromPath(kDataDir + QStringLiteral("/roundtrip/new-document.zqmat"));
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QCOMPARE(machineModels(document), QStringList({ "ORV_2.0_TT", "ORV_2.0_BB" }));
        QCOMPARE(document.FriendlyName(), QStringLiteral("Clear"));
    }

    // Descending into an unknown child of Machines ended the machine walk at
    // its end tag: later machines and root elements were dropped silently.
    void unknownElementBetweenMachinesIsSkipped()
    {
        PelluxMaterialDocument document;
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Note\"");
        QXmlStreamReader reader;
        QVERIFY(readText(document,
            QStringLiteral("<ZqMaterial><Machines>"
                           "<Machine modelName=\"ORV_2.0_AA\"/>"
                           "<Note>text <Machine modelName=\"ORV_2.0_BB\"/></Note>"
                           "<Machine modelName=\"ORV_2.0_TT\"/>"
                           "</Machines><FriendlyName>after</FriendlyName></ZqMaterial>"),
            &reader));
        QVERIFY(!reader.hasError());
        QCOMPARE(machineModels(document), QStringList({ "ORV_2.0_AA", "ORV_2.0_TT" }));
        QCOMPARE(document.FriendlyName(), QStringLiteral("after"));
    }

    void emptyMachinesAddsNothing()
    {
        PelluxMaterialDocument document;
        QVERIFY(
            readText(document, QStringLiteral("<ZqMaterial><Machines/><Machines></Machines></ZqMaterial>")));
        QCOMPARE(document._machineCount(), 0);
    }

    void unknownRootChildIsSkipped()
    {
        PelluxMaterialDocument document;
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Remark\"");
        QVERIFY(readText(
            document, QStringLiteral("<ZqMaterial><Remark>hi</Remark><Version>9</Version></ZqMaterial>")));
        QCOMPARE(document.Version(), QStringLiteral("9"));
    }

    void readFromPathFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        const QString bad = kDataDir + QStringLiteral("/bad/");
        QTest::newRow("missing file") << kDataDir + "/no-such-file.zqmat"
                                      << "No such file or directory";
        QTest::newRow("directory") << kDataDir << "file to open is a directory";
        QTest::newRow("empty file") << bad + "empty.zqmat" << kParseError;
        QTest::newRow("wrong root") << bad + "wrong-root.zqmat" << kParseError;
        QTest::newRow("not xml") << bad + "not-xml.zqmat" << kParseError;
        QTest::newRow("tag mismatch") << bad + "tag-mismatch.zqmat"
                                      << "Opening and ending tag mismatch.";
        QTest::newRow("truncated") << bad + "truncated.zqmat"
                                   << "Premature end of document.";
        QTest::newRow("element in text") << bad + "element-in-text.zqmat"
                                         << "Expected character data.";
        QTest::newRow("element in parameter") << bad + "element-in-parameter.zqmat"
                                              << "Expected character data.";
    }
    void readFromPathFailures()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        PelluxMaterialDocument document;
        document.readFromPath(path);
        QVERIFY(document.HasError());
        QCOMPARE(document.ErrorString(), error);
        QCOMPARE(document.property("hasError").toBool(), true);
        QCOMPARE(document.property("errorString").toString(), error);
    }

    void successfulReadKeepsTheLastErrorText()
    {
        PelluxMaterialDocument document;
        document.readFromPath(kDataDir + QStringLiteral("/bad/empty.zqmat"));
        document.readFromPath(kDataDir + QStringLiteral("/roundtrip/empty-root.zqmat"));
        QVERIFY(!document.HasError());
        QCOMPARE(document.ErrorString(), kParseError);
    }

    // Hand-written files: load, save, compare every byte, reload, compare.
    void goldenRoundTrip_data()
    {
        QTest::addColumn<QString>("name");
        const QStringList names
            = QDir(kDataDir + QStringLiteral("/roundtrip")).entryList({ "*.zqmat" }, QDir::Files);
        QVERIFY(!names.isEmpty());
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name;
    }
    void goldenRoundTrip()
    {
        QFETCH(QString, name);
        const QString path = kDataDir + QStringLiteral("/roundtrip/") + name;
        PelluxMaterialDocument document;
        document.readFromPath(path);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));

        QTemporaryDir dir;
        const QString saved = dir.filePath(name);
        document.writeToPath(saved);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        const QByteArray expected = fileBytes(path);
        const QByteArray actual = fileBytes(saved);
        if (actual != expected)
            keepActual(name, QString::fromUtf8(actual));
        QCOMPARE(QString::fromUtf8(actual), QString::fromUtf8(expected));
        QCOMPARE(actual, expected);
        QCOMPARE(document.ToXMLString().toUtf8(), expected);

        PelluxMaterialDocument reloaded;
        reloaded.readFromPath(saved);
        QVERIFY(!reloaded.HasError());
        QCOMPARE(reloaded.ToXMLString(), document.ToXMLString());
        QCOMPARE(reloaded.XmlFlags(), document.XmlFlags());
        QCOMPARE(reloaded.SharedXmlFlags(), document.SharedXmlFlags());
        QCOMPARE(reloaded._machineCount(), document._machineCount());
    }

    void fullGoldenFileHoldsEveryField()
    {
        PelluxMaterialDocument document;
        document.readFromPath(kDataDir + QStringLiteral("/roundtrip/full.zqmat"));
        QVERIFY(!document.HasError());
        QCOMPARE(int(document.XmlFlags()), 0x7FF);
        QCOMPARE(int(document.SharedXmlFlags()), 0xFFFFFFF);
        QCOMPARE(int(document.CycleSettings()->XmlFlags()), 0x7FFF);
        QCOMPARE(document.Description(),
            QStringLiteral("Grey resin & pigment, cures in <5 s at 405 nm. Größe: 1 µm"));
        QCOMPARE(document.FriendlyColorBlue(), short(-1));
        QCOMPARE(document.FriendlyColorSatF(), 12.25f);
        QCOMPARE(document.ZShrinkageFactor(), 1.0123456789012);
        QCOMPARE(document.MaterialScalingFactorY(), 0.998);
        QCOMPARE(document.CycleSettings()->Initial_Settle(), 14000);
        QCOMPARE(machineModels(document), QStringList({ "ORV_2.0_AA", "Unknown Machine" }));
        Machine* machine = document._machineAt(0);
        QCOMPARE(machine->PreferredQuality(), QStringLiteral("Fine"));
        QCOMPARE(machine->_qualityLevelCount(), 2);
        QualityLevel* fine = machine->_qualityLevelAt(0);
        QCOMPARE(fine->DisplayName(), QStringLiteral("Fine 25 µm"));
        QCOMPARE(fine->Thickness_um(), 25);
        QCOMPARE(fine->FoundationExposure(), 30.0);
        QCOMPARE(fine->CycleSettings()->Release_ms(), 1200);
        QCOMPARE(machine->_qualityLevelAt(1)->Name(), QStringLiteral("(Dev) - 100"));
    }

    void lenientFileIsReadAsStoredFilesExpect()
    {
        PelluxMaterialDocument document;
        QTest::ignoreMessage(QtDebugMsg, "Distributed flag removed");
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Notes\"");
        QTest::ignoreMessage(QtDebugMsg, "Skipping element \"Comment\"");
        document.readFromPath(kDataDir + QStringLiteral("/read/lenient.zqmat"));
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        const QString actual = document.ToXMLString();
        const QString expected = QString::fromUtf8(fileBytes(kDataDir + QStringLiteral("/read/lenient.ref")));
        if (actual != expected)
            keepActual(QStringLiteral("lenient.ref"), actual);
        QCOMPARE(actual, expected);
        QCOMPARE(document.Exposure(), 0.0);
    }

    // The unsaved-changes check compares these texts.
    void toXMLStringIsStableAtEveryLevel()
    {
        PelluxMaterialDocument document;
        fillCompletely(document);
        const QString first = document.ToXMLString();
        QCOMPARE(document.ToXMLString(), first);

        PelluxMaterialDocument copy;
        QVERIFY(readText(copy, first));
        QCOMPARE(copy.ToXMLString(), first);

        Machine* machine = document._machineAt(1);
        const QString machineText = writeXml([&](QXmlStreamWriter& w) { machine->ToXML(w); });
        Machine machineCopy;
        QXmlStreamReader machineReader(machineText);
        QVERIFY(machineCopy.FromXML(machineReader));
        QCOMPARE(writeXml([&](QXmlStreamWriter& w) { machineCopy.ToXML(w); }), machineText);

        QualityLevel* level = machine->_qualityLevelAt(2);
        const QString levelText = writeXml([&](QXmlStreamWriter& w) { level->ToXML(w); });
        QualityLevel levelCopy;
        QXmlStreamReader levelReader(levelText);
        QVERIFY(levelCopy.FromXML(levelReader));
        QCOMPARE(writeXml([&](QXmlStreamWriter& w) { levelCopy.ToXML(w); }), levelText);
    }

    void writeToPathWritesTheXmlText()
    {
        PelluxMaterialDocument document;
        fillCompletely(document);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.zqmat"));
        document.writeToPath(path);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QCOMPARE(fileBytes(path), document.ToXMLString().toUtf8());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("out.zqmat")));
    }

    void writeIntoMissingDirectoryCreatesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/out.zqmat"));
        PelluxMaterialDocument document;
        document.writeToPath(path);
        QVERIFY(document.HasError());
        QCOMPARE(document.ErrorString(), QStringLiteral("No such file or directory"));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    // A writer error used to leave the old file truncated and report success.
    void failedSaveKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("material.zqmat"));
        PelluxMaterialDocument document;
        fillCompletely(document);
        document.writeToPath(path);
        QVERIFY(!document.HasError());
        const QByteArray before = fileBytes(path);
        QVERIFY(!before.isEmpty());

        // A control character cannot be written in XML 1.0.
        document.setDescription(QStringLiteral("bad \x01 character"));
        document.writeToPath(path);
        QVERIFY(document.HasError());
        QCOMPARE(document.ErrorString(), kWriteError);
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("material.zqmat")));

        // The next good save succeeds; the last error text stays.
        document.setDescription(QStringLiteral("good"));
        document.writeToPath(path);
        QVERIFY(!document.HasError());
        QCOMPARE(document.ErrorString(), kWriteError);
        QCOMPARE(fileBytes(path), document.ToXMLString().toUtf8());
    }

    void fullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("descriptionSize");

        // Small enough to stay in the file's write buffer: only the commit fails.
        QTest::newRow("full when the buffer is flushed") << 10 * 1024;
        QTest::newRow("full while writing") << 100 * 1024;
    }

    // A full disk used to be noticed, if at all, only after the old file was
    // truncated; its text must be the write-error text in either case.
    void fullDiskKeepsTheOldFile()
    {
        QFETCH(int, descriptionSize);
        QTemporaryDir dir;
        if (!mountSmallFilesystem(dir.path()))
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        const QString path = dir.filePath(QStringLiteral("material.zqmat"));

        PelluxMaterialDocument document;
        document.setFriendlyName(QStringLiteral("Resin"));
        document.writeToPath(path);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        const QByteArray before = fileBytes(path);
        QVERIFY(fillUpTo(dir.path(), 4096));

        document.setDescription(QString(descriptionSize, QLatin1Char('x')));
        document.writeToPath(path);
        const QStringList left = QDir(dir.path()).entryList(QDir::Files);
        const QByteArray after = fileBytes(path);
        ::umount(QFile::encodeName(dir.path()).constData());

        QVERIFY(document.HasError());
        QCOMPARE(document.ErrorString(), kWriteError);
        QCOMPARE(after, before);
        QCOMPARE(left, QStringList({ QStringLiteral("filler"), QStringLiteral("material.zqmat") }));
    }

    void failedFirstSaveCreatesNoFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("new.zqmat"));
        PelluxMaterialDocument document;
        document.setFriendlyName(QStringLiteral("\x02"));
        document.writeToPath(path);
        QVERIFY(document.HasError());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }

    void documentOwnsTheWholeTree()
    {
        QPointer<QualityLevel> level;
        QPointer<Machine> machine;
        {
            PelluxMaterialDocument document;
            fillCompletely(document);
            machine = document._machineAt(0);
            level = machine->_qualityLevelAt(0);
        }
        QVERIFY(machine.isNull());
        QVERIFY(level.isNull());
    }

    void qmlFacingMetaObject()
    {
        PelluxMaterialDocument document;
        const QMetaObject* meta = document.metaObject();
        for (const char* method : { "Validate(bool)", "Validate()", "ToXMLString()",
                 "UpdateFlag(BaseMaterialObject::SharedSerializationFlags,bool)", "readFromPath(QString)",
                 "writeToPath(QString)" })
            QVERIFY2(meta->indexOfMethod(method) >= meta->methodOffset(), method);
        QVERIFY(meta->property(meta->indexOfProperty("machines")).isValid());
        QVERIFY(!meta->property(meta->indexOfProperty("hasError")).isWritable());
        QVERIFY(qobject_cast<IMaterialObject*>(static_cast<QObject*>(&document)));
        QVERIFY(QMetaObject::invokeMethod(&document, "UpdateFlag",
            Q_ARG(BaseMaterialObject::SharedSerializationFlags, BaseMaterialObject::BaseMaterialObjectDp),
            Q_ARG(bool, true)));
        QCOMPARE(childElements(document.ToXMLString()), QStringList(QStringLiteral("Dp=0.1")));
    }
};

QTEST_GUILESS_MAIN(tst_PelluxMaterialDocument)
#include "tst_pelluxmaterialdocument.moc"
