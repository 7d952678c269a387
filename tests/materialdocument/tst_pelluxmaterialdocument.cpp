#include "../fulldisk.h"
#include "../testsupport.h"
#include "pelluxmaterialdocument.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>
#include <memory>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QString kDataDir = QStringLiteral(GELV_TEST_DATA_DIR);

// Compares with a golden file, keeping the actual text next to the build on a mismatch.
void compareGolden(const QString& actual, const QString& goldenPath)
{
    const QString expected = QString::fromUtf8(fileBytes(goldenPath));
    if (actual != expected) {
        QDir().mkpath(GELV_TEST_OUTPUT_DIR "/materialdocument");
        writeFile(
            GELV_TEST_OUTPUT_DIR "/materialdocument/" + QFileInfo(goldenPath).fileName(), actual.toUtf8());
    }
    QCOMPARE(actual, expected);
}

QStringList machineModels(PelluxMaterialDocument& document)
{
    QStringList models;
    for (int i = 0; i < document._machineCount(); ++i)
        models << document._machineAt(i)->machineModelNameToString(document._machineAt(i)->ModelName());
    return models;
}

// For this thread, file permissions hold for root too until it goes: the
// capabilities that override them are taken out of the effective set, and put
// back afterwards. Nothing changes for a user without them.
class PermissionsEnforced {
public:
    PermissionsEnforced()
    {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = { m_saved[0], m_saved[1] };
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_changed = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionsEnforced()
    {
        if (m_changed)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    Q_DISABLE_COPY(PermissionsEnforced)

private:
    __user_cap_header_struct m_header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct m_saved[2] {};
    bool m_changed = false;
};

} // namespace

class tst_PelluxMaterialDocument : public QObject {
    Q_OBJECT

private slots:
    // Validate(true), as QML calls it: the document's messages, then the shared parameters'.
    void validationMessages_data()
    {
        // color: red, green, blue, hue, saturation
        columns<QString, QString, QList<double>, QStringList>("version", "name", "color", "messages");
        const auto row = [](const char* row, const char* version, const char* name, QList<double> color,
                             QStringList messages = {}) {
            QTest::newRow(row) << QString(version) << QString(name) << color << messages;
        };
        const QList<double> grey = { 128, 128, 128, 0.5, 100 };
        const QString form = QStringLiteral("<b>%1</b> is outside the allowed range of %2 to %3.");
        row("valid", "1.0", "Resin", grey);
        row("no version", "", "Resin", grey, { "Version is required." });
        row("dot first", "1.0", ".Resin", grey, { "Name cannot start with \".\"." });
        row("backslash first", "1.0", "\\R", grey, { "Name cannot start with \"\\\"." });
        row("all in order", "", "", { -1, -1, -1, 2, 201 },
            { "Version is required.", "Name is required.", "Please choose a Color.",
                form.arg("Color Hue F", "0", "1"), form.arg("Color Sat F", "0", "200"),
                form.arg("Time Multiplier", "0.1", "5") });
        row("red -1 alone", "1.0", "R", { -1, 0, 0, 0.5, 100 }, { form.arg("Color Red", "0", "255") });
        row("green and blue outside", "1.0", "R", { 0, 256, -1, 0.5, 100 },
            { form.arg("Color Green", "0", "255"), form.arg("Color Blue", "0", "255") });
        row("limits", "1.0", "R", { 0, 255, 0, 1, 200 });
        row("hue below", "1.0", "R", { 0, 0, 0, -0.001, 0 }, { form.arg("Color Hue F", "0", "1") });
        row("hue nan", "1.0", "R", { 0, 0, 0, std::nan(""), 0 }, { form.arg("Color Hue F", "0", "1") });
    }
    void validationMessages()
    {
        QFETCH(QString, version);
        QFETCH(QString, name);
        QFETCH(QList<double>, color);
        QFETCH(QStringList, messages);
        PelluxMaterialDocument document;
        document.setVersion(version);
        document.setFriendlyName(name);
        document.setFriendlyColorRed(short(color[0]));
        document.setFriendlyColorGreen(short(color[1]));
        document.setFriendlyColorBlue(short(color[2]));
        document.setFriendlyColorHueF(float(color[3]));
        document.setFriendlyColorSatF(float(color[4]));
        document.setFriendlyColorLightnessF(1000.0f); // never checked
        document.setTimeMultiplier(name.isEmpty() ? 7 : 1);
        bool result = false;
        QVERIFY(
            QMetaObject::invokeMethod(&document, "Validate", Q_RETURN_ARG(bool, result), Q_ARG(bool, true)));
        QCOMPARE(result, messages.isEmpty());
        QCOMPARE(document.ValidationErrorMessage(), messages);
    }

