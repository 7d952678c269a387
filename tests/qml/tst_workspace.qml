import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "Workspace"
    when: windowShown
    width: 1400
    height: 900

    WorkspaceTestHarness {
        id: harness
    }

    property var openedDialogs: []

    // A strip title as it should be measured: the file name's own text, one line.
    Text {
        id: referenceTitle
        visible: false
        font.pointSize: 14
        textFormat: Text.PlainText
    }

    function expectedTabWidth(title) {
        referenceTitle.text = title
        return Math.min(referenceTitle.implicitWidth + 1, 300) + Globals.closeableTabHeight
    }

    readonly property var tabView: harness.screen.closeableTabView

    function init() {
        harness.reset()
        openedDialogs = []
        harness.screen.openFileDialog = function (dialog) { testCase.openedDialogs.push(dialog) }
    }

    function newDocument() {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        return MaterialDocumentMediator.documentKey
    }

    function openFile(path) {
        compare(MaterialDocumentMediator.loadDocument(harness.keyOf(path)), true)
        return MaterialDocumentMediator.documentKey
    }

    // Saves the current document as the save dialog would, answering it with path.
    function saveAs(path) {
        harness.screen.saveDocument()
        compare(openedDialogs[openedDialogs.length - 1], harness.screen.saveDialog)
        harness.screen.saveDialogAccepted(MaterialDocumentMediator.urlFromLocalPath(path))
    }

    function test_newDocumentsAreNumberedAndNumbersAreNotReused() {
        var first = MaterialDocumentMediator.numberOfNewMaterials
        newDocument()
        newDocument()
        compare(harness.tabKeys(), ["NewMaterial" + (first + 1), "NewMaterial" + (first + 2)])
        compare(harness.tabTitles(), harness.tabKeys())
        harness.screen.closeableTabView.closeTab("NewMaterial" + (first + 1))
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_BB"))
        compare(MaterialDocumentMediator.documentKey, "NewMaterial" + (first + 3))
        compare(harness.screen.formHeader.machineModelName, "Orvo B")
        compare(MaterialDocumentMediator.documentFilename, "NewMaterial" + (first + 3))
    }

    function test_openEditSaveTracksUnsavedChangesAndRecentOrder() {
        var other = harness.newFile("other.zqmat")
        var path = harness.newFile("edited.zqmat")
        openFile(other)
        var key = openFile(path)
        compare(MaterialDocumentMediator.recentFiles.get(0).path, key)
        MaterialDocumentMediator.addRecentFile("other.zqmat", harness.keyOf(other), "ORV_2.0_AA", "", "#000000")
        compare(MaterialDocumentMediator.recentFiles.get(0).path, harness.keyOf(other))
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
        MaterialDocumentMediator.document.description = "changed"
        verify(MaterialDocumentMediator.documentHasUnsavedChanges())
        verify(MaterialDocumentMediator.anyDocumentHasUnsavedChanges())

        saveAs(path)
        compare(MaterialDocumentMediator.documentKey, key)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
        compare(harness.readText(path), MaterialDocumentMediator.document.ToXMLString())
        compare(MaterialDocumentMediator.recentFiles.get(0).path, key)
        compare(MaterialDocumentMediator.recentFiles.get(0).printerModel, "Orvo A")
        compare(harness.tabTitles().length, 2)
    }

    // Save As moves a new document's tab to the file key, for names with special characters too.
    function test_saveAsAndReopen_data() {
        return [
            { tag: "hash", name: "resin#2.zqmat" },
            { tag: "percent", name: "50%25 grey.zqmat" },
            { tag: "non-ASCII", name: "Härz µ.zqmat" }
        ]
    }

    function test_saveAsAndReopen(data) {
        var oldKey = newDocument()
        MaterialDocumentMediator.document.friendlyName = "Special"
        var path = harness.tempPath(data.name)
        // The dialog gives a real URL, percent-encoded.
        saveAs(path)
        var key = MaterialDocumentMediator.documentKey
        compare(key, "file:///" + path)
        compare(harness.tabKeys(), [key])
        compare(harness.currentForm().documentKey, key)
        compare(MaterialDocumentMediator.getDocumentIndexByKey(oldKey), -1)
        compare(MaterialDocumentMediator.documentFilename, path.substring(path.lastIndexOf("/") + 1))
        compare(MaterialDocumentMediator.documentFileDirectoryPath, "file:///" + harness.tempDir)
        verify(!MaterialDocumentMediator.documentHasUnsavedChanges())
        verify(harness.readText(path) !== null)
        verify(MaterialDocumentMediator.fileExistsForKey(key))

        harness.reset()
        // The recent list and the command line give the key text.
        compare(MaterialDocumentMediator.loadDocument(key), true)
        compare(MaterialDocumentMediator.documentKey, key)
        compare(MaterialDocumentMediator.document.friendlyName, "Special")
        compare(harness.tabTitles(), [path.substring(path.lastIndexOf("/") + 1)])
    }

    function test_sameFileUnderTwoSpellingsGivesOneTab() {
        var path = harness.newFile("twice.zqmat")
        openFile(path)
        var spelled = harness.tempDir + "./" + path.substring(harness.tempDir.length)
        compare(MaterialDocumentMediator.loadDocument("file:///" + spelled), true)
        compare(harness.tabKeys(), [harness.keyOf(path)])
    }

    function test_closePromptAnswers_data() {
        return [
            { tag: "save", answer: "save", tabClosed: true, fileChanged: true },
            { tag: "close without saving", answer: "discard", tabClosed: true, fileChanged: false },
            { tag: "click outside", answer: "outside", tabClosed: false, fileChanged: false },
            { tag: "save, dialog cancelled", answer: "cancel", tabClosed: false, fileChanged: false },
            { tag: "new document, save", answer: "save", newDocument: true, tabClosed: true, fileChanged: true }
        ]
    }

    function test_closePromptAnswers(data) {
        var path = data.newDocument ? harness.tempPath("prompt.zqmat") : harness.newFile("prompt.zqmat")
        var before = harness.readText(path)
        var key = data.newDocument ? newDocument() : openFile(path)
        var doc = MaterialDocumentMediator.document
        if (data.newDocument) {
            // Untouched, it counts as unsaved once its form shows; made valid, the prompt's save goes ahead.
            verify(MaterialDocumentMediator.documentHasUnsavedChanges(key))
            doc.friendlyName = "From prompt"
            doc.friendlyColorRed = doc.friendlyColorGreen = doc.friendlyColorBlue = 1
        }
        doc.description = "edited before closing"

        harness.screen.closeableTabView.closeClicked(key)
        verify(harness.screen.closePrompt.opened)
        if (data.answer === "save") {
            harness.screen.closePrompt.clickedConfirm()
            verify(harness.screen.saveBeforeClosingInProgress)
            harness.screen.saveDialogAccepted(MaterialDocumentMediator.urlFromLocalPath(path))
        } else if (data.answer === "discard") {
            harness.screen.closePrompt.close()
            harness.screen.closePrompt.clickedCancel()
        } else if (data.answer === "cancel") {
            harness.screen.closePrompt.clickedConfirm()
            harness.screen.saveDialogRejected()
            // A later ordinary save closes nothing.
            verify(!harness.screen.saveBeforeClosingInProgress)
        } else {
            harness.screen.closePrompt.close()
        }
        compare(harness.tabKeys().length, data.tabClosed ? 0 : 1)
        var after = harness.readText(path)
        compare(after !== before, data.fileChanged)
        if (data.fileChanged)
            verify(after.indexOf("edited before closing") > 0)
    }

    function test_failedSaveKeepsKeyAndUnsavedStateAndShowsTheError() {
        var path = harness.newFile("kept.zqmat")
        var key = openFile(path)
        var directory = MaterialDocumentMediator.documentFileDirectoryPath
        MaterialDocumentMediator.document.description = "unsaved"
        saveAs(harness.tempDir + "missing-folder/elsewhere.zqmat")
        compare(MaterialDocumentMediator.documentKey, key)
        compare(MaterialDocumentMediator.documentFilename, path.substring(path.lastIndexOf("/") + 1))
        compare(MaterialDocumentMediator.documentFileDirectoryPath, directory)
        compare(harness.tabKeys(), [key])
        verify(MaterialDocumentMediator.documentHasUnsavedChanges())
        verify(harness.screen.messageDialog.opened)
        compare(harness.screen.messageDialog.title, "Save failed.")
        verify(harness.screen.messageDialog.message.length > 0)
    }

    function test_savingOverAnotherTabsFile_data() {
        return [
            { tag: "other tab clean: it closes", otherDirty: false },
            { tag: "other tab unsaved: refused", otherDirty: true }
        ]
    }

    function test_savingOverAnotherTabsFile(data) {
        var path = harness.newFile("target.zqmat")
        var otherKey = openFile(path)
        if (data.otherDirty)
            MaterialDocumentMediator.document.description = "other tab's work"
        var otherDocument = MaterialDocumentMediator.document
        var before = harness.readText(path)
        newDocument()
        MaterialDocumentMediator.document.friendlyName = "Overwriter"
        saveAs(path)
        if (data.otherDirty) {
            compare(harness.readText(path), before)
            compare(harness.tabKeys().length, 2)
            verify(harness.screen.messageDialog.opened)
            verify(harness.screen.messageDialog.message.indexOf("unsaved changes") > 0)
            verify(MaterialDocumentMediator.documentKey.indexOf("NewMaterial") === 0)
            MaterialDocumentMediator.switchDocument(otherKey)
            compare(MaterialDocumentMediator.document.description, "other tab's work")
        } else {
            compare(harness.tabKeys(), [otherKey])
            compare(harness.tabTitles(), [path.substring(path.lastIndexOf("/") + 1)])
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
        compare(MaterialDocumentMediator.loadDocument(harness.keyOf(harness.dataDir + "structure/" + data.file)), data.message)
        compare(MaterialDocumentMediator.documentKey, keep)
        compare(harness.tabKeys(), [keep])
        compare(MaterialDocumentMediator.recentFiles.count, 0)
    }

    // Newest first, ten at most, stored with the printer's friendly name.
    function test_recentListKeepsTenNewest() {
        var keys = []
        for (var i = 0; i < 12; ++i) {
            keys.push(harness.keyOf(harness.newFile("recent" + i + ".zqmat")))
            MaterialDocumentMediator.addRecentFile("recent" + i + ".zqmat", keys[i], "ORV_2.0_AA", "", "#ffffff")
        }
        compare(MaterialDocumentMediator.recentFiles.count, 10)
        compare(MaterialDocumentMediator.recentFiles.get(0).path, keys[11])
        compare(MaterialDocumentMediator.recentFiles.get(9).path, keys[2])
        // Earlier tests may have left a stored list: wait for this one's.
        tryVerify(function () {
            var stored = JSON.parse(testSupport.storedSetting("Document/datastore") || "[]")
            return stored.length === 10 && stored[0].path === keys[11] && stored[0].printerModel === "Orvo A"
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

    function test_closingACleanBackgroundTabKeepsTheCurrentDocument() {
        var first = openFile(harness.newFile("one.zqmat"))
        var second = openFile(harness.newFile("two.zqmat"))
        var third = openFile(harness.newFile("three.zqmat"))
        MaterialDocumentMediator.switchDocument(second)
        harness.screen.closeableTabView.switchToTabByKey(second)
        var current = MaterialDocumentMediator.document
        harness.screen.closeClickedHandler(third)
        compare(harness.tabKeys(), [first, second])
        compare(MaterialDocumentMediator.documentKey, second)
        compare(MaterialDocumentMediator.document, current)
        compare(harness.screen.closeableTabView.tabView.currentIndex, 1)
        compare(harness.currentForm().documentKey, second)
    }

    function test_documentsOfClosedTabsAreFreed() {
        var key = newDocument()
        var holder = Qt.createQmlObject("import QtQuick 2.15; QtObject { property QtObject held }", testCase)
        holder.held = MaterialDocumentMediator.document
        harness.screen.closeableTabView.closeTab(key)
        tryCompare(holder, "held", null)
        holder.destroy()
    }

    function openPaths(names) {
        var keys = []
        names.forEach(function (name) {
            compare(MaterialDocumentMediator.loadDocument(harness.keyOf(harness.newFile(name))), true)
            keys.push(MaterialDocumentMediator.documentKey)
        })
        return keys
    }

    function test_closingATab_data() {
        return [
            { tag: "first of three", close: 0, current: 0, expectedCurrent: 0 },
            { tag: "last of three", close: 2, current: 2, expectedCurrent: 1 },
            { tag: "middle of three", close: 1, current: 1, expectedCurrent: 0 }
        ]
    }

    function test_closingATab(data) {
        var keys = openPaths(["a.zqmat", "b.zqmat", "c.zqmat"])
        tabView.switchToTabByKey(keys[data.current])
        tabView.closeTab(keys[data.close])
        var remaining = keys.filter(function (k, i) { return i !== data.close })
        compare(harness.tabKeys(), remaining)
        compare([tabView.tabView.currentIndex, tabView.fakeTabView.currentIndex], [data.expectedCurrent, data.expectedCurrent])
        compare(MaterialDocumentMediator.documentKey, remaining[data.expectedCurrent])
        compare(harness.currentForm().documentKey, remaining[data.expectedCurrent])
        compare([tabView.fakeTabView.count, tabView.fakeTabView.tabWidths.count], [2, 2])
    }

    function test_closingTheOnlyTab() {
        var keys = openPaths(["only.zqmat"])
        tabView.closeTab(keys[0])
        compare(tabView.getTabCount(), 0)
        compare(tabView.fakeTabView.count, 0)
        compare(MaterialDocumentMediator.documentKey, "")
    }

    function test_insertingAnOpenKeySelectsItsTab() {
        var keys = openPaths(["p.zqmat", "q.zqmat"])
        compare(MaterialDocumentMediator.loadDocument(keys[0]), true)
        compare(harness.tabKeys(), keys)
        compare(tabView.tabView.currentIndex, 0)
        compare(MaterialDocumentMediator.documentKey, keys[0])
    }

    function test_titlesAreMadeUnique() {
        compare(MaterialDocumentMediator.loadDocument("file:///" + harness.dataDir + "x/a.zqmat"), true)
        compare(harness.tabTitles(), ["a.zqmat"])
        compare(MaterialDocumentMediator.loadDocument("file:///" + harness.dataDir + "y/a.zqmat"), true)
        compare(harness.tabTitles(), ["x/a.zqmat", "y/a.zqmat"])
        compare(tabView.fakeTabView.titles.get(1).title, "y/a.zqmat")
        compare(tabView.tabView.getTab(0).title, "x/a.zqmat")
        tabView.closeTab(harness.tabKeys()[1])
        compare(harness.tabTitles(), ["a.zqmat"])
    }

    // Regression: a width change of the tab view froze every title's width, so a
    // title that grew later (a save under a longer name) was cut short.
    function test_titleGrownAfterWidthChangeKeepsItsWidth() {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        harness.width = 1200
        harness.width = 1400
        var path = harness.tempPath("a longer name than the new one.zqmat")
        compare(MaterialDocumentMediator.saveDocument(harness.keyOf(path)), harness.keyOf(path))
        var title = tabView.fakeTabView.titles.get(0).title
        compare(tabView.fakeTabView.tabWidths.get(0).width, expectedTabWidth(title))
    }

    // File names are shown as written: "<i>" in a name is not markup.
    function test_titleIsPlainText() {
        var keys = openPaths(["<i>slanted<i>.zqmat"])
        var title = tabView.fakeTabView.titles.get(0).title
        verify(title.indexOf("<i>") >= 0)
        compare(tabView.fakeTabView.tabWidths.get(0).width, expectedTabWidth(title))
    }

    function test_twentyLongTabsScroll() {
        var names = []
        for (var i = 0; i < 20; ++i)
            names.push("a rather long material file name number " + i + ".zqmat")
        var keys = openPaths(names)
        var strip = tabView.fakeTabView
        verify(strip.scrolling && strip.tabNavigation.visible && strip.flickable.interactive)
        compare(strip.flickable.contentWidth, strip.totalTabWidth - 20 + strip.navigationWidth)
        // The last tab opened is current and in view.
        verify(strip.flickable.contentX > 0)

        tabView.switchToTabByKey(keys[0])
        compare(strip.flickable.contentX, 0)
        tabView.switchToTabByKey(keys[10])
        compare(strip.flickable.contentX, Math.min(strip.tabOffset(10), strip.flickable.contentWidth - strip.width))

        strip.setContentX(0)
        strip.scrollBy(-1000)
        compare(strip.flickable.contentX, 0)
        strip.scrollBy(1e6)
        compare(strip.flickable.contentX, strip.flickable.contentWidth - strip.width)

        // Every title is elided to at most 300 px.
        for (i = 0; i < strip.tabWidths.count; ++i)
            verify(strip.tabWidths.get(i).width <= 300 + 60)

        keys.slice(0, 19).forEach(function (k) { tabView.closeTab(k) })
        verify(!strip.scrolling && !strip.tabNavigation.visible)
        compare(strip.flickable.contentWidth, strip.width)
    }
}
