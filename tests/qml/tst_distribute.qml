import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "Distribute"
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
            { tag: "no digit", password: "Abcdefg!", valid: false },
            { tag: "no lower case", password: "ABCDEF1!", valid: false },
            { tag: "no capital", password: "abcdef1!", valid: false },
            { tag: "no symbol", password: "Abcdefg1", valid: false },
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
        ;[0, 16, 31, 32, 33, 34, 47, 48, 49, 50, 63, 64, 65, 66].forEach(function (n) {
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
}
