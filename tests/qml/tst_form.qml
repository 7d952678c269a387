import QtQuick 2.15
import QtTest 1.2
import com.vtr.MaterialDocumentManagementLib 1.0
import "qrc:/"
import "qrc:/components/form/FormFields.js" as FormFields

TestCase {
    id: testCase
    name: "Form"
    when: windowShown
    width: 1400
    height: 900

    WorkspaceTestHarness {
        id: harness
    }

    function init() {
        harness.reset()
        harness.screen.openFileDialog = function (dialog) {}
    }

    function openFixture(name) {
        compare(MaterialDocumentMediator.loadDocument("file:///" + harness.dataDir + name), true)
        return harness.currentForm()
    }

    function field(label) {
        var item = harness.currentForm().fieldByLabel(label)
        verify(item !== null, label)
        return item
    }

    function typeInto(label, keys) {
        var input = field(label).input.inputItem
        input.forceActiveFocus()
        input.selectAll()
        for (var i = 0; i < keys.length; ++i)
            keyClick(keys.charAt(i))
        return input
    }

    function clearField(label) {
        var input = field(label).input.inputItem
        input.forceActiveFocus()
        input.selectAll()
        keyClick(Qt.Key_Delete)
        compare(input.text, "")
    }

    function saveTo(path) {
        harness.screen.saveDialogAccepted(MaterialDocumentMediator.urlFromLocalPath(path))
        verify(!MaterialDocumentMediator.document.hasError)
        return harness.readText(path)
    }

    function test_loadFormSaveIsByteIdentical_data() {
        return [
            { tag: "full", file: "full.zqmat", thickness: "50" },
            // 25 um is not in the list: nothing is selected, and the level keeps its name.
            { tag: "sparse", file: "sparse.zqmat", thickness: "" },
            { tag: "out-of-range value, partial colour", file: "outofrange.zqmat", thickness: "100" }
        ]
    }

    function test_loadFormSaveIsByteIdentical(data) {
        openFixture(data.file)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges(), "the form changed the loaded document")
        compare(field("Thickness (µm)").input.displayText, data.thickness)
        var saved = saveTo(harness.tempPath(data.file))
        compare(saved, harness.readText(harness.dataDir + data.file))
    }

    function test_formShowsLoadedValues() {
        openFixture("full.zqmat")
        compare(field("Name").input.text, "Clear")
        compare(field("Description").input.text, "Clear resin & more")
        compare(field("Time Multiplier").input.text, "1.5")
        compare(field("Initial Settle Time (ms)").input.text, "15000")
        compare(field("Testing Trim").input.displayText, "Yes")
        verify(field("Color").input.hasColor)
        compare(Math.round(field("Color").input.color.g * 255), 128)
        // Preselecting the stored thickness keeps the level's own name.
        compare(MaterialDocumentMediator.qualityLevel.name, "Fine")
    }

    function test_newDocumentDefaults() {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        var level = MaterialDocumentMediator.qualityLevel
        verify(level.sharedXmlFlags & BaseMaterialObject.BaseMaterialObjectExposure)
        compare(level.exposure, 0.1)
        compare(field("Exposure (mJ)").input.text, "0.1")
        compare(field("Version").input.text, "1.0")
        compare(field("Thickness (µm)").input.displayText, "30")
        ;["XYTrim_mm", "XYShrinkageFactor", "ZShrinkageFactor", "MaterialScalingFactorX", "MaterialScalingFactorY",
          "TestingTrim", "OverHangFactor"].forEach(function (flag) {
            verify(level.sharedXmlFlags & BaseMaterialObject["BaseMaterialObject" + flag], flag)
        })
        verify(!(level.sharedXmlFlags & BaseMaterialObject.BaseMaterialObjectTimeMultiplier))
        compare(field("Time Multiplier").input.text, "")
        compare(level.thickness_um, 30)
    }

    // A key that takes the value out of range is refused; the model follows every accepted key.
    function test_typing_data() {
        return [
            { tag: "in range", label: "Time Multiplier", keys: "2.5", text: "2.5", property: "timeMultiplier", value: 2.5 },
            { tag: "above the top", label: "Time Multiplier", keys: "26", text: "2", property: "timeMultiplier", value: 2 },
            { tag: "a first 0 is below the bottom of 0.1", label: "Exposure (mJ)", keys: "0", text: "12.5",
              property: "exposure", value: 12.5 },
            { tag: "negative bottom", label: "XY Trim (mm)", keys: "-0.55", text: "-0.55", property: "xYTrim_mm",
              value: -0.55 },
            { tag: "below a negative bottom", label: "XY Trim (mm)", keys: "-2", text: "-", property: "xYTrim_mm",
              value: -0.05 }
        ]
    }

    function test_typing(data) {
        openFixture("full.zqmat")
        compare(typeInto(data.label, data.keys).text, data.text)
        compare(MaterialDocumentMediator.qualityLevel[data.property], data.value)
    }

    function test_clearingAFieldRemovesItsElement_data() {
        return [
            { tag: "decimal", label: "Time Multiplier", element: "<TimeMultiplier>" },
            { tag: "integer", label: "Kick (ms)", element: "<Kick_ms>" },
            { tag: "integer written with a decimal parse", label: "Release Min (ms)", element: "<ReleaseMin_ms>" },
            { tag: "text", label: "Description", element: "<Description>", keepsEmptyElement: true }
        ]
        // Regression: an emptied integer field wrote 0 instead of clearing the value.
    }

    function test_clearingAFieldRemovesItsElement(data) {
        openFixture("full.zqmat")
        clearField(data.label)
        var xml = MaterialDocumentMediator.document.ToXMLString()
        // A text field writes its (empty) text; numbers leave the document.
        compare(xml.indexOf(data.element) >= 0, data.keepsEmptyElement === true)
    }

    function test_loadedOutOfRangeValueStaysAndIsReported() {
        openFixture("outofrange.zqmat")
        compare(field("Time Multiplier").input.text, "7")
        compare(MaterialDocumentMediator.qualityLevel.timeMultiplier, 7)
        MaterialDocumentMediator.validateDocumentFields()
        verify(MaterialDocumentMediator.formValidationErrorMessages.indexOf(
                   "<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5.") >= 0)
        // Two of three colour components: nothing shown, nothing written.
        verify(!field("Color").input.hasColor)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
    }

    function test_thicknessSelectionWritesNameAndThickness() {
        openFixture("full.zqmat")
        var combo = field("Thickness (µm)").input
        combo.currentIndex = FormFields.thicknessValues.indexOf("120")
        compare(MaterialDocumentMediator.qualityLevel.thickness_um, 120)
        compare(MaterialDocumentMediator.qualityLevel.name, "120")
        var trim = field("Testing Trim").input
        trim.currentIndex = 1
        compare(MaterialDocumentMediator.qualityLevel.testingTrim, false)
    }

    // Regression: components were truncated and drifted by one on each load and save.
    function test_colorComponentsRoundTrip_data() {
        return [
            { tag: "loaded colour chosen again", chosen: [1, 128, 254], stored: [1, 128, 254] },
            { tag: "extremes", chosen: [0, 255, 254], stored: [0, 255, 254] },
            { tag: "between two steps", chosen: [127.6, 77.6, 200.7], stored: [128, 78, 201] }
        ]
    }

    function test_colorComponentsRoundTrip(data) {
        openFixture("full.zqmat")
        var swatch = field("Color").input
        swatch.chooseColor(Qt.rgba(data.chosen[0] / 255, data.chosen[1] / 255, data.chosen[2] / 255, 1))
        var doc = MaterialDocumentMediator.document
        compare([doc.friendlyColorRed, doc.friendlyColorGreen, doc.friendlyColorBlue], data.stored)
        // Choosing the shown colour again changes nothing.
        swatch.chooseColor(swatch.color)
        compare([doc.friendlyColorRed, doc.friendlyColorGreen, doc.friendlyColorBlue], data.stored)
    }

    function test_fieldTableDrivesPlaceholdersAndTooltips_data() {
        return [
            { tag: "version", label: "Version", placeholder: "0.1 or greater", tooltip: "" },
            { tag: "negative bottom", label: "XY Trim (mm)", placeholder: "-1.0 to 1.0", tooltip: "Default: 0.0" },
            { tag: "integer", label: "Initial Settle Time (ms)", placeholder: "0 to 60000", tooltip: "Default: 14,000" },
            { tag: "text", label: "Name", placeholder: "", tooltip: "" }
        ]
    }

    function test_fieldTableDrivesPlaceholdersAndTooltips(data) {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        var input = field(data.label).input
        compare(input.placeholderText, data.placeholder)
        compare(input.toolTipText, data.tooltip)
    }

    // Save with errors opens the list instead of the file dialog; its height follows the count.
    function test_saveWithValidationErrorsShowsTheDialog() {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        var requested = 0
        harness.screen.openFileDialog = function (dialog) { requested += 1 }
        var dialog = harness.screen.formHeader.validationDialog
        harness.screen.formHeader.save()
        verify(dialog.opened)
        compare(dialog.title, "Please fix these errors.")
        verify(MaterialDocumentMediator.formValidationErrorMessages.indexOf("Name is required.") >= 0)
        compare(requested, 0)
        dialog.close()
        MaterialDocumentMediator.formValidationErrorMessages = ["1", "2", "3", "4", "5", "6", "7"]
        dialog.open()
        compare(dialog.popupHeight, 670)
        dialog.close()
    }
}