    // Regression: "nan" read from a file passed the range check, so it was saved and sent.
    void nanColourFromFileFailsValidation_data()
    {
        columns<QString, QString>("element", "message");
        QTest::newRow("hue") << "FriendlyColorHueF"
                             << "<b>Color Hue F</b> is outside the allowed range of 0 to 1.";
        QTest::newRow("saturation") << "FriendlyColorSatF"
                                    << "<b>Color Sat F</b> is outside the allowed range of 0 to 200.";
    }
    void nanColourFromFileFailsValidation()
    {
        QFETCH(QString, element);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("nan.zqmat"));
        QVERIFY(writeFile(path,
            QStringLiteral("<ZqMaterial><Version>1.0</Version><FriendlyName>R</FriendlyName>"
                           "<FriendlyColorRed>1</FriendlyColorRed><FriendlyColorGreen>2</FriendlyColorGreen>"
                           "<FriendlyColorBlue>3</FriendlyColorBlue><%1>nan</%1></ZqMaterial>")
                .arg(element)
                .toUtf8()));
        PelluxMaterialDocument document;
        document.readFromPath(path);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QVERIFY(!document.Validate());
        QCOMPARE(document.ValidationErrorMessage(), QStringList { message });
    }

    // A quality level checks its thickness, and the shared parameters only when asked; a
    // machine has nothing of its own to check, so without them it keeps the last result.
    void qualityLevelAndMachineValidation()
    {
        const QString thickness
            = QStringLiteral("<b>Thickness (um)</b> is outside the allowed range of 10 to 300.");
        QualityLevel level;
        for (int value : { 10, 300, 9, 301 }) {
            level.setThickness_um(value);
            QCOMPARE(level.Validate(), value >= 10 && value <= 300);
            QCOMPARE(
                level.ValidationErrorMessage(), level.Validate() ? QStringList() : QStringList(thickness));
        }
        level.setTimeMultiplier(7);
        QVERIFY(!level.Validate(true));
        QCOMPARE(level.ValidationErrorMessage(),
            QStringList({ thickness, "<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5." }));
        Machine machine;
        machine.setTimeMultiplier(7);
        QVERIFY(machine.Validate());
        QVERIFY(!machine.Validate(true));
        machine.setTimeMultiplier(1);
        QVERIFY(!machine.Validate());
        QVERIFY(machine.Validate(true));
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
        QCOMPARE(list.count(&list) + spy.count(), 0);
        list.append(&list, machine);
        QCOMPARE(machine->parent(), &document);
        QCOMPARE(list.at(&list, 0), machine);
        QCOMPARE(list.at(&list, 1), nullptr);
        QCOMPARE(list.at(&list, -1), nullptr);
        QVERIFY(document.ToXMLString().contains("<Machines>"));
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

    // Direct callers clear at once: each element is deleted once, before the call returns.
    void directClearsDeleteAtOnce()
    {
        auto* machine = new Machine;
        auto* level = new QualityLevel;
        machine->_appendQualityLevel(level);
        machine->_appendQualityLevel(level);
        machine->_appendQualityLevel(new QualityLevel(level));
        QPointer<QualityLevel> watchLevel(level);
        QSignalSpy levelsSpy(machine, &Machine::QualityLevelsChanged);
        machine->_clearQualityLevels();
        QVERIFY(watchLevel.isNull());
        QCOMPARE(machine->_qualityLevelCount() + levelsSpy.count(), 1);
        PelluxMaterialDocument document;
        document._appendMachine(machine);
        document._appendMachine(new Machine);
        QPointer<Machine> watch(machine);
        QSignalSpy spy(&document, &PelluxMaterialDocument::MachinesChanged);
        document._clearMachines();
        QVERIFY(watch.isNull());
        QCOMPARE(document._machineCount() + spy.count(), 1);
    }

    // Qt assigns a whole list by clearing it and appending the same raw pointers, and
    // emulates an index assignment the same way: clearing must not delete what is
    // appended again (a use-after-free under ASan), but still deletes what is left out.
    void qmlListAssignmentKeepsWhatIsListed()
    {
        qmlRegisterType<PelluxMaterialDocument>("MaterialDocumentTest", 1, 0, "PelluxMaterialDocument");
        qmlRegisterType<Machine>("MaterialDocumentTest", 1, 0, "Machine");
        qmlRegisterType<QualityLevel>("MaterialDocumentTest", 1, 0, "QualityLevel");
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.15\nimport MaterialDocumentTest 1.0\nQtObject {\n"
                          "  property PelluxMaterialDocument doc: PelluxMaterialDocument {}\n"
                          "  property Machine a: Machine { modelName: Machine.ORVO_A }\n"
                          "  property Machine b: Machine { modelName: Machine.TESK }\n"
                          "  property Machine m: Machine { modelName: Machine.ORVO_B }\n"
                          "  property QualityLevel q: QualityLevel { name: \"q\" }\n"
                          "  property QualityLevel r: QualityLevel { name: \"r\" }\n"
                          "  function run() {\n"
                          "    doc.machines.push(a); doc.machines.push(b); doc.machines[0] = b;\n"
                          "    doc.machines = [doc.machines[1], m];\n"
                          "    m.qualityLevels = [q]; m.qualityLevels = [m.qualityLevels[0], r];\n"
                          "    return doc.machines.length + m.qualityLevels.length;\n"
                          "  }\n}\n",
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

    // Every class of the tree is found as the interface through the meta-object system.
    void interfaceCastByIdAndName()
    {
        const std::unique_ptr<QObject> objects[] = { std::make_unique<BaseMaterialObject>(),
            std::make_unique<CycleSetting>(), std::make_unique<Machine>(), std::make_unique<QualityLevel>(),
            std::make_unique<PelluxMaterialDocument>() };
        for (const std::unique_ptr<QObject>& object : objects) {
            auto* expected = dynamic_cast<IMaterialObject*>(object.get());
            QVERIFY(expected);
            QCOMPARE(qobject_cast<IMaterialObject*>(object.get()), expected);
            QCOMPARE(static_cast<IMaterialObject*>(
                         object->qt_metacast("com.vtr.MaterialDocumentMangementLib.IMaterialObject/1.0")),
                expected);
            QCOMPARE(static_cast<IMaterialObject*>(object->qt_metacast("IMaterialObject")), expected);
        }
    }

    // A carriage return read from "&#13;" became a line feed, so a quality level's name
    // (which the printer gets) changed on every save.
    void carriageReturnIsKept()
    {
        PelluxMaterialDocument document;
        document.readFromPath(kDataDir + QStringLiteral("/roundtrip/carriage-return.zqmat"));
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QCOMPARE(document.Description(), QStringLiteral("Shake first.\r\nPour slowly.\r"));
        QCOMPARE(document._machineAt(0)->_qualityLevelAt(0)->Name(), QStringLiteral("Fine\r50"));
    }

    // Content after the root was accepted; a raw control character from the file reached
    // dialogs and the log; an old error outlived a success.
    void readErrors_data()
    {
        columns<QString, QByteArray, QString>("badFile", "content", "error");
        const auto file = [](const char* name, const char* error) {
            QTest::newRow(name) << QString(name) << QByteArray() << QString(error);
        };
        const auto text = [](const char* row, const QByteArray& content, const char* error) {
            QTest::newRow(row) << QString() << content << QString(error);
        };
        file("no-such-file.zqmat", "No such file or directory");
        file("empty.zqmat", "Failed to parse ZqMat document.");
        file("wrong-root.zqmat", "Failed to parse ZqMat document.");
        file("tag-mismatch.zqmat", "Opening and ending tag mismatch.");
        file("element-in-parameter.zqmat", "Expected character data.");
        text("second root", "<ZqMaterial/><ZqMaterial/>", "Extra content at end of document.");
        text("unclosed tag after the root", "<ZqMaterial/>\n<Machines>", "Extra content at end of document.");
        text("control character", "<ZqMaterial><Description>&a\x01;</Description></ZqMaterial>",
            "Entity 'a[U+0001]' not declared.");
        text("comment after the root", "<ZqMaterial/>\n<!-- note -->\n", "");
        text("UTF-16 with a byte-order mark",
            QByteArray("\xff\xfe<\0Z\0q\0M\0a\0t\0e\0r\0i\0a\0l\0/\0>\0", 28), "");
        text("not UTF-8", "<ZqMaterial>\xff</ZqMaterial>", "Encountered incorrectly encoded content.");
    }
    void readErrors()
    {
        QFETCH(QString, badFile);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QString path = kDataDir + "/bad/" + badFile;
        if (badFile.isEmpty()) {
            path = dir.filePath(QStringLiteral("d.zqmat"));
            QVERIFY(writeFile(path, content));
        }
        PelluxMaterialDocument document;
        document.readFromPath(dir.filePath(QStringLiteral("missing.zqmat")));
        QVERIFY(document.HasError());
        document.readFromPath(path);
        QCOMPARE(document.property("hasError").toBool(), !error.isEmpty());
        QCOMPARE(document.property("errorString").toString(), error);
    }

    // Each of these froze the interface for seconds to forever, or built gigabytes,
    // before anything was refused.
    void hostileFileIsRefusedQuickly_data()
    {
        // kind: how the file is made when it is no plain file
        columns<QByteArray, QString, QString>("content", "kind", "error");
        const auto row
            = [](const char* name, const QByteArray& content, const char* error, const char* kind = "") {
                  QTest::newRow(name)
                      << "<ZqMaterial>" + content << QString(kind) << "File " + QString(error) + ".";
              };
        QByteArray attributes;
        for (int i = 0; i < 200000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"\"";
        row("many attributes on a known element",
            "<Description" + attributes + ">d</Description></ZqMaterial>",
            "has an element with too many attributes to be a material document");
        row("many attributes in all",
            QByteArray("<N a=\"\" b=\"\" c=\"\" d=\"\" e=\"\" f=\"\" g=\"\" h=\"\"/>").repeated(10000),
            "has too many attributes to be a material document");
        QTest::newRow("entity amplification")
            << "<!DOCTYPE ZqMaterial [<!ENTITY e \"" + QByteArray(1000, 'x')
                + "\">]><ZqMaterial><Description>" + QByteArray("&e;").repeated(100000)
            << QString() << "File has a document type declaration, which a material document cannot have.";
        row("many machines", "<Machines>" + QByteArray("<Machine/>").repeated(500000),
            "has too many machines to be a material document");
        row("many quality levels",
            "<Machines><Machine><QualityLevels>" + QByteArray("<Quality/>").repeated(500000),
            "has too many quality levels to be a material document");
        row("many elements", QByteArray("<a/>").repeated(1000000),
            "has too many elements to be a material document");
        row("too large", "", "is too large to be a material document", "sparse");
        row("FIFO", "", "is not a regular file, so it cannot be a material document", "fifo");
    }
    void hostileFileIsRefusedQuickly()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hostile.zqmat"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(writeFile(path, content) && (kind.isEmpty() || QFile::resize(path, 8 * 1024 * 1024 + 1)));
        content.clear();
        // Writing "5" to clear_refs resets the peak resident memory.
        const bool measured = writeFile(QStringLiteral("/proc/self/clear_refs"), "5");
        const qint64 residentBefore = statusKiB("VmRSS:");
        PelluxMaterialDocument document;
        document.readFromPath(path); // a read that waits on the fifo runs into the test's time-out
        QCOMPARE(document.ErrorString(), error);
        QVERIFY(document.HasError() && document._machineCount() == 0);
        if (!measured)
            QSKIP("peak memory cannot be reset here");
        const qint64 grown = statusKiB("VmHWM:") - residentBefore;
        QVERIFY2(grown < 100 * 1024, qPrintable(QStringLiteral("%1 KB more").arg(grown)));
    }

    // 3 machines of 40 quality levels with every field: the largest real shape reads well
    // inside every bound. A pasted control character made every later save fail, and a
    // carriage return was written raw in element text and read back as a line feed.
    void largestDocumentWithPastedTextsReloads()
    {
        const QString pasted = QStringLiteral("a\x01"
                                              "b\rc\r\nd\tz")
            + QChar(0xFFFE) + QChar(0xD800) + QStringLiteral("\U0001F600");
        const QString kept = QStringLiteral("ab\rc\r\nd\tz\U0001F600");
        PelluxMaterialDocument document;
        document.setXmlFlags(PelluxMaterialDocument::SerializationFlags(0x3FF));
        QList<QPair<QObject*, const char*>> texts = { { &document, "description" }, { &document, "version" },
            { &document, "friendlyName" }, { &document, "prevImageName" } };
        const auto everyField = [](BaseMaterialObject* object) {
            object->setSharedXmlFlags(BaseMaterialObject::SharedSerializationFlags(0xFFFFFFF));
            object->CycleSettings()->setXmlFlags(CycleSetting::SerializationFlags(0x7FFF));
        };
        everyField(&document);
        for (int m = 0; m < 3; ++m) {
            auto* machine = new Machine;
            texts << qMakePair<QObject*, const char*>(machine, "preferredQuality");
            everyField(machine);
            for (int q = 0; q < 40; ++q) {
                auto* level = new QualityLevel;
                texts << qMakePair<QObject*, const char*>(level, "name")
                      << qMakePair<QObject*, const char*>(level, "displayName");
                everyField(level);
                machine->_appendQualityLevel(level);
            }
            document._appendMachine(machine);
        }
        for (const auto& text : texts) {
            QVERIFY(text.first->setProperty(text.second, pasted));
            QCOMPARE(text.first->property(text.second).toString(), kept);
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.zqmat"));
        document.writeToPath(path);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QVERIFY(QFileInfo(path).size() > 300 * 1000);
        PelluxMaterialDocument reloaded;
        reloaded.readFromPath(path);
        QVERIFY2(!reloaded.HasError(), qPrintable(reloaded.ErrorString()));
        QCOMPARE(reloaded.ToXMLString(), document.ToXMLString());
        QCOMPARE(reloaded._machineAt(2)->_qualityLevelAt(39)->DisplayName(), kept);
        QCOMPARE(reloaded.Description(), kept);
        QCOMPARE(reloaded._machineAt(2)->PreferredQuality(), kept);
    }

    // A FIFO was replaced by a regular file with success reported; a name of 249 to 255
    // bytes failed with a writer error that named no cause (248 is the longest possible).
    void saveTargets()
    {
        QTemporaryDir dir;
        PelluxMaterialDocument document;
        document.setFriendlyName(QStringLiteral("Resin"));
        const QString fifo = dir.filePath(QStringLiteral("fifo.zqmat"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        document.writeToPath(fifo);
        QCOMPARE(
            document.ErrorString(), QStringLiteral("Cannot save over something that is not a regular file."));
        QVERIFY(document.HasError() && QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());

        const QString target = dir.filePath(QString(248 - 6, QLatin1Char('n')) + QStringLiteral(".zqmat"));
        const QString link = dir.filePath(QStringLiteral("link.zqmat"));
        QVERIFY(QFile::link(target, link));
        document.writeToPath(link);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QString::fromUtf8(fileBytes(target)), document.ToXMLString());
    }

    // Regression: a writable file in a folder the user may not create files in could not
    // be saved, since the temporary file beside it could not be made.
    void writableFileInReadOnlyFolderIsSaved()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("m.zqmat"));
        QVERIFY(writeFile(path, "<ZqMaterial/>"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0600), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
        const auto writable
            = qScopeGuard([&dir] { ::chmod(QFile::encodeName(dir.path()).constData(), 0700); });
        PermissionsEnforced enforced; // root ignores the folder's mode otherwise
        QFile probe(dir.filePath(QStringLiteral("probe")));
        if (probe.open(QIODevice::WriteOnly))
            QSKIP("cannot make a folder unwritable here");

        PelluxMaterialDocument document;
        document.setFriendlyName(QStringLiteral("Resin"));
        document.writeToPath(path);
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        QCOMPARE(QString::fromUtf8(fileBytes(path)), document.ToXMLString());
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "m.zqmat" });
    }

    // Hand-written files: load, save, compare every byte, reload, compare.
    void goldenRoundTrip_data()
    {
        columns<QString>("name");
        for (const QString& name :
            QDir(kDataDir + QStringLiteral("/roundtrip")).entryList({ "*.zqmat" }, QDir::Files))
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
        compareGolden(QString::fromUtf8(fileBytes(saved)), path);
        QCOMPARE(document.ToXMLString(), QString::fromUtf8(fileBytes(path)));
        PelluxMaterialDocument reloaded;
        reloaded.readFromPath(saved);
        QCOMPARE(reloaded.ToXMLString(), document.ToXMLString());
    }

    // A symmetric mistake (an element read into the wrong field and written back from it)
    // survives the round trip; these reads catch it (the shared parameters' own test covers theirs).
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
        QCOMPARE(machineModels(document), QStringList({ "ORV_2.0_AA", "Unknown Machine" }));
        Machine* machine = document._machineAt(0);
        QCOMPARE(machine->PreferredQuality(), QStringLiteral("Fine"));
        QualityLevel* fine = machine->_qualityLevelAt(0);
        QCOMPARE(fine->DisplayName(), QStringLiteral("Fine 25 µm"));
        QCOMPARE(fine->Thickness_um(), 25);
        QCOMPARE(machine->_qualityLevelAt(1)->Name(), QStringLiteral("(Dev) - 100"));
    }

    // What older or hand-edited files hold: wrapping and overlong colours, model names with a
    // blank or none, and the unknown elements skipped whole at each level.
    void lenientFileIsReadAsStoredFilesExpect()
    {
        PelluxMaterialDocument document;
        QTest::ignoreMessage(QtDebugMsg, "Distributed flag removed");
        for (const char* skipped : { "Notes", "dp", "Extra", "Extra", "Comment" })
            QTest::ignoreMessage(
                QtDebugMsg, qPrintable(QStringLiteral("Skipping element \"%1\"").arg(skipped)));
        document.readFromPath(kDataDir + QStringLiteral("/read/lenient.zqmat"));
        QVERIFY2(!document.HasError(), qPrintable(document.ErrorString()));
        compareGolden(document.ToXMLString(), kDataDir + QStringLiteral("/read/lenient.ref"));
        QCOMPARE(document.Exposure(), 0.0);
    }

    // A failed save used to truncate the old file and report success; a full disk was
    // noticed, if at all, only after that. A later good save clears the error.
    void failedSaveKeepsWhatWasThere_data()
    {
        // fullDiskText: > 0: this much text onto a full disk
        columns<QString, bool, int, QString>("fileName", "existing", "fullDiskText", "error");
        const QString writeError
            = QStringLiteral("PelluxMaterialDocument::writeToPath:QXmlStreamWriter failed to write to file");
        // The temporary file's name would exceed 255 bytes.
        const QString tooLong
            = QStringLiteral("File name is too long to save: at most 248 bytes are possible.");
        QTest::newRow("missing folder") << "missing/m.zqmat" << false << 0 << "No such file or directory";
        QTest::newRow("name of 249 bytes") << QString(249 - 6, 'n') + ".zqmat" << true << 0 << tooLong;
        QTest::newRow("name of 255 bytes, new file")
            << QString(255 - 6, 'n') + ".zqmat" << false << 0 << tooLong;
        // Small enough to stay in the file's write buffer: only the commit fails.
        QTest::newRow("full disk when the buffer is flushed") << "m.zqmat" << true << 10 * 1024 << writeError;
        QTest::newRow("full disk while writing") << "m.zqmat" << true << 100 * 1024 << writeError;
    }
    void failedSaveKeepsWhatWasThere()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, existing);
        QFETCH(int, fullDiskText);
        QFETCH(QString, error);
        QTemporaryDir dir;
        GELV_FULL_DISK(disk, fullDiskText > 0, dir.path());
        const QString path = dir.filePath(fileName);
        PelluxMaterialDocument document;
        document.setFriendlyName(QStringLiteral("Resin"));
        QVERIFY(!existing || writeFile(path, document.ToXMLString().toUtf8()));
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
        if (disk)
            return;
        document.writeToPath(dir.filePath(QStringLiteral("good.zqmat")));
        QVERIFY(!document.HasError() && document.ErrorString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_PelluxMaterialDocument)
#include "tst_pelluxmaterialdocument.moc"
