import QtQuick 2.15
import QtQuick.Window 2.15
import QtTest 1.2
import Qt.labs.platform 1.1 as Platform
import com.vtr.Gelvantrium 1.0
import com.vtr.MaterialDocumentManagementLib 1.0
import "qrc:/"
import "qrc:/components/form/FormFields.js" as FormFields
import "qrc:/components/screen"

// The form screen with the real mediator and document model: its tabs, the fields,
// saving, distributing and installing on printer stand-ins (each on a free loopback address).
// Files go to the test's own temporary folder.
TestCase {
    id: testCase
    name: "Form"
    when: windowShown
    width: 1400; height: 900

    // A TestCase is never visible: the screen is shown in the test window itself.
    Item {
        id: harness
        width: 1400; height: 900
        readonly property var hostWindow: Window.window
        onHostWindowChanged: if (hostWindow) parent = hostWindow.contentItem
        ScreenForm { id: screenForm; anchors.fill: parent }
    }

    // A strip title as it should be measured: the file name's own text, one line.
    Text { id: referenceTitle; visible: false; font.pointSize: 14; textFormat: Text.PlainText }

    readonly property string tempDir: MaterialDocumentMediator.localPathFromUrl(
        Platform.StandardPaths.writableLocation(Platform.StandardPaths.TempLocation)) + "/"
    readonly property string dataDir: MaterialDocumentMediator.localPathFromUrl(Qt.resolvedUrl("data/workspace")) + "/"
    readonly property string validPassword: "Secr3t!pw"
    readonly property string groupKey32: "0123456789abcdef0123456789ABCDEF"
    readonly property var tabView: screenForm.closeableTabView
    property int fileCounter: 0
    property var openedDialogs: []

    // Closes every tab without prompting and forgets the recent list.
    function init() {
        screenForm.ensureContent()
        while (tabView.tabNames.count > 0)
            tabView.closeTab(tabView.tabNames.get(0).filePath)
        MaterialDocumentMediator.recentFiles.clear()
        screenForm.closeTabKey = ""
        screenForm.saveBeforeClosingInProgress = false
        ;[screenForm.messageDialog, screenForm.closePrompt, screenForm.validationDialog].forEach(function (d) { d.close() })
        openedDialogs = []
        screenForm.openFileDialog = function (dialog) { testCase.openedDialogs.push(dialog) }
        DistributionMediator.distributionPassword = validPassword
        Globals.settingsUser_SetGroupKey(groupKey32)
    }

    // A fresh path in the temporary folder.
    function tempPath(name) { return tempDir + (++fileCounter) + "_" + name }
    function keyOf(path) { return MaterialDocumentMediator.keyFromPath(path) }
    function fileName(path) { return path.substring(path.lastIndexOf("/") + 1) }
    function url(path) { return MaterialDocumentMediator.urlFromLocalPath(path) }

    // A fresh copy of a clean material file in the temporary folder.
    function newFile(name) { var path = tempPath(name); verify(testSupport.writeTextFile(path, readText(dataDir + "full.zqmat"))); return path }

    // The file's text, or null when it cannot be read.
    function readText(path) {
        var request = new XMLHttpRequest()
        request.open("GET", String(url(path)), false)
        request.send()
        return request.status === 200 ? request.responseText : null
    }

    // Each tab's key or title, in strip order.
    function tabRoles(role) {
        return Array.from({ length: tabView.tabNames.count }, function (_, i) { return tabView.tabNames.get(i)[role] })
    }
    function tabKeys() { return tabRoles("filePath") }
    function tabTitles() { return tabRoles("tabName") }
    function currentForm() { var tab = tabView.tabView.getTab(tabView.tabView.currentIndex); return tab ? tab.item : null }
    function newDocument() { verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA")); return MaterialDocumentMediator.documentKey }
    function openFile(path) { compare(MaterialDocumentMediator.loadDocument(keyOf(path)), true); return MaterialDocumentMediator.documentKey }
    function openFixture(name) { return openFile(dataDir + name) }
    function field(label) { var item = currentForm().fieldByLabel(label); verify(item !== null, label); return item }

    function typeInto(label, keys) {
        var input = field(label).input.inputItem
        input.forceActiveFocus()
        input.selectAll()
        keys.split("").forEach(function (key) { keyClick(key) })
        return input
    }

    function clearField(label) { typeInto(label, ""); keyClick(Qt.Key_Delete); compare(field(label).input.text, "") }

    function finishEditing() { screenForm.forceActiveFocus() }

    function saveTo(path) { screenForm.saveDialogAccepted(url(path)); verify(!MaterialDocumentMediator.document.hasError); return readText(path) }

    // Saves the current document as the save dialog would, answering it with path.
    function saveAs(path) {
        screenForm.saveDocument()
        compare(openedDialogs[openedDialogs.length - 1], screenForm.saveDialog)
        screenForm.saveDialogAccepted(url(path))
    }

    // Loaded, shown and saved again unchanged. The out-of-range value stays and is reported;
    // two of three colour components show no colour.
    function test_loadFormSaveIsByteIdentical_data() {
        return [
            { tag: "full", file: "full.zqmat", thickness: "50", colour: true,
              shown: { "Name": "Clear", "Description": "Clear resin & more", "Time Multiplier": "1.5",
                       "Initial Settle Time (ms)": "15000" } },
            // 25 um is not in the list: nothing is selected, and the level keeps its name.
            // Version shows "1.0" and is written: the form writes what it shows.
            { tag: "sparse", file: "sparse.zqmat", thickness: "", colour: false, shown: { "Version": "1.0" },
              addsVersion: true },
            { tag: "out-of-range value, partial colour", file: "outofrange.zqmat", thickness: "100", colour: false,
              shown: { "Time Multiplier": "7" }, addsVersion: true, error: "<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5." }
        ]
    }

    function test_loadFormSaveIsByteIdentical(data) {
        openFixture(data.file)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges(), "the form changed the loaded document")
        compare(field("Thickness (µm)").input.displayText, data.thickness)
        for (var label in data.shown)
            compare(field(label).input.text, data.shown[label], label)
        compare(field("Color").input.hasColor, data.colour)
        if (data.error) {
            MaterialDocumentMediator.validateDocumentFields()
            verify(MaterialDocumentMediator.formValidationErrorMessages.indexOf(data.error) >= 0)
        }
        var expected = readText(dataDir + data.file)
        if (data.addsVersion)
            expected = expected.replace("<ZqMaterial>\n", "<ZqMaterial>\n    <Version>1.0</Version>\n")
        compare(saveTo(tempPath(data.file)), expected)
    }

    // Every parameter of the shared block, as the file format names them.
    readonly property var parameterNames: [
        "TimeMultiplier", "Model_Dose_MJcm3", "Model_Dose_Const", "Dp", "Iy_um", "Oc_um", "XYBleed_mm",
        "ZBleedDepth_mm", "XYTrim_mm", "ZShrinkageFactor", "XYShrinkageFactor", "OverHangFactor",
        "OverExposureFactor", "TestingOC", "TestingRC", "TestingTrim", "RaiseAccelLimit", "LowerDecelLimit",
        "UsePrinterXYScaling", "RC_Factor", "Exposure", "BaseExposureTimeOverride_ms", "AttachDepth",
        "FoundationExposure", "InhibitedLayer_mm", "UseOrigMethod", "MaterialScalingFactorX", "MaterialScalingFactorY"
    ]

    // The value the printer takes for each parameter of a file's quality level: the level's
    // own, else the machine's, else the document's, else the initial one.
    function effectiveValues(path) {
        var doc = Qt.createQmlObject("import com.vtr.MaterialDocumentManagementLib 1.0; PelluxMaterialDocument {}", testCase)
        doc.readFromPath(path)
        verify(!doc.hasError, doc.errorString)
        var machine = doc.machines[0]
        var level = machine.qualityLevels[0]
        var values = {}
        parameterNames.forEach(function (name) {
            var bit = BaseMaterialObject["BaseMaterialObject" + name]
            var setting = [level, machine, doc].filter(function (o) { return (o.sharedXmlFlags & bit) !== 0 })
            values[name] = (setting.length > 0 ? setting[0] : level)[name.charAt(0).toLowerCase() + name.substring(1)]
        })
        doc.destroy()
        return values
    }

    // Regression: values set for the document or the machine and not for the quality level
    // were overwritten on save by the initial values of the fields the form always writes
    // (XY Trim -0.025 became 0, Scaling Factor X 1.0025 became 0.8).
    function test_untouchedSaveKeepsEveryEffectiveValue_data() {
        return [
            { tag: "values of the document", file: "inherited/document.zqmat", testingTrim: "Yes",
              shown: { "XY Trim (mm)": "-0.025", "XY Shrinkage Factor": "1.004", "Z Shrinkage Factor": "1.0123456789012",
                       "Overhang Factor": "120", "Scaling Factor X": "1.0025", "Scaling Factor Y": "0.998",
                       "Exposure (mJ)": "7.5" } },
            { tag: "values of the machine over the document's", file: "inherited/machine.zqmat", testingTrim: "No",
              shown: { "XY Trim (mm)": "0.03", "XY Shrinkage Factor": "1.05", "Z Shrinkage Factor": "1.1",
                       "Overhang Factor": "60", "Scaling Factor X": "0.9", "Scaling Factor Y": "1.1", "Exposure (mJ)": "3" } }
        ]
    }

    function test_untouchedSaveKeepsEveryEffectiveValue(data) {
        var before = effectiveValues(dataDir + data.file)
        openFixture(data.file)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges(), "the form changed the loaded document")
        for (var label in data.shown)
            compare(field(label).input.text, data.shown[label], label)
        compare(field("Testing Trim").input.displayText, data.testingTrim)
        var path = tempPath("inherited.zqmat")
        saveTo(path)
        var after = effectiveValues(path)
        parameterNames.forEach(function (name) { compare(after[name], before[name], name) })
    }

    // The field holds what is typed; the model follows every key that gives a number in range.
    function test_typing_data() {
        return [
            { tag: "above the top", label: "Time Multiplier", keys: "26", text: "26", property: "timeMultiplier", value: 2 },
            { tag: "below a negative bottom", label: "XY Trim (mm)", keys: "-2", text: "-2", property: "xYTrim_mm",
              value: -0.05 },
            // Regression: the comma was dropped, so "0,25" gave 2 and "1,5" gave 1.
            { tag: "decimal comma", label: "XY Bleed (mm)", keys: "0,25", text: "0.25", property: "xYBleed_mm", value: 0.25 },
            { tag: "decimal comma after the units", label: "XY Bleed (mm)", keys: "1,5", text: "1.5", property: "xYBleed_mm",
              value: 1.5 },
            { tag: "trailing decimal comma", label: "Overhang Factor", keys: "12,", text: "12.", property: "overHangFactor",
              value: 12 }
        ]
    }

    function test_typing(data) {
        openFixture("full.zqmat")
        compare(typeInto(data.label, data.keys).text, data.text)
        compare(MaterialDocumentMediator.qualityLevel[data.property], data.value)
    }

    // Regression: a key that took a decimal field out of range put back the last accepted
    // text, and the next keys were added to it: "0.1" retyped as "0.5" saved 0.15; clearing
    // first did not help ("6", cleared, "0.5" gave 6.5). A lone separator in an integer
    // field is refused and leaves the selection, so the next key still replaces it.
    function test_retypingGivesTheTypedNumber_data() {
        return [
            { tag: "Exposure of a new material", label: "Exposure (mJ)", shown: "0.1", keys: "0.5", value: 0.5 },
            { tag: "Foundation Exposure", label: "Foundation Exposure (mJ)", before: "6", shown: "6", keys: "0.8",
              value: 0.8 },
            { tag: "Scaling Factor X", label: "Scaling Factor X", before: "0.8", shown: "0.8", keys: "0.9", value: 0.9 },
            { tag: "Time Multiplier", label: "Time Multiplier", before: "2", shown: "2", keys: "0.5", value: 0.5 },
            { tag: "Version", label: "Version", target: "document", shown: "1.0", keys: "0.5", value: "0.5" },
            { tag: "cleared first", label: "Foundation Exposure (mJ)", before: "6", clear: true, shown: "", keys: "0.5",
              value: 0.5 },
            { tag: "decimal comma", label: "Time Multiplier", before: "2", shown: "2", keys: "0,25", text: "0.25",
              value: 0.25 },
            { tag: "lone point in an integer field", label: "Kick (ms)", target: "cycleSetting", before: "10", shown: "10",
              keys: ".5", text: "5", value: 5 },
            { tag: "lone comma in an integer field", label: "Release Max (ms)", target: "cycleSetting", before: "1000",
              shown: "1000", keys: ",5", text: "5", value: 5 }
        ]
    }

    function test_retypingGivesTheTypedNumber(data) {
        newDocument()
        if (data.before) {
            typeInto(data.label, data.before)
            finishEditing()
        }
        if (data.clear) {
            clearField(data.label)
            finishEditing()
        }
        compare(field(data.label).input.text, data.shown)
        var input = typeInto(data.label, data.keys)
        finishEditing()
        compare(input.text, data.text || data.keys)
        var target = MaterialDocumentMediator[data.target || "qualityLevel"]
        compare(target[FormFields.fields.filter(function (f) { return f.label === data.label })[0].property], data.value)
    }

    // Regression: an integer field dropped the characters it refused and joined the digits
    // around them ("7.5" saved 75, "1,5" 15, "1e3" 13, "-5" 5); a decimal field dropped a
    // minus below a bottom of 0 the same way. A text that is no number in range is shown as
    // typed and marked, never reaches the model, and gives way to the field's earlier value,
    // with the reason, when editing ends.
    function test_refusedTextNeverReachesTheModel_data() {
        return [
            { tag: "point in Settle Min", label: "Settle Min (ms)", keys: "7.5", kept: "350", value: 350 },
            { tag: "comma in Release Max", label: "Release Max (ms)", keys: "1,5", kept: "1100", value: 1100 },
            { tag: "exponent in Cool", label: "Cool (ms)", keys: "1e3", kept: "20", value: 20 },
            { tag: "minus in Kick", label: "Kick (ms)", keys: "-5", kept: "10", value: 10 },
            { tag: "above the top of Time Multiplier", label: "Time Multiplier", target: "qualityLevel", keys: "6",
              kept: "1.5", value: 1.5 },
            { tag: "minus in Z Bleed Depth", label: "Z Bleed Depth (mm)", target: "qualityLevel", keys: "-5", kept: "0.2",
              value: 0.2 },
            { tag: "exponent in XY Bleed", label: "XY Bleed (mm)", target: "qualityLevel", keys: "1e3", kept: "0.1",
              value: 0.1 }
        ]
    }

    function test_refusedTextNeverReachesTheModel(data) {
        openFixture("full.zqmat")
        var shown = field(data.label).input
        typeInto(data.label, data.keys)
        compare(shown.text, data.keys)
        verify(shown.refusal !== "", "a refused text is not marked")
        finishEditing()
        compare(shown.text, data.kept)
        verify(shown.refusal !== "", "the field does not say why it put its value back")
        var target = MaterialDocumentMediator[data.target || "cycleSetting"]
        compare(target[FormFields.fields.filter(function (f) { return f.label === data.label })[0].property], data.value)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges(), "the document changed")
    }

    // Regression: after Enter had ended editing on an accepted number, a refused text typed
    // next gave way to the value from before that number, which the model then took again.
    function test_enterKeepsTheAcceptedNumber_data() {
        return [
            { tag: "whole", keys: "2", shown: "2" },
            { tag: "more digits than the file keeps", keys: "1.23456789", shown: "1.23457" }
        ]
    }

    function test_enterKeepsTheAcceptedNumber(data) {
        openFixture("full.zqmat")
        var shown = field("Time Multiplier").input
        typeInto("Time Multiplier", data.keys)
        keyClick(Qt.Key_Return)
        compare(shown.text, data.shown)
        typeInto("Time Multiplier", "6")
        finishEditing()
        compare([shown.text, shown.refusal], [data.shown, "6 not kept: out of range"])
        compare(elementText(MaterialDocumentMediator.document.ToXMLString(), "TimeMultiplier"), data.shown)
    }

    // Regression: with no level setting them, the scaling factors were shown, saved and
    // installed as 0.8, the bottom of their range, not the default of 1.0 the form states.
    function test_unsetScalingIsSavedAsTheStatedDefault_data() {
        return [ { tag: "new material", file: "" }, { tag: "file without scaling", file: "noscaling.zqmat" } ]
    }

    function test_unsetScalingIsSavedAsTheStatedDefault(data) {
        data.file ? openFixture(data.file) : newDocument()
        compare([field("Scaling Factor X").input.text, field("Scaling Factor Y").input.text], ["1", "1"])
        var xml = saveTo(tempPath("scaling.zqmat"))
        compare([elementText(xml, "MaterialScalingFactorX"), elementText(xml, "MaterialScalingFactorY")],
                ["1.000000000000", "1.000000000000"])
    }

    // The number fields with the element each one is saved as.
    readonly property var numberElements: [
        ["Time Multiplier", "TimeMultiplier"], ["Z Bleed Depth (mm)", "ZBleedDepth_mm"],
        ["Exposure (mJ)", "Exposure"], ["Over Exposure Factor", "OverExposureFactor"],
        ["Foundation Exposure (mJ)", "FoundationExposure"], ["XY Bleed (mm)", "XYBleed_mm"],
        ["Overhang Factor", "OverHangFactor"], ["XY Trim (mm)", "XYTrim_mm"],
        ["XY Shrinkage Factor", "XYShinkageFactor"], ["Z Shrinkage Factor", "ZShinkageFactor"],
        ["Scaling Factor X", "MaterialScalingFactorX"], ["Scaling Factor Y", "MaterialScalingFactorY"],
        ["Initial Settle Time (ms)", "Initial_Settle"], ["Release Min (ms)", "ReleaseMin_ms"],
        ["Release Max (ms)", "Release_ms"], ["Release Raise Min (mm)", "ReleaseRaise_Min_mm"],
        ["Settle Max (ms)", "Settle_ms"], ["Kick (ms)", "Kick_ms"]
    ]

    // The text of an element of the saved file, or null when the file lacks it.
    function elementText(xml, name) { var m = new RegExp("<" + name + ">([^<]*)</" + name + ">").exec(xml); return m && m[1] }

    // Regression: the always-written fields showed nothing while the file got values; text
    // that is no number stayed on screen while the file dropped the field; opening made the
    // document unsaved; a New document saved its level under a fallback name; an emptied
    // integer field wrote 0. An emptied text field keeps its (empty) element.
    function test_savedFileHoldsWhatTheFieldsShow_data() {
        return [ { tag: "new document", open: false }, { tag: "opened document", open: true } ]
    }

    function test_savedFileHoldsWhatTheFieldsShow(data) {
        data.open ? openFixture("full.zqmat") : newDocument()
        ;[["Name", "Resin"], ["Time Multiplier", "2.5"], ["XY Bleed (mm)", "1,5"], ["Z Bleed Depth (mm)", "."],
          ["Release Min (ms)", "1,000"], ["Kick (ms)", "-"], ["Over Exposure Factor", ""], ["Settle Max (ms)", ""]
        ].forEach(function (typed) {
            (typed[1] === "" ? clearField : typeInto)(typed[0], typed[1])
            finishEditing()
        })
        if (data.open) {
            clearField("Description")
            field("Thickness (µm)").input.currentIndex = FormFields.thicknessValues.indexOf("120")
            field("Testing Trim").input.currentIndex = 1
        }
        finishEditing()
        var path = tempPath("roundtrip.zqmat")
        var xml = saveTo(path)
        compare(elementText(xml, "FriendlyName"), field("Name").input.text)
        // Regression: a new document showed Version 1.0 and saved none.
        compare(elementText(xml, "Version"), field("Version").input.text)
        numberElements.forEach(function (pair) {
            var shown = field(pair[0]).input.text
            var saved = elementText(xml, pair[1])
            if (shown === "") {
                compare(saved, null, pair[0] + " is empty but saved")
            } else {
                verify(/^-?\d+(\.\d+)?$/.test(shown), pair[0] + " shows " + shown)
                verify(saved !== null && Number(saved) === Number(shown), pair[0] + " shows " + shown + ", saved " + saved)
            }
        })
        compare(field("XY Bleed (mm)").input.text, "1.5")
        compare([field("Over Exposure Factor").input.text, field("Settle Max (ms)").input.text], ["", ""])
        // A chosen thickness names the level; a new document's level is named by its thickness too.
        verify(xml.indexOf(data.open ? '<Quality Name="120" Thickness_um="120">' : '<Quality Name="30" Thickness_um="30">') >= 0, xml)
        if (data.open)
            compare([elementText(xml, "Description"), elementText(xml, "TestingTrim")], ["", "false"])
        else
            compare(field("Overhang Factor").input.text, "80")
        // The saved file, opened again, is clean until it is edited.
        init()
        openFile(path)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges(), "opening made the document unsaved")
        typeInto("Time Multiplier", "3")
        verify(MaterialDocumentMediator.documentHasUnsavedChanges())
    }

    // Regression: the fields kept showing digits the file does not keep ('g', 6 for most
    // decimals, 12 decimals for the scaling factors), so the form showed one number while
    // the file and the printer got another.
    function test_fieldShowsTheNumberTheFileHolds_data() {
        return [
            { tag: "Exposure", label: "Exposure (mJ)", keys: "12.345678", shown: "12.3457", element: "Exposure",
              written: "12.3457" },
            { tag: "Time Multiplier", label: "Time Multiplier", keys: "1.23456789", shown: "1.23457",
              element: "TimeMultiplier", written: "1.23457" },
            { tag: "Foundation Exposure", label: "Foundation Exposure (mJ)", keys: "7.654321", shown: "7.65432",
              element: "FoundationExposure", written: "7.65432" },
            { tag: "Z Bleed Depth", label: "Z Bleed Depth (mm)", keys: "0.123456789", shown: "0.123457",
              element: "ZBleedDepth_mm", written: "0.123457" },
            { tag: "Scaling Factor X", label: "Scaling Factor X", keys: "0.95000000000001", shown: "0.95",
              element: "MaterialScalingFactorX", written: "0.950000000000" },
            // Every other precision the writer uses, and texts the rounding must not make odd.
            { tag: "Over Exposure Factor", label: "Over Exposure Factor", keys: "1.23456789012345",
              shown: "1.23456789012", element: "OverExposureFactor", written: "1.23456789012" },
            { tag: "Overhang Factor", label: "Overhang Factor", keys: "123.456789012345", shown: "123.456789012",
              element: "OverHangFactor", written: "123.456789012" },
            { tag: "XY Shrinkage Factor", label: "XY Shrinkage Factor", keys: "1.0123456789012345",
              shown: "1.0123456789012", element: "XYShinkageFactor", written: "1.0123456789012" },
            { tag: "Z Shrinkage Factor", label: "Z Shrinkage Factor", keys: "1.0123456789012345",
              shown: "1.0123456789012", element: "ZShinkageFactor", written: "1.0123456789012" },
            { tag: "Lower Decel Limit", label: "Lower Decel Limit", keys: "0.123456789", shown: "0.123457",
              element: "LowerDecelLimit", written: "0.123457" },
            { tag: "Release Raise Max", label: "Release Raise Max (mm)", keys: "1.23456789", shown: "1.23457",
              element: "ReleaseRaise_Max_mm", written: "1.23457" },
            { tag: "tiny", label: "Z Bleed Depth (mm)", keys: "0.00000012345678", shown: "0.000000123457",
              element: "ZBleedDepth_mm", written: "1.23457e-07" },
            { tag: "minus zero", label: "XY Trim (mm)", keys: "-0", shown: "0", element: "XYTrim_mm", written: "0" },
            { tag: "trailing zeros", label: "Time Multiplier", keys: "1.50", shown: "1.5", element: "TimeMultiplier",
              written: "1.5" },
            { tag: "Scaling Factor Y, whole", label: "Scaling Factor Y", keys: "1.0", shown: "1",
              element: "MaterialScalingFactorY", written: "1.000000000000" }
        ]
    }

    function test_fieldShowsTheNumberTheFileHolds(data) {
        newDocument()
        var input = typeInto(data.label, data.keys)
        finishEditing()
        var written = elementText(MaterialDocumentMediator.document.ToXMLString(), data.element)
        compare(input.text, data.shown)
        compare(written, data.written)
        // compare() forgives differences under 1e-5 between numbers.
        verify(Number(input.text) === Number(written), input.text + " shown, " + written + " written")
    }

    // Regression: " 2 " was refused as no number while the field seemed to show 2.
    function test_spacesAroundANumberAreNotPartOfIt_data() {
        return [
            { tag: "decimal", label: "Over Exposure Factor", target: "qualityLevel", property: "overExposureFactor",
              element: "OverExposureFactor" },
            { tag: "whole number", label: "Kick (ms)", target: "cycleSetting", property: "kick_ms", element: "Kick_ms" }
        ]
    }

    function test_spacesAroundANumberAreNotPartOfIt(data) {
        newDocument()
        var shown = field(data.label).input
        typeInto(data.label, " 2 ")
        compare(shown.refusal, "")
        finishEditing()
        compare(shown.text, "2")
        verify(MaterialDocumentMediator[data.target][data.property] === 2)
        compare(elementText(MaterialDocumentMediator.document.ToXMLString(), data.element), "2")
    }

    // Regression: Save, Install and Distribute ended editing first, which put the field's
    // earlier value back, and then wrote or sent that value without a word; the note then
    // named the value shown ("1.5   Not kept: out of range") as if it had been refused.
    // Regression: a click on Install or Distribute took the focus, which did the same.
    function test_refusedTextInAFieldStopsSaveInstallAndDistribute_data() {
        return [
            { tag: "Save", action: "save", dialog: "saveDialog" },
            { tag: "Distribute", action: "distribute", dialog: "distributeDialog" },
            { tag: "Install", action: "install", printer: true },
            { tag: "Save clicked", action: "save", button: "saveButton", dialog: "saveDialog" },
            { tag: "Distribute clicked", action: "distribute", button: "distributeButton", dialog: "distributeDialog" },
            { tag: "Install clicked", action: "install", button: "installButton", printer: true }
        ]
    }

    function test_refusedTextInAFieldStopsSaveInstallAndDistribute(data) {
        var header = screenForm.formHeader
        printerAddress = ""
        if (data.printer) {
            printerAddress = testSupport.launchPrinter(["--mode", "accept", "--name", printerName, "--group-key", groupKey32])
            verify(printerAddress !== "")
            verify(NetworkConnectionMediator.connectToPrinter(printerAddress))
            tryVerify(function () { return NetworkConnectionMediator.getPrinterName(-1) === printerName }, 20000)
        }
        openClean(false)
        var shown = field("Time Multiplier").input
        typeInto("Time Multiplier", "6")
        verify(shown.inputItem.activeFocus)
        if (data.button)
            mouseClick(header[data.button])
        else
            header[data.action]()
        compare(header.validationDialog.opened, true)
        compare(MaterialDocumentMediator.formValidationErrorMessages,
                ["<b>Time Multiplier</b> is outside the allowed range of 0.1 to 5."])
        compare(openedDialogs, [])
        compare(header.installButton.text, "Install")
        compare([shown.text, shown.refusal], ["6", "Out of range"])
        compare(MaterialDocumentMediator.qualityLevel.timeMultiplier, 1.5)
        header.validationDialog.close()

        // Left, the field puts its value back and names the text it did not keep; the
        // same action then goes ahead, so a write or send above would have been seen.
        shown.inputItem.forceActiveFocus()
        finishEditing()
        compare([shown.text, shown.refusal], ["1.5", "6 not kept: out of range"])
        if (data.button)
            mouseClick(header[data.button])
        else
            header[data.action]()
        compare(header.validationDialog.opened, false)
        if (data.printer) {
            tryCompare(header.installSucceededDialog, "opened", true, 20000)
            compare(setRequests().length, 1)
        } else {
            compare(openedDialogs, [screenForm[data.dialog]])
        }
    }

    // Regression: the note took the field's right part, pushing the value out of view
    // ("45678" of "1.2345678"), and was cut ("Not kept: not a n..."). It now wraps under
    // the field, and its row makes room for it.
    function test_noteLeavesTheValueAndItselfInView_data() {
        var rows = []
        ;[["1280 wide with Help open", 876], ["smallest window", 1100], ["wide", 1598]].forEach(function (size) {
            ;[["Version", "1.2345678"], ["Release Raise Min (mm)", "1.23457"]].forEach(function (f) {
                rows.push({ tag: f[0] + ", " + size[0], width: size[1], label: f[0], kept: f[1],
                            longest: f[0] === "Version" && size[1] >= 1100 ? "1000000000000" : "" })
            })
        })
        return rows
    }

    function test_noteLeavesTheValueAndItselfInView(data) {
        harness.width = data.width
        newDocument()
        var item = field(data.label)
        typeInto(data.label, "1.2345678")
        finishEditing()
        typeInto(data.label, "1.23456789012345e")
        finishEditing()
        var input = item.input.inputItem
        var note = item.input.noteItem
        compare([input.text, note.text], [data.kept, "1.23456789012345e not kept: not a number"])
        var form = currentForm()
        var overlapping = function () {
            var noteAt = note.mapToItem(form, 0, 0)
            var found = []
            ;[form.materialSection, form.qualitySection, form.cycleSection].forEach(function (section) {
                section.fieldItems.forEach(function (other) {
                    var at = other.mapToItem(form, 0, 0)
                    if (other !== item && at.y < noteAt.y + note.height && at.y + other.height > noteAt.y
                            && at.x < noteAt.x + note.width && at.x + other.width > noteAt.x)
                        found.push(other.field.label)
                })
            })
            return found
        }
        tryVerify(function () { return overlapping().length === 0 }, 10000)
        compare(overlapping(), [])
        verify(!note.truncated)
        verify(note.width <= item.width)
        verify(input.contentWidth <= input.width - input.leftPadding - input.rightPadding,
               input.contentWidth + " wide in " + input.width)
        // The longest version in range, once editing ends, is drawn small enough to fit.
        if (data.longest) {
            typeInto(data.label, data.longest)
            finishEditing()
            verify(input.contentWidth <= input.width - input.leftPadding - input.rightPadding,
                   input.contentWidth + " wide in " + input.width)
        }
        harness.width = 1400
    }

    // Regression: with Help open at 1280 x 720, and in a small window, fields lay outside the
    // tab and labels were cut ("Release Raise Min (mm").
    function test_everyFieldAndLabelFitsTheTab_data() {
        return [ { tag: "1280 wide with Help open", width: 876 }, { tag: "smallest window", width: 1100 } ]
    }

    function test_everyFieldAndLabelFitsTheTab(data) {
        harness.width = data.width
        newDocument()
        var form = currentForm()
        var problems = function () {
            var found = []
            ;[form.materialSection, form.qualitySection, form.cycleSection].forEach(function (section) {
                section.fieldItems.forEach(function (item) {
                    if (item.mapToItem(form, item.width, 0).x > form.width)
                        found.push(item.field.label + " lies outside the tab")
                    if (item.labelImplicitWidth > item.width)
                        found.push(item.field.label + " is cut")
                    if (item.mapToItem(form.scrollArea.contentItem, 0, item.height).y > form.scrollArea.contentHeight)
                        found.push(item.field.label + " can't be scrolled to")
                })
            })
            return found
        }
        // The grids lay out on the next frame.
        tryVerify(function () { return problems().length === 0 }, 10000)
        compare(problems(), [])
        harness.width = 1400
    }

    // Regression: the platform dialog, made at its first opening, proposed an empty name.
    function test_saveDialogProposesTheRuleName_data() {
        return [
            { tag: "new document", file: "", name: "", proposed: "NewMaterial%1.zqmat" },
            { tag: "new document with a name", file: "", name: "Clear Resin", proposed: "Clear Resin" },
            { tag: "opened file", file: "full.zqmat", name: "Other", proposed: "full.zqmat" },
            // Regression: the dialog opened in the folder above home and proposed "home/Documents/...".
            { tag: "folder gone: home", file: "", name: "", proposed: "NewMaterial%1.zqmat", folder: "missing-folder/" }
        ]
    }

    function test_saveDialogProposesTheRuleName(data) {
        var folderBefore = MaterialDocumentMediator.documentFileDirectoryPath
        if (data.folder)
            MaterialDocumentMediator.documentFileDirectoryPath = keyOf(tempDir + data.folder)
        data.file ? openFixture(data.file) : newDocument()
        if (data.name !== "")
            typeInto("Name", data.name)
        screenForm.openFileDialog = function (dialog) { dialog.open() }
        screenForm.saveDocument()
        var shown = testSupport.shownFileDialog()
        screenForm.saveDialog.close()
        // The dialog took the keyboard; the form's window gets it back for the tests that type.
        harness.hostWindow.requestActivate()
        tryVerify(function () { return harness.hostWindow.active })
        MaterialDocumentMediator.documentFileDirectoryPath = folderBefore
        compare(shown.name, data.proposed.arg(MaterialDocumentMediator.numberOfNewMaterials))
        if (data.file !== "")
            compare(shown.folder + "/", dataDir)
        if (data.folder)
            compare(shown.folder, MaterialDocumentMediator.localPathFromUrl(
                        Platform.StandardPaths.writableLocation(Platform.StandardPaths.HomeLocation)))
    }

    // The sample the README offers opens under the form's rules, passes validation, shows a
    // value in every field and saves (and so installs) byte for byte as it is. Regression: it
    // named a file with two machines and an out-of-range colour. Run alone by ctest as
    // readme_sample_document.
    function test_readmeSampleDocument() {
        var projectDir = MaterialDocumentMediator.localPathFromUrl(Qt.resolvedUrl("../..")) + "/"
        var named = /build\.sh run (\S+)/.exec(readText(projectDir + "README.md"))
        verify(named !== null, "the README names no sample")
        var sample = projectDir + named[1]
        var text = readText(sample)
        verify(text !== null, sample)
        openFile(sample)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges(), "the form changed the sample")
        MaterialDocumentMediator.validateDocumentFields()
        compare(MaterialDocumentMediator.formValidationErrorMessages, [])
        var form = currentForm()
        ;[form.materialSection, form.qualitySection, form.cycleSection].forEach(function (section) {
            section.fieldItems.forEach(function (item) {
                var input = item.input
                var kind = item.field.kind
                var shown = kind === "color" ? input.hasColor
                          : kind === "thickness" || kind === "yesno" ? input.currentIndex >= 0 : input.text !== ""
                verify(shown, item.field.label + " is not set in the sample")
            })
        })
        compare(MaterialDocumentMediator.document.ToXMLString(), text)
        compare(saveTo(tempPath("sample.zqmat")), text)
    }

    // Regression: labels were plain table strings that the translation tools could not find.
    function test_fieldTextsAreTranslated_data() {
        return [
            { tag: "label", source: "Exposure (mJ)", shown: function (f) { return f.labelText } },
            { tag: "tooltip", source: "Default: 0.1", shown: function (f) { return f.input.toolTipText } }
        ]
    }

    function test_fieldTextsAreTranslated(data) {
        newDocument()
        testSupport.setTranslation("FormFields", data.source, "Übersetzt")
        var translated = data.shown(field("Exposure (mJ)"))
        testSupport.setTranslation("", "", "")
        compare(translated, "Übersetzt")
        compare(data.shown(field("Exposure (mJ)")), data.source)
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

    // Save with errors opens the list instead of the file dialog.
    function test_saveWithValidationErrorsShowsTheDialog() {
        newDocument()
        var dialog = screenForm.formHeader.validationDialog
        screenForm.formHeader.save()
        compare([dialog.opened, dialog.title, openedDialogs], [true, "Please fix these errors.", []])
        verify(MaterialDocumentMediator.formValidationErrorMessages.indexOf("Name is required.") >= 0)
        dialog.close()
    }

    function openClean(distributed) {
        var path = newFile("material.zqmat")
        openFile(path)
        if (distributed) {
            MaterialDocumentMediator.document.distributedFlag = true
            screenForm.saveDialogAccepted(url(path))
        }
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
    }

    // A row's password, group key length and unsaved edit.
    function prepare(data) {
        if (data.password !== undefined)
            DistributionMediator.distributionPassword = data.password
        if (data.keyLength)
            Globals.settingsUser_SetGroupKey(new Array(data.keyLength + 1).join("k"))
        if (data.edit)
            MaterialDocumentMediator.document.description = "not saved yet"
    }

    // Written only with a valid password and group key length and no unsaved changes; the
    // document is left as it was. Regression: failures were only logged.
    function test_distribute_data() {
        var password = "A valid distrbution password must be set in Settings before distributing a material document"
        var rows = [
            { tag: "plain document", distributed: false },
            { tag: "document that carries the flag", distributed: true },
            { tag: "unsaved changes", edit: true, title: "Unsaved changes" },
            { tag: "write fails", target: "no-such-folder/x.zqmatd", title: "Distribution failed.",
              shown: "Failed to write the distributable document to path - " }
        ]
        var invalid = { title: "Invalid distribution password", message: password }
        ;[["8 characters", "Abcdef1!", {}], ["12 characters", "Abcdefgh12#$", {}], ["7 characters", "Abcde1!", invalid],
          ["13 characters", "Abcdefgh123#$", invalid], ["underscore as the symbol", "Abcdef1_", invalid],
          ["line break", "Abc\ndef1!", invalid]
        ].forEach(function (r) { rows.push(Object.assign({ tag: "password, " + r[0], password: r[1] }, r[2])) })
        invalid = { title: "Invalid group key", message: MaterialDocumentMediator.invalidGroupKeyMessage }
        return rows.concat([31, 32, 34, 48, 65, 66].map(function (n) {
            return Object.assign({ tag: "group key length " + n, keyLength: n }, [32, 48, 65].indexOf(n) >= 0 ? {} : invalid)
        }))
    }

    function test_distribute(data) {
        openClean(data.distributed)
        prepare(data)
        var doc = MaterialDocumentMediator.document
        var before = doc.ToXMLString()
        var target = data.target ? tempDir + data.target : tempPath("out.zqmatd")
        var url = MaterialDocumentMediator.urlFromLocalPath(target)
        screenForm.formHeader.distribute()
        if (!data.title || data.target) {
            compare(openedDialogs, [screenForm.distributeDialog])
            var suggested = String(screenForm.distributeDialog.currentFile)
            compare(suggested.substring(suggested.length - 7), ".zqmatd")
            screenForm.distributeDialogAccepted(url)
        } else {
            compare(openedDialogs, [])
        }
        compare(screenForm.messageDialog.opened, data.title !== undefined)
        if (data.title) {
            compare(screenForm.messageDialog.title, data.title)
            if (data.shown)
                compare(screenForm.messageDialog.message.indexOf(data.shown), 0)
            // The mediator refuses on its own too, before writing anything.
            if (!data.target && !data.edit)
                compare(MaterialDocumentMediator.distributeDocument(url), data.message)
            compare(readText(target), null)
            return
        }
        // The text that is encrypted: the document with its flag set.
        var flag = "\n    <DistributedFlag>true</DistributedFlag>"
        compare(before.indexOf(flag) > 0, data.distributed === true)
        var L = unescape(encodeURIComponent(before)).length + (data.distributed ? 0 : flag.length)
        var written = readText(target)
        verify(written !== null)
        compare(written.length, 32 + 2 * (64 + 2 * (L + 12) + 12))
        verify(/^[0-9A-F]+$/.test(written))
        compare(doc.distributedFlag, data.distributed === true)
        compare(doc.ToXMLString(), before)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
    }

    // ---- install on a printer: stand-ins each on a free loopback address ----

    readonly property string printerName: "Bench (north) Printer"
    readonly property string noPrinterText:
        "There is no printer connected. Please connect to a printer on the Settings page of the Home screen."
    property string printerAddress: ""

    function cleanup() {
        NetworkConnectionMediator.disconnectFromPrinter(NetworkConnectionMediator.getPrinterIP(-1))
        testSupport.stopPrinter(printerAddress)
        wait(0) // lets a deferred result dialog open before it is closed
        var header = screenForm.formHeader
        ;["noPrinterDialog", "saveRequiredDialog", "invalidGroupKeyDialog", "installFailedDialog",
          "installSucceededDialog", "validationDialog"].forEach(function (name) { header[name].close() })
    }

    function setRequests() {
        return testSupport.printerLog(printerAddress).filter(function (line) { return line.request === "set" })
    }

    // Refused before sending, or sent once with one result dialog (also from a printer that
    // lists the new material twice). A silent printer has no time-out: Disconnect ends the
    // wait, and a second click meanwhile sends nothing. %1 in a message is the printer's address.
    function test_install_data() {
        var failure = "\n\nThe material could not be installed. "
        return [
            { tag: "no printer, document out of range", file: "outofrange.zqmat", dialog: "noPrinterDialog" },
            { tag: "document out of range", printer: true, file: "outofrange.zqmat", dialog: "validationDialog" },
            { tag: "unsaved changes", printer: true, edit: true, dialog: "saveRequiredDialog" },
            { tag: "group key of 31 characters", printer: true, keyLength: 31, dialog: "invalidGroupKeyDialog" },
            { tag: "accepted", printer: true, mode: "accept", dialog: "installSucceededDialog",
              message: printerName + " (%1) can now print using these material settings." },
            { tag: "denied", printer: true, mode: "deny", dialog: "installFailedDialog",
              message: printerName + " (%1)" + failure + "Please try again." },
            { tag: "old firmware", printer: true, mode: "oldfirmware", dialog: "installFailedDialog",
              message: printerName + " (%1)" + failure + "Printer is too far out of date." },
            { tag: "connection dropped", printer: true, mode: "drop", dialog: "installFailedDialog",
              message: noPrinterText },
            { tag: "silent printer, Disconnect", printer: true, mode: "silent", dialog: "installFailedDialog",
              message: noPrinterText }
        ]
    }

    function test_install(data) {
        var header = screenForm.formHeader
        printerAddress = ""
        if (data.printer) {
            // A stand-in that knows the test's group key; a silent one never gives its name.
            var mode = data.mode || "accept"
            printerAddress = testSupport.launchPrinter(["--mode", mode, "--name", printerName, "--group-key", groupKey32])
            verify(printerAddress !== "")
            verify(NetworkConnectionMediator.connectToPrinter(printerAddress))
            if (mode !== "silent")
                tryVerify(function () { return NetworkConnectionMediator.getPrinterName(-1) === printerName }, 20000)
        }
        data.file ? openFixture(data.file) : openClean(false)
        prepare(data)
        succeededSpy.clear()
        failedSpy.clear()
        header.install()
        if (data.mode) {
            compare(header.installButton.text, "Installing...")
            if (data.mode === "silent") {
                tryVerify(function () { return setRequests().length === 1 }, 20000)
                header.install()
                wait(300)
                compare(header.installButton.text, "Installing...")
                verify(NetworkConnectionMediator.disconnectFromPrinter(printerAddress))
            }
        }
        tryCompare(header[data.dialog], "opened", true, 20000)
        if (data.message)
            compare(header[data.dialog].message, data.message.replace("%1", printerAddress))
        compare(header.installButton.text, "Install")
        if (!data.printer)
            return
        var sets = setRequests()
        compare(sets.length, data.mode ? 1 : 0)
        if (!data.mode)
            return
        compare([sets[0].key, sets[0].material], ["ZqNetValueKey_CustomMaterialXMLString",
                                                  data.mode === "accept" ? "Clear" : sets[0].material])
        header[data.dialog].close()
        header[data.dialog].clickedConfirm()
        wait(300)
        compare(succeededSpy.count + failedSpy.count, 1)
        compare(header.installErrorMessage, "The material could not be installed. Please try again.")
    }

    SignalSpy { id: succeededSpy; target: screenForm.formHeader.installSucceededDialog; signalName: "opened" }
    SignalSpy { id: failedSpy; target: screenForm.formHeader.installFailedDialog; signalName: "opened" }

    // ---- tabs and files ----

    function test_newDocumentsAreNumberedAndNumbersAreNotReused() {
        var first = MaterialDocumentMediator.numberOfNewMaterials
        newDocument()
        newDocument()
        compare(tabKeys(), ["NewMaterial" + (first + 1), "NewMaterial" + (first + 2)])
        compare(tabTitles(), tabKeys())
        tabView.closeTab("NewMaterial" + (first + 1))
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_BB"))
        compare([MaterialDocumentMediator.documentKey, MaterialDocumentMediator.documentFilename,
                 screenForm.formHeader.machineModelName], ["NewMaterial" + (first + 3), "NewMaterial" + (first + 3), "Orvo B"])
    }

    // Save As gives a new document's tab the file key, for names with special characters too;
    // an opened file saved over itself keeps its key. Either is clean and first in the recent list.
    function test_saveAsAndReopen_data() {
        return [
            { tag: "hash", name: "resin#2.zqmat" },
            { tag: "percent", name: "50%25 grey.zqmat" },
            { tag: "non-ASCII", name: "Härz µ.zqmat" },
            { tag: "opened file saved over itself", name: "edited.zqmat", opened: true }
        ]
    }

    function test_saveAsAndReopen(data) {
        var path = data.opened ? newFile(data.name) : tempPath(data.name)
        var oldKey = data.opened ? openFile(path) : newDocument()
        MaterialDocumentMediator.document.friendlyName = "Special"
        verify(MaterialDocumentMediator.documentHasUnsavedChanges())
        saveAs(path) // the dialog gives a real URL, percent-encoded
        var key = MaterialDocumentMediator.documentKey
        compare([key, tabKeys(), currentForm().documentKey], ["file:///" + path, [key], key])
        if (!data.opened)
            compare(MaterialDocumentMediator.getDocumentIndexByKey(oldKey), -1)
        compare([MaterialDocumentMediator.documentFilename, MaterialDocumentMediator.documentFileDirectoryPath,
                 MaterialDocumentMediator.documentHasUnsavedChanges()], [fileName(path), "file:///" + tempDir, false])
        compare(readText(path), MaterialDocumentMediator.document.ToXMLString())
        verify(MaterialDocumentMediator.fileExistsForKey(key))
        var recent = MaterialDocumentMediator.recentFiles.get(0)
        compare([recent.path, recent.printerModel], [key, "Orvo A"])
        init()
        // The recent list and the command line give the key text.
        compare(MaterialDocumentMediator.loadDocument(key), true)
        compare([MaterialDocumentMediator.documentKey, MaterialDocumentMediator.document.friendlyName, tabTitles()],
                [key, "Special", [fileName(path)]])
    }

    // A file already open, named again (also spelled otherwise), selects its tab.
    // Regression: a field kept the keyboard once its form was hidden, so keys typed after
    // switching to another tab, or away from the form, edited the document no longer shown.
    function test_hiddenFormTakesNoKeys_data() {
        return [
            { tag: "another tab", away: function (otherKey) { tabView.switchToTabByKey(otherKey) },
              back: function (key) { tabView.switchToTabByKey(key) } },
            { tag: "another screen", away: function () { screenForm.visible = false },
              back: function () { screenForm.visible = true } }
        ]
    }

    function test_hiddenFormTakesNoKeys(data) {
        var other = openFile(newFile("other.zqmat"))
        var key = openFile(newFile("typed.zqmat"))
        var level = MaterialDocumentMediator.qualityLevel
        var shown = field("Time Multiplier").input
        typeInto("Time Multiplier", "2")
        data.away(other)
        ;[".", "5"].forEach(function (k) { keyClick(k) })
        data.back(key)
        compare([shown.text, level.timeMultiplier], ["2", 2])
    }

    function test_openingAnOpenFileSelectsItsTab_data() {
        return [ { tag: "same key", spelled: false }, { tag: "other spelling", spelled: true } ]
    }

    function test_openingAnOpenFileSelectsItsTab(data) {
        var paths = [newFile("p.zqmat"), newFile("q.zqmat")]
        var keys = paths.map(openFile)
        var again = data.spelled ? tempDir + "./" + paths[0].substring(tempDir.length) : paths[0]
        compare(MaterialDocumentMediator.loadDocument("file:///" + again), true)
        compare([tabKeys(), tabView.tabView.currentIndex, MaterialDocumentMediator.documentKey], [keys, 0, keys[0]])
    }

    function test_closePromptAnswers_data() {
        return [
            { tag: "save", answer: "save", tabClosed: true, fileChanged: true },
            { tag: "close without saving", answer: "discard", tabClosed: true, fileChanged: false },
            { tag: "click outside", answer: "outside", tabClosed: false, fileChanged: false },
            { tag: "save, dialog cancelled", answer: "cancel", tabClosed: false, fileChanged: false },
            { tag: "new document, save", answer: "save", newDocument: true, tabClosed: true, fileChanged: true },
            // Regression: the prompt's save wrote the value before a refused text that a Save had left in its field.
            { tag: "save, refused text in a field", answer: "refused", tabClosed: false, fileChanged: false },
            // Regression: the prompt took the focus, so the field put back the value before the
            // refused text still being typed, and the prompt's save wrote that value.
            { tag: "save, refused text being typed", answer: "refused", typing: true, tabClosed: false,
              fileChanged: false }
        ]
    }

    function test_closePromptAnswers(data) {
        var path = data.newDocument ? tempPath("prompt.zqmat") : newFile("prompt.zqmat")
        var before = readText(path)
        var key = data.newDocument ? newDocument() : openFile(path)
        var doc = MaterialDocumentMediator.document
        if (data.newDocument) {
            // Untouched, it counts as unsaved once its form shows; made valid, the prompt's save goes ahead.
            verify(MaterialDocumentMediator.documentHasUnsavedChanges(key))
            doc.friendlyName = "From prompt"
            doc.friendlyColorRed = doc.friendlyColorGreen = doc.friendlyColorBlue = 1
        }
        if (data.answer === "refused") {
            typeInto("Time Multiplier", "6")
            if (!data.typing) {
                screenForm.formHeader.save()
                screenForm.formHeader.validationDialog.close()
            }
        }
        doc.description = "edited before closing"

        tabView.closeClicked(key)
        verify(screenForm.closePrompt.opened)
        if (data.answer === "save") {
            screenForm.closePrompt.clickedConfirm()
            verify(screenForm.saveBeforeClosingInProgress)
            screenForm.saveDialogAccepted(url(path))
        } else if (data.answer === "refused") {
            screenForm.closePrompt.clickedConfirm()
            compare([screenForm.validationDialog.opened, screenForm.saveBeforeClosingInProgress, openedDialogs],
                    [true, false, []])
            compare(field("Time Multiplier").input.text, "6")
        } else if (data.answer === "discard") {
            screenForm.closePrompt.close()
            screenForm.closePrompt.clickedCancel()
        } else if (data.answer === "cancel") {
            screenForm.closePrompt.clickedConfirm()
            screenForm.saveDialogRejected()
            // A later ordinary save closes nothing.
            verify(!screenForm.saveBeforeClosingInProgress)
        } else {
            screenForm.closePrompt.close()
        }
        compare(tabKeys().length, data.tabClosed ? 0 : 1)
        var after = readText(path)
        compare(after === before ? "unchanged" : after.indexOf("edited before closing") > 0,
                data.fileChanged ? true : "unchanged")
    }

    function test_failedSaveKeepsKeyAndUnsavedStateAndShowsTheError() {
        var path = newFile("kept.zqmat")
        var key = openFile(path)
        var directory = MaterialDocumentMediator.documentFileDirectoryPath
        MaterialDocumentMediator.document.description = "unsaved"
        saveAs(tempDir + "missing-folder/elsewhere.zqmat")
        compare([MaterialDocumentMediator.documentKey, MaterialDocumentMediator.documentFilename,
                 MaterialDocumentMediator.documentFileDirectoryPath], [key, fileName(path), directory])
        compare(tabKeys(), [key])
        verify(MaterialDocumentMediator.documentHasUnsavedChanges())
        compare([screenForm.messageDialog.opened, screenForm.messageDialog.title], [true, "Save failed."])
        // The message names the path tried, not only the reason.
        verify(screenForm.messageDialog.message.indexOf(tempDir + "missing-folder/elsewhere.zqmat") >= 0,
               screenForm.messageDialog.message)
    }

    function test_savingOverAnotherTabsFile_data() {
        return [
            { tag: "other tab clean: it closes", otherDirty: false },
            { tag: "other tab unsaved: refused", otherDirty: true }
        ]
    }

    function test_savingOverAnotherTabsFile(data) {
        var path = newFile("target.zqmat")
        var otherKey = openFile(path)
        if (data.otherDirty)
            MaterialDocumentMediator.document.description = "other tab's work"
        var otherDocument = MaterialDocumentMediator.document
        var before = readText(path)
        newDocument()
        MaterialDocumentMediator.document.friendlyName = "Overwriter"
        saveAs(path)
        if (data.otherDirty) {
            compare([readText(path), tabKeys().length, screenForm.messageDialog.opened], [before, 2, true])
            verify(screenForm.messageDialog.message.indexOf("unsaved changes") > 0)
            verify(MaterialDocumentMediator.documentKey.indexOf("NewMaterial") === 0)
            MaterialDocumentMediator.switchDocument(otherKey)
            compare(MaterialDocumentMediator.document.description, "other tab's work")
        } else {
            compare([tabKeys(), tabTitles()], [[otherKey], [fileName(path)]])
            compare(MaterialDocumentMediator.document.friendlyName, "Overwriter")
            // The replaced document is freed.
            tryVerify(function () { return otherDocument === null || otherDocument === undefined || !otherDocument.ToXMLString })
        }
    }

    function test_structureCheckMessages_data() {
        return [
            { tag: "two machines", file: "twomachines.zqmat",
              message: "Loaded material document is invalid. Multiple machines are not allowed" },
            { tag: "no machine", file: "nomachine.zqmat", message: "Machine needs selected." },
            { tag: "machine without quality level", file: "nolevel.zqmat",
              message: "Failed to find a valid quality level for applying material settings." },
            { tag: "two quality levels", file: "twolevels.zqmat",
              message: "Loaded material document is invalid. Multiple quality levels are not allowed" }
        ]
    }

    function test_structureCheckMessages(data) {
        var keep = newDocument()
        compare(MaterialDocumentMediator.loadDocument(keyOf(dataDir + "structure/" + data.file)), data.message)
        compare([MaterialDocumentMediator.documentKey, tabKeys(), MaterialDocumentMediator.recentFiles.count], [keep, [keep], 0])
    }

    // Newest first, ten at most, stored with the printer's friendly name.
    function test_recentListKeepsTenNewest() {
        var keys = []
        for (var i = 0; i < 12; ++i) {
            keys.push(keyOf(newFile("recent" + i + ".zqmat")))
            MaterialDocumentMediator.addRecentFile("recent" + i + ".zqmat", keys[i], "ORV_2.0_AA", "", "#ffffff")
        }
        var recent = MaterialDocumentMediator.recentFiles
        compare([recent.count, recent.get(0).path, recent.get(9).path], [10, keys[11], keys[2]])
        // One added again moves to the top, once.
        MaterialDocumentMediator.addRecentFile("recent5.zqmat", keys[5], "ORV_2.0_AA", "", "#ffffff")
        compare([recent.count, recent.get(0).path, recent.get(1).path], [10, keys[5], keys[11]])
        // Earlier tests may have left a stored list: wait for this one's.
        tryVerify(function () {
            var stored = JSON.parse(testSupport.storedSetting("Document/datastore") || "[]")
            return stored.length === 10 && stored[0].path === keys[5] && stored[0].printerModel === "Orvo A"
        }, 3000)
    }

    function test_shortNames_data() {
        return [
            { tag: "deeper", paths: ["file:////r/s/x/a.zqmat", "file:////r/t/x/a.zqmat", "file:////q/b.zqmat"],
              names: ["s/x/a.zqmat", "t/x/a.zqmat", "b.zqmat"] },
            { tag: "same path twice ends", paths: ["file:////d/a.zqmat", "file:////d/a.zqmat"],
              names: ["d/a.zqmat", "d/a.zqmat"] },
            { tag: "at the root", paths: ["file:////a.zqmat", "file:////a.zqmat"], names: ["a.zqmat", "a.zqmat"] },
        ]
    }

    function test_shortNames(data) {
        var files = data.paths.map(function (p) { return MaterialDocumentMediator.getShortFilenameObject("", p) })
        var result = MaterialDocumentMediator.makeShortFilenamesUnique(files)
        compare(result.map(function (f) { return f.filename }), data.names)
    }

    function openPaths(names) { return names.map(function (name) { return openFile(newFile(name)) }) }

    // A clean tab closes at once; the right tab and document become current, and the closed
    // tab's document is freed.
    function test_closingATab_data() {
        return [
            { tag: "first of three", files: 3, close: 0, current: 0, expectedCurrent: 0 },
            { tag: "last of three", files: 3, close: 2, current: 2, expectedCurrent: 1 },
            { tag: "middle of three", files: 3, close: 1, current: 1, expectedCurrent: 0 },
            { tag: "in the background", files: 3, close: 2, current: 1, expectedCurrent: 1 },
            { tag: "the only one", files: 1, close: 0, current: 0 }
        ]
    }

    function test_closingATab(data) {
        var holder = Qt.createQmlObject("import QtQuick 2.15; QtObject { property QtObject held }", testCase)
        var keys = ["a.zqmat", "b.zqmat", "c.zqmat"].slice(0, data.files).map(function (name, i) {
            var key = openFile(newFile(name))
            if (i === data.close)
                holder.held = MaterialDocumentMediator.document
            return key
        })
        MaterialDocumentMediator.switchDocument(keys[data.current])
        tabView.switchToTabByKey(keys[data.current])
        var current = MaterialDocumentMediator.document
        screenForm.closeClickedHandler(keys[data.close])
        var remaining = keys.filter(function (k, i) { return i !== data.close })
        var expectedKey = data.files > 1 ? remaining[data.expectedCurrent] : ""
        compare(tabKeys(), remaining)
        compare(MaterialDocumentMediator.documentKey, expectedKey)
        if (expectedKey !== "") {
            compare([tabView.tabView.currentIndex, tabView.fakeTabView.currentIndex], [data.expectedCurrent, data.expectedCurrent])
            compare(currentForm().documentKey, expectedKey)
        }
        if (data.close !== data.current)
            compare(MaterialDocumentMediator.document, current)
        compare([tabView.fakeTabView.count, tabView.fakeTabView.tabWidths.count], [data.files - 1, data.files - 1])
        tryCompare(holder, "held", null)
        holder.destroy()
    }

    function test_titlesAreMadeUnique() {
        compare(MaterialDocumentMediator.loadDocument("file:///" + dataDir + "x/a.zqmat"), true)
        compare(tabTitles(), ["a.zqmat"])
        compare(MaterialDocumentMediator.loadDocument("file:///" + dataDir + "y/a.zqmat"), true)
        compare([tabTitles(), tabView.fakeTabView.titles.get(1).title, tabView.tabView.getTab(0).title],
                [["x/a.zqmat", "y/a.zqmat"], "y/a.zqmat", "x/a.zqmat"])
        tabView.closeTab(tabKeys()[1])
        compare(tabTitles(), ["a.zqmat"])
    }

    // File names are shown as written ("<i>" is not markup). Regression: a width change of the
    // tab view froze every title's width, so a title that grew later was cut short.
    function test_titleWidth_data() {
        return [ { tag: "markup in the name", name: "<i>slanted<i>.zqmat" },
                 { tag: "grown after a width change", name: "a longer name than the new one.zqmat", grown: true } ]
    }

    function test_titleWidth(data) {
        if (data.grown) {
            newDocument()
            harness.width = 1200
            harness.width = 1400
            var path = tempPath(data.name)
            compare(MaterialDocumentMediator.saveDocument(keyOf(path)), keyOf(path))
        } else {
            openPaths([data.name])
        }
        var title = tabView.fakeTabView.titles.get(0).title
        verify(title.indexOf(data.name) >= 0)
        referenceTitle.text = title
        compare(tabView.fakeTabView.tabWidths.get(0).width,
                Math.min(referenceTitle.implicitWidth + 1, 300) + Globals.closeableTabHeight)
    }

    function test_twentyLongTabsScroll() {
        var keys = openPaths(Array.from({ length: 20 }, function (_, i) { return "a rather long material file name number " + i + ".zqmat" }))
        var strip = tabView.fakeTabView
        verify(strip.scrolling && strip.tabNavigation.visible && strip.flickable.interactive)
        // The current tab is brought into view.
        var end = strip.flickable.contentWidth - strip.width
        compare(strip.flickable.contentX, end)
        tabView.switchToTabByKey(keys[0])
        compare(strip.flickable.contentX, 0)
        tabView.switchToTabByKey(keys[10])
        verify(strip.flickable.contentX > 0 && strip.flickable.contentX <= strip.tabOffset(10))

        strip.setContentX(0)
        strip.scrollBy(-1000)
        compare(strip.flickable.contentX, 0)
        strip.scrollBy(1e6) // ends at the last tab
        compare(strip.flickable.contentX, end)
        // Every title is elided to at most 300 px.
        for (var i = 0; i < strip.tabWidths.count; ++i)
            verify(strip.tabWidths.get(i).width <= 300 + 60)

        keys.slice(0, 19).forEach(function (k) { tabView.closeTab(k) })
        verify(!strip.scrolling && !strip.tabNavigation.visible)
        compare(strip.flickable.contentWidth, strip.width)
    }
}
