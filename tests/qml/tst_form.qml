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

    readonly property string validPassword: "Secr3t!pw"
    readonly property string groupKey32: "0123456789abcdef0123456789ABCDEF"
    property var openedDialogs: []

    function init() {
        harness.reset()
        openedDialogs = []
        harness.screen.openFileDialog = function (dialog) { testCase.openedDialogs.push(dialog) }
        DistributionMediator.distributionPassword = validPassword
        Globals.settingsUser_SetGroupKey(groupKey32)
    }

    function openFixture(name) {
        return openFixturePath(harness.dataDir + name)
    }

    function openFixturePath(path) {
        compare(MaterialDocumentMediator.loadDocument("file:///" + path), true)
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

    // A key that takes the value out of range is refused; the model follows every accepted key.
    function test_typing_data() {
        return [
            { tag: "in range", label: "Time Multiplier", keys: "2.5", text: "2.5", property: "timeMultiplier", value: 2.5 },
            { tag: "above the top", label: "Time Multiplier", keys: "26", text: "2", property: "timeMultiplier", value: 2 },
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
    function elementText(xml, name) {
        var match = new RegExp("<" + name + ">([^<]*)</" + name + ">").exec(xml)
        return match === null ? null : match[1]
    }

    function finishEditing() {
        harness.screen.forceActiveFocus()
    }

    // Regression: the always-written fields showed nothing while the file got values; text
    // that is no number stayed on screen while the file dropped the field; opening made the
    // document unsaved; a New document saved its level under a fallback name.
    function test_savedFileHoldsWhatTheFieldsShow_data() {
        return [
            { tag: "new document", open: false },
            { tag: "opened document", open: true }
        ]
    }

    function test_savedFileHoldsWhatTheFieldsShow(data) {
        if (data.open)
            openFixture("full.zqmat")
        else
            verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        typeInto("Name", "Resin")
        typeInto("Time Multiplier", "2.5")
        typeInto("XY Bleed (mm)", "1,5")
        finishEditing()
        typeInto("Z Bleed Depth (mm)", ".")
        finishEditing()
        typeInto("Release Min (ms)", "1,000")
        finishEditing()
        typeInto("Kick (ms)", "-")
        finishEditing()
        clearField("Over Exposure Factor")
        finishEditing()
        var path = harness.tempPath("roundtrip.zqmat")
        var xml = saveTo(path)
        compare(elementText(xml, "FriendlyName"), field("Name").input.text)
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
        compare(field("XY Bleed (mm)").input.text, "1")
        if (!data.open) {
            compare(field("Overhang Factor").input.text, "80")
            verify(xml.indexOf('<Quality Name="30" Thickness_um="30">') >= 0, xml)
        }
        // The saved file, opened again, is clean until it is edited.
        harness.reset()
        openFixturePath(path)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges(), "opening made the document unsaved")
        typeInto("Time Multiplier", "3")
        verify(MaterialDocumentMediator.documentHasUnsavedChanges())
    }

    // Regression: with Help open at 1280 x 720, and in a small window, fields lay outside the
    // tab and labels were cut ("Release Raise Min (mm").
    function test_everyFieldAndLabelFitsTheTab_data() {
        return [
            { tag: "1280 wide with Help open", width: 876 },
            { tag: "smallest window", width: 1100 },
            { tag: "wide window", width: 1600 }
        ]
    }

    function test_everyFieldAndLabelFitsTheTab(data) {
        harness.width = data.width
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        var form = harness.currentForm()
        var problems = function () {
            var found = []
            ;[form.materialSection, form.qualitySection, form.cycleSection].forEach(function (section) {
                section.fieldItems.forEach(function (item) {
                    if (item.mapToItem(form, item.width, 0).x > form.width)
                        found.push(item.field.label + " lies outside the tab")
                    if (item.labelImplicitWidth > item.width)
                        found.push(item.field.label + " is cut")
                })
            })
            return found
        }
        // The grids lay out on the next frame.
        tryVerify(function () { return problems().length === 0 }, 1000)
        compare(problems(), [])
        harness.width = 1400
    }

    // Regression: the platform dialog, made at its first opening, proposed an empty name.
    function test_saveDialogProposesTheRuleName_data() {
        return [
            { tag: "new document", file: "", name: "", proposed: "NewMaterial%1.zqmat" },
            { tag: "new document with a name", file: "", name: "Clear Resin", proposed: "Clear Resin" },
            { tag: "opened file", file: "full.zqmat", name: "Other", proposed: "full.zqmat" }
        ]
    }

    function test_saveDialogProposesTheRuleName(data) {
        if (data.file !== "")
            openFixture(data.file)
        else
            verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        if (data.name !== "")
            typeInto("Name", data.name)
        harness.screen.openFileDialog = function (dialog) { dialog.open() }
        harness.screen.saveDocument()
        var shown = testSupport.shownFileDialog()
        harness.screen.saveDialog.close()
        // The dialog took the keyboard; the form's window gets it back for the tests that type.
        harness.hostWindow.requestActivate()
        tryVerify(function () { return harness.hostWindow.active })
        compare(shown.name, data.proposed.arg(MaterialDocumentMediator.numberOfNewMaterials))
        if (data.file !== "")
            compare(shown.folder + "/", harness.dataDir)
    }

    // Regression: labels were plain table strings that the translation tools could not find.
    function test_fieldTextsAreTranslated_data() {
        return [
            { tag: "label", source: "Exposure (mJ)", shown: function (f) { return f.labelText } },
            { tag: "tooltip", source: "Default: 0.1", shown: function (f) { return f.input.toolTipText } }
        ]
    }

    function test_fieldTextsAreTranslated(data) {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        testSupport.setTranslation("FormFields", data.source, "Übersetzt")
        var translated = data.shown(field("Exposure (mJ)"))
        testSupport.setTranslation("", "", "")
        compare(translated, "Übersetzt")
        compare(data.shown(field("Exposure (mJ)")), data.source)
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

    function openClean(distributed) {
        var path = harness.newFile("material.zqmat")
        compare(MaterialDocumentMediator.loadDocument(harness.keyOf(path)), true)
        if (distributed) {
            MaterialDocumentMediator.document.distributedFlag = true
            harness.screen.saveDialogAccepted(MaterialDocumentMediator.urlFromLocalPath(path))
        }
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
        return path
    }

    function utf8Length(text) {
        return unescape(encodeURIComponent(text)).length
    }

    function test_passwordValidity_data() {
        return [
            { tag: "valid 8", password: "Abcdef1!", valid: true },
            { tag: "valid 12", password: "Abcdefgh12#$", valid: true },
            { tag: "7 characters", password: "Abcde1!", valid: false },
            { tag: "13 characters", password: "Abcdefgh123#$", valid: false },
            { tag: "underscore as the symbol", password: "Abcdef1_", valid: false },
            { tag: "line break", password: "Abc\ndef1!", valid: false }
        ]
    }

    function test_passwordValidity(data) {
        DistributionMediator.distributionPassword = data.password
        compare(DistributionMediator.distributionPasswordValid, data.valid)
    }

    function test_distributedFileLengthAndCleanDocument_data() {
        return [
            { tag: "plain document", distributed: false },
            { tag: "document that carries the flag", distributed: true }
        ]
    }

    function test_distributedFileLengthAndCleanDocument(data) {
        openClean(data.distributed)
        var doc = MaterialDocumentMediator.document
        var before = doc.ToXMLString()
        // The text that is encrypted: the document with its flag set.
        var flag = "\n    <DistributedFlag>true</DistributedFlag>"
        compare(before.indexOf(flag) > 0, data.distributed)
        var L = utf8Length(before) + (data.distributed ? 0 : flag.length)

        harness.screen.formHeader.distribute()
        compare(openedDialogs, [harness.screen.distributeDialog])
        var suggested = String(harness.screen.distributeDialog.currentFile)
        compare(suggested.substring(suggested.length - 7), ".zqmatd")

        var target = harness.tempPath("out.zqmatd")
        harness.screen.distributeDialogAccepted(MaterialDocumentMediator.urlFromLocalPath(target))
        verify(!harness.screen.messageDialog.opened)
        var written = harness.readText(target)
        verify(written !== null)
        compare(written.length, 32 + 2 * (64 + 2 * (L + 12) + 12))
        verify(/^[0-9A-F]+$/.test(written))

        compare(doc.distributedFlag, data.distributed)
        compare(doc.ToXMLString(), before)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
    }

    // Regression: distribute failures were only logged.
    function test_failuresAreShown_data() {
        return [
            { tag: "unsaved changes", edit: true, title: "Unsaved changes" },
            { tag: "invalid password", password: "short", title: "Invalid distribution password" },
            { tag: "empty group key", groupKey: "", title: "Invalid group key" },
            { tag: "write fails", target: "no-such-folder/x.zqmatd", title: "Distribution failed.",
              message: "Failed to write the distributable document to path - " }
        ]
    }

    function test_failuresAreShown(data) {
        openClean(false)
        if (data.password !== undefined)
            DistributionMediator.distributionPassword = data.password
        if (data.groupKey !== undefined)
            Globals.settingsUser_SetGroupKey(data.groupKey)
        if (data.edit)
            MaterialDocumentMediator.document.description = "not saved yet"
        if (data.target) {
            harness.screen.distributeDialogAccepted(MaterialDocumentMediator.urlFromLocalPath(harness.tempDir + data.target))
        } else {
            harness.screen.formHeader.distribute()
            compare(openedDialogs, [])
        }
        verify(harness.screen.messageDialog.opened)
        compare(harness.screen.messageDialog.title, data.title)
        if (data.message)
            compare(harness.screen.messageDialog.message.indexOf(data.message), 0)
    }

    // Nothing is written unless the group key's length and the password are valid.
    function test_mediatorRefusesBeforeWriting_data() {
        var rows = [ { tag: "invalid password", length: 32, password: "nope",
                       message: "A valid distrbution password must be set in Settings before distributing a material document" } ]
        ;[31, 32, 34, 48, 65, 66].forEach(function (n) {
            var valid = [32, 33, 48, 49, 64, 65].indexOf(n) >= 0
            rows.push({ tag: "group key length " + n, length: n, message: valid ? "" : "group key" })
        })
        return rows
    }

    function test_mediatorRefusesBeforeWriting(data) {
        openClean(false)
        if (data.password)
            DistributionMediator.distributionPassword = data.password
        Globals.settingsUser_SetGroupKey(new Array(data.length + 1).join("k"))
        var target = harness.tempPath("key.zqmatd")
        var result = MaterialDocumentMediator.distributeDocument(MaterialDocumentMediator.urlFromLocalPath(target))
        if (data.message === "") {
            compare(result, true)
            verify(harness.readText(target) !== null)
        } else {
            compare(result, data.message === "group key" ? MaterialDocumentMediator.invalidGroupKeyMessage : data.message)
            compare(harness.readText(target), null)
        }
    }

    // ---- install on a printer: stand-ins on 127.0.0.80 to 127.0.0.89 ----

    readonly property string printerName: "Bench (north) Printer"
    readonly property string noPrinterText:
        "There is no printer connected. Please connect to a printer on the Settings page of the Home screen."
    property string printerAddress: ""

    function cleanup() {
        NetworkConnectionMediator.disconnectFromPrinter(NetworkConnectionMediator.getPrinterIP(-1))
        testSupport.stopPrinter(printerAddress)
        wait(0) // lets a deferred result dialog open before it is closed
        var header = harness.screen.formHeader
        ;["noPrinterDialog", "saveRequiredDialog", "invalidGroupKeyDialog", "installFailedDialog",
          "installSucceededDialog", "validationDialog"].forEach(function (name) { header[name].close() })
    }

    // Connected to a stand-in that knows the test's group key; a silent one never gives its name.
    function connectPrinter(address, mode) {
        verify(testSupport.startPrinter(address, ["--mode", mode, "--name", printerName, "--group-key", groupKey32]))
        printerAddress = address
        verify(NetworkConnectionMediator.connectToPrinter(address))
        if (mode !== "silent")
            tryVerify(function () { return NetworkConnectionMediator.getPrinterName(-1) === printerName }, 5000)
    }

    function setRequests() {
        return testSupport.printerLog(printerAddress).filter(function (line) { return line.request === "set" })
    }

    function test_installRefusedBeforeSending_data() {
        var rows = [
            { tag: "no printer, document out of range", file: "outofrange.zqmat", dialog: "noPrinterDialog" },
            { tag: "document out of range", address: "127.0.0.80", file: "outofrange.zqmat",
              dialog: "validationDialog" },
            { tag: "unsaved changes", address: "127.0.0.81", edit: true, dialog: "saveRequiredDialog" }
        ]
        rows.push({ tag: "group key of 31 characters", address: "127.0.0.82", groupKeyLength: 31,
                    dialog: "invalidGroupKeyDialog" })
        return rows
    }

    function test_installRefusedBeforeSending(data) {
        var header = harness.screen.formHeader
        if (data.address)
            connectPrinter(data.address, "accept")
        if (data.file)
            openFixture(data.file)
        else
            openClean(false)
        if (data.edit)
            MaterialDocumentMediator.document.description = "not saved yet"
        if (data.groupKeyLength !== undefined)
            Globals.settingsUser_SetGroupKey(new Array(data.groupKeyLength + 1).join("k"))
        header.install()
        tryCompare(header[data.dialog], "opened", true)
        compare(header.installButton.text, "Install")
        if (data.address)
            compare(setRequests(), [])
    }

    function test_installOutcome_data() {
        var failure = "\n\nThe material could not be installed. "
        return [
            { tag: "accepted", address: "127.0.0.87", mode: "accept", dialog: "installSucceededDialog",
              message: printerName + " (127.0.0.87) can now print using these material settings." },
            { tag: "denied", address: "127.0.0.88", mode: "deny", dialog: "installFailedDialog",
              message: printerName + " (127.0.0.88)" + failure + "Please try again." },
            { tag: "old firmware", address: "127.0.0.89", mode: "oldfirmware", dialog: "installFailedDialog",
              message: printerName + " (127.0.0.89)" + failure + "Printer is too far out of date." },
            { tag: "connection dropped", address: "127.0.0.86", mode: "drop", dialog: "installFailedDialog",
              message: noPrinterText }
        ]
    }

    // A printer that lists the new material twice still opens one dialog.
    function test_installOutcome(data) {
        var header = harness.screen.formHeader
        connectPrinter(data.address, data.mode)
        openClean(false)
        succeededSpy.clear()
        failedSpy.clear()
        header.install()
        compare(header.installButton.text, "Installing...")
        tryCompare(header[data.dialog], "opened", true, 5000)
        compare(header[data.dialog].message, data.message)
        compare(header.installButton.text, "Install")
        var sets = setRequests()
        compare(sets.length, 1)
        compare(sets[0].key, "ZqNetValueKey_CustomMaterialXMLString")
        if (data.mode === "accept") // the printer decrypted it with the group key
            compare(sets[0].material, "Clear")
        header[data.dialog].close()
        header[data.dialog].clickedConfirm()
        wait(300)
        compare(succeededSpy.count + failedSpy.count, 1)
        compare(header.installErrorMessage, "The material could not be installed. Please try again.")
    }

    // No time-out: Disconnect ends the wait, a second click meanwhile sends nothing.
    function test_silentPrinterEndsWithDisconnect() {
        var header = harness.screen.formHeader
        connectPrinter("127.0.0.85", "silent")
        openClean(false)
        header.install()
        tryVerify(function () { return setRequests().length === 1 }, 5000)
        header.install()
        wait(300)
        compare(setRequests().length, 1)
        compare(header.installButton.text, "Installing...")
        verify(NetworkConnectionMediator.disconnectFromPrinter(NetworkConnectionMediator.getPrinterIP(-1)))
        tryCompare(header.installFailedDialog, "opened", true, 5000)
        compare(header.installFailedDialog.message, noPrinterText)
        compare(header.installButton.text, "Install")
    }

    SignalSpy { id: succeededSpy; target: harness.screen.formHeader.installSucceededDialog; signalName: "opened" }
    SignalSpy { id: failedSpy; target: harness.screen.formHeader.installFailedDialog; signalName: "opened" }
}
