#include "pelluxmaterialdocument.h"
#include "testsupport.h"
#include "../fulldisk.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QElapsedTimer>

#include <cmath>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

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

// Keeps the actual text next to the build for a failed comparison.
void keepActual(const QString& name, const QByteArray& text)
{
    const QString dir = QStringLiteral(GELV_TEST_OUTPUT_DIR "/materialdocument");
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + name);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
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

QByteArray repeated(const char* piece, int times) { return QByteArray(piece).repeated(times); }

// Peak resident memory since the last reset, and the reset itself.
qint64 statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

} // namespace

class tst_PelluxMaterialDocument : public QObject {
    Q_OBJECT

private slots:
    void newDocumentNeedsANameAndAColor()
    {
        PelluxMaterialDocument document;
        QCOMPARE(document.ToXMLString(), QStringLiteral("\n<ZqMaterial/>"));
        const QStringList expected = { "Name is required.", "Please choose a Color." };
        QVERIFY(!document.Validate(false));
        QCOMPARE(document.ValidationErrorMessage(), expected);
        // Validate() through the meta-object includes the base, whose messages follow.
        document.setTimeMultiplier(7);
        bool result = true;
        QVERIFY(QMetaObject::invokeMethod(&document, "Validate", Q_RETURN_ARG(bool, result), Q_ARG(bool, true)));
        QVERIFY(!result);
        QCOMPARE(document.ValidationErrorMessage(),
            expected + QStringList("<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5."));
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
        QTest::newRow("valid") << "1.0" << "Resin" << grey << hs << QStringList();
        QTest::newRow("no version") << "" << "Resin" << grey << hs << QStringList("Version is required.");
        QTest::newRow("dot first") << "1.0" << ".Resin" << grey << hs << QStringList("Name cannot start with \".\".");
        QTest::newRow("backslash first")
            << "1.0" << "\\Resin" << grey << hs << QStringList("Name cannot start with \"\\\".");
        QTest::newRow("all in order")
            << "" << "" << QList<int>({ -1, -1, -1 }) << QList<float>({ 2.0f, 201.0f })
            << QStringList({ "Version is required.", "Name is required.", "Please choose a Color.",
                   form.arg("Color Hue F", "0", "1"), form.arg("Color Sat F", "0", "200") });
        QTest::newRow("red -1 alone") << "1.0" << "R" << QList<int>({ -1, 0, 0 }) << hs
                                      << QStringList(form.arg("Color Red", "0", "255"));
        QTest::newRow("green and blue outside")
            << "1.0" << "R" << QList<int>({ 0, 256, -1 }) << hs
            << QStringList({ form.arg("Color Green", "0", "255"), form.arg("Color Blue", "0", "255") });
        QTest::newRow("limits") << "1.0" << "R" << QList<int>({ 0, 255, 0 }) << QList<float>({ 1.0f, 200.0f })
                                << QStringList();
        QTest::newRow("hue below") << "1.0" << "R" << grey << QList<float>({ -0.001f, 0.0f })
                                   << QStringList(form.arg("Color Hue F", "0", "1"));
        QTest::newRow("hue nan passes") << "1.0" << "R" << grey << QList<float>({ std::nanf(""), 0.0f })
                                        << QStringList();
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

    // "65636" used to wrap to 100 and pass as a valid colour.
    void oversizedColorComponentSaturates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("wraps to a valid value") << "65636" << 32767;
        QTest::newRow("beyond int") << "99999999999" << 32767;
        // Beyond a 64-bit integer the conversion fails, which used to read as 0.
        QTest::newRow("beyond long long") << "99999999999999999999" << 32767;
        QTest::newRow("below long long") << " -99999999999999999999" << -32768;
        QTest::newRow("fraction is no integer") << "12.5" << 0;
    }
    void oversizedColorComponentSaturates()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        PelluxMaterialDocument document;
        QVERIFY(readText(document,
            QStringLiteral("<ZqMaterial><FriendlyColorRed>%1</FriendlyColorRed>"
                           "<FriendlyColorGreen>0</FriendlyColorGreen><FriendlyColorBlue>0</FriendlyColorBlue>"
                           "</ZqMaterial>")
                .arg(text)));
        QCOMPARE(int(document.FriendlyColorRed()), value);
        document.setFriendlyName(QStringLiteral("n"));
        QCOMPARE(document.Validate(), value >= 0 && value <= 255);
    }

    // Null appends are ignored, indexes outside the list give null, clearing deletes.
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
        list.append(&list, machine);
        QCOMPARE(machine->parent(), &document);
        QCOMPARE(list.at(&list, 0), machine);
        QCOMPARE(list.at(&list, 1), nullptr);
        QCOMPARE(list.at(&list, -1), nullptr);
        QCOMPARE(childElements(document.ToXMLString()), QStringList("Machines=false"));
        document._appendMachine(machine); // the same machine twice is deleted once
        list.clear(&list);
        QCOMPARE(list.count(&list), 0);
        QTRY_VERIFY(watch.isNull());

        // A machine deleted elsewhere leaves the list, however often it was appended.
        machine = new Machine;
        document._appendMachine(machine);
        document._appendMachine(machine);
        delete machine;
        QCOMPARE(document._machineCount(), 0);
    }

    // Qt assigns a whole list by clearing it and appending the same raw
    // pointers, and emulates an index assignment the same way: clearing must
    // not delete what is appended again (a use-after-free under ASan), but
    // still deletes what is left out.
    void qmlListAssignmentKeepsWhatIsListed()
    {
        qmlRegisterType<PelluxMaterialDocument>("MaterialDocumentTest", 1, 0, "PelluxMaterialDocument");
        qmlRegisterType<Machine>("MaterialDocumentTest", 1, 0, "Machine");
        qmlRegisterType<QualityLevel>("MaterialDocumentTest", 1, 0, "QualityLevel");
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.15\n"
                          "import MaterialDocumentTest 1.0\n"
                          "QtObject {\n"
                          "    property PelluxMaterialDocument doc: PelluxMaterialDocument {}\n"
                          "    property Machine a: Machine { modelName: Machine.ORVO_A }\n"
                          "    property Machine b: Machine { modelName: Machine.TESK }\n"
                          "    property Machine m: Machine { modelName: Machine.ORVO_B }\n"
                          "    property QualityLevel q: QualityLevel { name: \"q\" }\n"
                          "    property QualityLevel r: QualityLevel { name: \"r\" }\n"
                          "    function run() {\n"
                          "        doc.machines.push(a);\n"
                          "        doc.machines.push(b);\n"
                          "        doc.machines[0] = b;\n"
                          "        doc.machines = [doc.machines[1], m];\n"
                          "        m.qualityLevels = [q];\n"
                          "        m.qualityLevels = [m.qualityLevels[0], r];\n"
                          "        return doc.machines.length + m.qualityLevels.length;\n"
                          "    }\n"
                          "}\n",
            QUrl());
        QScopedPointer<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        auto* document = root->property("doc").value<PelluxMaterialDocument*>();
        QPointer<Machine> a = root->property("a").value<Machine*>();
        QPointer<QualityLevel> q = root->property("q").value<QualityLevel*>();
        QVariant length;
        QVERIFY(QMetaObject::invokeMethod(root.data(), "run", Q_RETURN_ARG(QVariant, length)));
        QCOMPARE(length.toInt(), 4);
        QCOMPARE(machineModels(*document), QStringList({ "ORV_2.0_TT", "ORV_2.0_BB" }));
        QTRY_VERIFY(a.isNull());
        QVERIFY(!q.isNull());
        QCOMPARE(document->ToXMLString().count(QStringLiteral("<Quality ")), 2);
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

    void readFromPathFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        const QString bad = kDataDir + QStringLiteral("/bad/");
        QTest::newRow("missing file") << kDataDir + "/no-such-file.zqmat" << "No such file or directory";
        QTest::newRow("empty file") << bad + "empty.zqmat" << kParseError;
        QTest::newRow("wrong root") << bad + "wrong-root.zqmat" << kParseError;
        QTest::newRow("tag mismatch") << bad + "tag-mismatch.zqmat" << "Opening and ending tag mismatch.";
        QTest::newRow("element in parameter") << bad + "element-in-parameter.zqmat" << "Expected character data.";
    }
    void readFromPathFailures()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        PelluxMaterialDocument document;
        document.readFromPath(path);
        QVERIFY(document.property("hasError").toBool());
        QCOMPARE(document.property("errorString").toString(), error);
    }

    // Each of these froze the interface for seconds to forever, or built
    // gigabytes, before anything was refused.
    void hostileFileIsRefusedQuickly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("kind"); // how the file is made when it is no plain file
        QTest::addColumn<QString>("error");
        const QByteArray root = "<ZqMaterial>";
        QByteArray attributes;
        for (int i = 0; i < 200000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"\"";
        QTest::newRow("many attributes on a known element")
            << root + "<Description" + attributes + ">d</Description></ZqMaterial>"
            << ""
            << "File has an element with too many attributes to be a material document.";
        QTest::newRow("many attributes in all")
            << root + repeated("<Note a=\"\" b=\"\" c=\"\" d=\"\" e=\"\" f=\"\" g=\"\" h=\"\"/>", 10000)
                + "</ZqMaterial>"
            << ""
            << "File has too many attributes to be a material document.";
        const QByteArray entity = "<!ENTITY e \"" + QByteArray(1000, 'x') + "\">";
        QTest::newRow("entity amplification")
            << "<!DOCTYPE ZqMaterial [" + entity + "]>" + root + "<Description>" + repeated("&e;", 100000)
                + "</Description></ZqMaterial>"
            << ""
            << "File has a document type declaration, which a material document cannot have.";
        QTest::newRow("many machines") << root + "<Machines>" + repeated("<Machine/>", 500000) << ""
                                       << "File has too many machines to be a material document.";
        QTest::newRow("many quality levels")
            << root + "<Machines><Machine><QualityLevels>" + repeated("<Quality/>", 500000) << ""
            << "File has too many quality levels to be a material document.";
        QTest::newRow("many elements") << root + repeated("<a/>", 1000000) << ""
                                       << "File has too many elements to be a material document.";
        QTest::newRow("too large") << QByteArray() << "sparse"
                                   << "File is too large to be a material document.";
        QTest::newRow("FIFO") << QByteArray() << "fifo"
                              << "File is not a regular file, so it cannot be a material document.";
    }
    void hostileFileIsRefusedQuickly()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hostile.zqmat"));
        QFile file(path);
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), qint64(content.size()));
            if (kind == QLatin1String("sparse"))
                QVERIFY(file.resize(8 * 1024 * 1024 + 1));
            file.close();
        }
        content.clear();
        const bool measured = resetPeakMemory();
        const qint64 residentBefore = statusKilobytes("VmRSS:");
        QElapsedTimer timer;
        timer.start();
        PelluxMaterialDocument document;
        document.readFromPath(path);
        const qint64 elapsed = timer.elapsed();
        QVERIFY(document.HasError());
        QCOMPARE(document.ErrorString(), error);
        QCOMPARE(document._machineCount(), 0);
        QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        if (!measured)
            QSKIP("peak memory cannot be reset here");
        const qint64 grown = statusKilobytes("VmHWM:") - residentBefore;
        QVERIFY2(grown < 100 * 1024, qPrintable(QStringLiteral("%1 KB more").arg(grown)));
    }

    // 3 machines of 40 quality levels with every field: the largest real
    // shape reads well inside every bound.
    void largestRealDocumentReads()
    {
        PelluxMaterialDocument document;
        document.setXmlFlags(PelluxMaterialDocument::SerializationFlags(0x3FF));
        const auto everyField = [](BaseMaterialObject* object) {
            object->setSharedXmlFlags(BaseMaterialObject::SharedSerializationFlags(0xFFFFFFF));
            object->CycleSettings()->setXmlFlags(CycleSetting::SerializationFlags(0x7FFF));
        };
        everyField(&document);
        for (int m = 0; m < 3; ++m) {
            auto* machine = new Machine;
            machine->setModelName(Machine::ORVO_A);
            machine->setPreferredQuality(QStringLiteral("Fine"));
            everyField(machine);
            for (int q = 0; q < 40; ++q) {
                auto* level = new QualityLevel;
                level->setDisplayName(QStringLiteral("Quality level %1").arg(q));
                everyField(level);
                machine->_appendQualityLevel(level);
            }
            document._appendMachine(machine);
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.zqmat"));
        document.writeToPath(path);
        QVERIFY(!document.HasError());
        QVERIFY(QFileInfo(path).size() > 300 * 1000);
        PelluxMaterialDocument reloaded;
        reloaded.readFromPath(path);
        QVERIFY2(!reloaded.HasError(), qPrintable(reloaded.ErrorString()));
        QCOMPARE(reloaded.ToXMLString(), document.ToXMLString());
    }

    // Content after the root was accepted; a raw control character from the
    // file reached dialogs and the log; an old error outlived a success.
    void readRulesAndErrorTexts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        QTest::newRow("second root") << QByteArray("<ZqMaterial/><ZqMaterial/>")
                                     << "Extra content at end of document.";
        QTest::newRow("unclosed tag after the root")
            << QByteArray("<ZqMaterial/>\n<Machines>") << "Extra content at end of document.";
        QTest::newRow("control character")
            << QByteArray("<ZqMaterial><Description>&a\x01;</Description></ZqMaterial>")
            << "Entity 'a[U+0001]' not declared.";
        QTest::newRow("comment after the root") << QByteArray("<ZqMaterial/>\n<!-- note -->\n") << "";
        QTest::newRow("UTF-16 with a byte-order mark")
            << QByteArray("\xff\xfe<\0Z\0q\0M\0a\0t\0e\0r\0i\0a\0l\0/\0>\0", 28) << "";
        QTest::newRow("not UTF-8") << QByteArray("<ZqMaterial>\xff</ZqMaterial>")
                                   << "Encountered incorrectly encoded content.";
    }
    void readRulesAndErrorTexts()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("d.zqmat"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        PelluxMaterialDocument document;
        document.readFromPath(dir.filePath(QStringLiteral("missing.zqmat")));
        QVERIFY(document.HasError());
        document.readFromPath(path);
        QCOMPARE(document.HasError(), !error.isEmpty());
        QCOMPARE(document.ErrorString(), error);
        document.writeToPath(dir.filePath(QStringLiteral("missing/d.zqmat")));
        QVERIFY(document.HasError());
        document.writeToPath(path);
        QVERIFY(!document.HasError());
        QCOMPARE(document.ErrorString(), QString());
    }

    // A pasted control character made every later save fail, and a carriage
    // return was written raw and read back as a line feed.
    void textSettersKeepWhatReloads()
    {
        const QString pasted = QStringLiteral("a\x01"
                                              "b\rc\r\nd\tz")
            + QChar(0xFFFE) + QChar(0xD800) + QStringLiteral("\U0001F600");
        const QString kept = QStringLiteral("ab\nc\nd\tz\U0001F600");
        PelluxMaterialDocument document;
        auto* machine = new Machine;
        auto* level = new QualityLevel;
        machine->_appendQualityLevel(level);
        document._appendMachine(machine);
        document.setDescription(pasted);
        document.setVersion(pasted);
        document.setFriendlyName(pasted);
        document.setPrevImageName(pasted);
        machine->setPreferredQuality(pasted);
        level->setName(pasted);
        level->setDisplayName(pasted);
        const QStringList texts = { document.Description(), document.Version(), document.FriendlyName(),
            document.PrevImageName(), machine->PreferredQuality(), level->Name(), level->DisplayName() };
        QCOMPARE(texts, QStringList(QVector<QString>(texts.size(), kept).toList()));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.zqmat"));
        document.writeToPath(path);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        PelluxMaterialDocument reloaded;
        reloaded.readFromPath(path);
        QVERIFY2(!reloaded.HasError(), qPrintable(reloaded.ErrorString()));
        QCOMPARE(reloaded.ToXMLString(), document.ToXMLString());
        QCOMPARE(reloaded._machineAt(0)->_qualityLevelAt(0)->DisplayName(), kept);
    }

    // A FIFO was replaced by a regular file with success reported; a name of
    // 249 to 255 bytes failed with a writer error that named no cause.
    void saveTargets()
    {
        QTemporaryDir dir;
        PelluxMaterialDocument document;
        document.setFriendlyName(QStringLiteral("Resin"));
        const QString fifo = dir.filePath(QStringLiteral("fifo.zqmat"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        document.writeToPath(fifo);
        QVERIFY(document.HasError());
        QCOMPARE(
            document.ErrorString(), QStringLiteral("Cannot save over something that is not a regular file."));
        struct stat status;
        QVERIFY(::stat(QFile::encodeName(fifo).constData(), &status) == 0 && S_ISFIFO(status.st_mode));

        const QString target = dir.filePath(QString(248 - 6, QLatin1Char('n')) + QStringLiteral(".zqmat"));
        const QString link = dir.filePath(QStringLiteral("link.zqmat"));
        QVERIFY(QFile::link(target, link));
        document.writeToPath(link);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QString::fromUtf8(fileBytes(target)), document.ToXMLString());
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
            keepActual(name, actual);
        QCOMPARE(QString::fromUtf8(actual), QString::fromUtf8(expected));
        QCOMPARE(document.ToXMLString().toUtf8(), expected);

        PelluxMaterialDocument reloaded;
        reloaded.readFromPath(saved);
        QVERIFY(!reloaded.HasError());
        QCOMPARE(reloaded.ToXMLString(), document.ToXMLString());
    }

    // A symmetric mistake (an element read into the wrong field and written
    // back from it) survives the round trip; these reads catch it.
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
            keepActual(QStringLiteral("lenient.ref"), actual.toUtf8());
        QCOMPARE(actual, expected);
        QCOMPARE(document.Exposure(), 0.0);
    }

    // The unsaved-changes check compares these texts.
    void toXMLStringIsStableAtEveryLevel()
    {
        // Every field present, and values whose text form is shorter than the number.
        PelluxMaterialDocument document;
        document.readFromPath(kDataDir + QStringLiteral("/roundtrip/full.zqmat"));
        document.setDp(1.0 / 3);
        document.CycleSettings()->setInitial_Raise(2.0 / 3);
        document._machineAt(0)->_qualityLevelAt(0)->setZShrinkageFactor(1.0123456789);
        document._machineAt(0)->_qualityLevelAt(0)->setDisplayName(QStringLiteral("Fine & \"fast\" <25 µm>"));
        const QString first = document.ToXMLString();
        QCOMPARE(document.ToXMLString(), first);

        PelluxMaterialDocument copy;
        QVERIFY(readText(copy, first));
        QCOMPARE(copy.ToXMLString(), first);

        Machine* machine = document._machineAt(0);
        const QString machineText = writeXml([&](QXmlStreamWriter& w) { machine->ToXML(w); });
        Machine machineCopy;
        QXmlStreamReader machineReader(machineText);
        QVERIFY(machineCopy.FromXML(machineReader));
        QCOMPARE(writeXml([&](QXmlStreamWriter& w) { machineCopy.ToXML(w); }), machineText);

        QualityLevel* level = machine->_qualityLevelAt(0);
        const QString levelText = writeXml([&](QXmlStreamWriter& w) { level->ToXML(w); });
        QualityLevel levelCopy;
        QXmlStreamReader levelReader(levelText);
        QVERIFY(levelCopy.FromXML(levelReader));
        QCOMPARE(writeXml([&](QXmlStreamWriter& w) { levelCopy.ToXML(w); }), levelText);
    }

    // A failed save used to truncate the old file and report success; a full
    // disk was noticed, if at all, only after that.
    void failedSaveKeepsWhatWasThere_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<int>("fullDiskText"); // > 0: this much text onto a full disk
        QTest::addColumn<QString>("error");
        QTest::newRow("missing folder") << "missing/m.zqmat" << false << 0 << "No such file or directory";
        // The temporary file's name would exceed 255 bytes.
        const QString tooLong
            = QStringLiteral("File name is too long to save: at most 248 bytes are possible.");
        QTest::newRow("name of 249 bytes") << QString(249 - 6, 'n') + ".zqmat" << true << 0 << tooLong;
        QTest::newRow("name of 255 bytes, new file")
            << QString(255 - 6, 'n') + ".zqmat" << false << 0 << tooLong;
        // Small enough to stay in the file's write buffer: only the commit fails.
        QTest::newRow("full disk when the buffer is flushed") << "m.zqmat" << true << 10 * 1024 << kWriteError;
        QTest::newRow("full disk while writing") << "m.zqmat" << true << 100 * 1024 << kWriteError;
    }
    void failedSaveKeepsWhatWasThere()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, existing);
        QFETCH(int, fullDiskText);
        QFETCH(QString, error);
        QTemporaryDir dir;
        std::unique_ptr<FullDisk> disk(fullDiskText > 0 ? new FullDisk(dir.path()) : nullptr);
        if (disk && !disk->mounted())
            QSKIP("cannot mount a small filesystem here (needs a mount namespace)");
        const QString path = dir.filePath(fileName);
        PelluxMaterialDocument document;
        document.setFriendlyName(QStringLiteral("Resin"));
        if (existing) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(document.ToXMLString().toUtf8()) > 0);
        }
        const QByteArray before = fileBytes(path);
        QStringList entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        if (disk) {
            QVERIFY(disk->fill());
            entries.prepend(QStringLiteral("filler"));
        }
        document.setDescription(QString(fullDiskText, QLatin1Char('x')));
        document.writeToPath(path);
        QVERIFY(document.HasError());
        QCOMPARE(document.ErrorString(), error);
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
    }
};

QTEST_GUILESS_MAIN(tst_PelluxMaterialDocument)
#include "tst_pelluxmaterialdocument.moc"
