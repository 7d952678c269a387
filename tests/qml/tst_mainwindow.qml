import QtQuick 2.15
import QtTest 1.2
import com.vtr.MaterialDocumentManagementLib 1.0
import "qrc:/"
import "MainWindowHelpers.js" as Helpers

TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    readonly property string savePrompt: "Do you want to save before closing?"
    readonly property string finalizedMessage: "This file is a finalized .zqmatd file and is meant to be installed on a printer. To edit material properties, please open a .zqmat file."
    property var mainComponent: null

    Component { id: documentComponent; PelluxMaterialDocument {} }
    Component { id: machineComponent; Machine {} }
    Component { id: levelComponent; QualityLevel {} }

    function initTestCase() {
        mainComponent = Qt.createComponent("qrc:/main.qml")
        verify(mainComponent.status === Component.Ready, mainComponent.errorString())
    }

    function init() {
        testSupport.removeStoredSetting("ApplicationWindow/x")
        testSupport.removeStoredSetting("ApplicationWindow/y")
        ApplicationWindowMediator.width = 640
        ApplicationWindowMediator.height = 480
    }

    // Documents stay open in the mediator across windows of this engine; start each test clean.
    function cleanup() {
        var keys = MaterialDocumentMediator.openDocumentKeys()
        for (var i = 0; i < keys.length; ++i)
            MaterialDocumentMediator.closeDocument(keys[i])
    }

    // A .zqmat file of one machine and one quality level, named by its friendly name.
    function writeDocument(name) {
        var doc = createTemporaryObject(documentComponent, testCase)
        var machine = machineComponent.createObject(doc)
        var level = levelComponent.createObject(doc)
        machine.modelName = machine.machineModelNameFromString("ORV_2.0_BB")
        machine.qualityLevels = [level]
        doc.machines = [machine]
        doc.friendlyName = name
        var path = testSupport.tempPath() + "/" + name + ".zqmat"
        doc.writeToPath(path)
        verify(!doc.hasError, doc.errorString)
        return path
    }

    // As main passes a command-line path and as open-file events name a file.
    function commandLineUrl(path) { return "file:///" + path }

    function startWindow(openFilePath, beforeStartUp) {
        testSupport.setRootContextProperty("openFilePath", openFilePath === undefined ? "" : openFilePath)
        var window = createTemporaryObject(mainComponent, null)
        verify(window !== null)
        if (beforeStartUp)
            beforeStartUp(window)
        tryCompare(window, "initialLoadDone", true, 10000)
        return window
    }

    function currentName() {
        return MaterialDocumentMediator.document ? MaterialDocumentMediator.document.friendlyName : ""
    }

    function findText(window, text) {
        return Helpers.findVisibleText(window.overlay, text)
    }

    function test_commandLinePathWinsOverEarlierEvent() {
        var a = writeDocument("commandline")
        var b = writeDocument("event")
        var window = startWindow(commandLineUrl(a), function(w) { w.openFile(commandLineUrl(b)) })
        tryCompare(MaterialDocumentMediator, "documentKey", MaterialDocumentMediator.keyFromUrl(commandLineUrl(a)))
        wait(50)
        compare(currentName(), "commandline")
        compare(MaterialDocumentMediator.openDocumentKeys().length, 1)
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameForm))
        compare(window.macInitialLoadFilePath, "")
    }

    // main percent-encodes '%', '#' and '?' in the command-line path; the file must still be found.
    function test_commandLinePathWithSpecialCharactersOpens() {
        var a = writeDocument("odd #1 100% ?")
        var encoded = "file:///" + a.replace(/%/g, "%25").replace(/#/g, "%23").replace(/\?/g, "%3F")
        startWindow(encoded)
        tryCompare(MaterialDocumentMediator, "documentKey", MaterialDocumentMediator.keyFromPath(a))
        compare(currentName(), "odd #1 100% ?")
    }

    function test_lastOfTwoEarlyEventsWins() {
        var a = writeDocument("first")
        var b = writeDocument("second")
        startWindow("", function(w) {
            w.openFile(commandLineUrl(a))
            w.openFile(commandLineUrl(b))
        })
        tryCompare(MaterialDocumentMediator, "documentKey", MaterialDocumentMediator.keyFromUrl(commandLineUrl(b)))
        wait(50)
        compare(MaterialDocumentMediator.openDocumentKeys().length, 1)
        compare(currentName(), "second")
    }

    function test_eventAfterStartUpOpensAtOnce() {
        var a = writeDocument("later")
        var window = startWindow()
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameHome))
        window.openFile(commandLineUrl(a))
        compare(currentName(), "later")
        compare(window.screenStack.screenNameStack, [window.screenStack.screenNameForm])
    }

    function test_openingAnOpenFileSwitchesAndPopsHome() {
        var a = writeDocument("twice")
        var window = startWindow()
        window.openFile(commandLineUrl(a))
        window.screenStack.pushScreen(window.screenStack.screenNameHome)
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameHome))
        window.openFile(commandLineUrl(a))
        compare(MaterialDocumentMediator.openDocumentKeys().length, 1)
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameForm))
    }

    function test_distributableFileShowsFinalizedMessage() {
        var path = testSupport.tempPath() + "/finished.zqmatd"
        verify(testSupport.writeTextFile(path, "0123456789ABCDEF"))
        var window = startWindow()
        window.openFile(commandLineUrl(path))
        tryVerify(function() { return findText(window, finalizedMessage) !== null })
        verify(findText(window, "Open failed.") !== null)
        compare(MaterialDocumentMediator.openDocumentKeys().length, 0)
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameHome))
    }

    function test_unreadableFileShowsItsError() {
        var window = startWindow()
        var path = testSupport.tempPath() + "/missing.zqmat"
        var expected = MaterialDocumentMediator.loadDocument(commandLineUrl(path))
        verify(expected !== true && String(expected) !== "", "the mediator gives a failure text")
        window.openFile(commandLineUrl(path))
        tryVerify(function() { return findText(window, String(expected)) !== null })
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameHome))
    }

    function makeUnsavedDocument(name) {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        MaterialDocumentMediator.document.friendlyName = name
        verify(MaterialDocumentMediator.documentHasUnsavedChanges())
        return MaterialDocumentMediator.documentKey
    }

    function clickText(window, text) {
        var item = findText(window, text)
        verify(item !== null, "no visible \"" + text + "\"")
        mouseClick(item)
    }

    function test_quitStopsAtEachUnsavedDocument() {
        var window = startWindow()
        var first = makeUnsavedDocument("one")
        var second = makeUnsavedDocument("two")
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameHome))

        window.handleQuitApplication()
        // Home is popped so the tab with the prompt shows.
        compare(window.screenStack.screenNameStack, [window.screenStack.screenNameForm])
        tryVerify(function() { return findText(window, savePrompt) !== null })
        compare(MaterialDocumentMediator.documentKey, first)
        compare(window.visible, true)
        compare(window.applicationCanClose, false)

        clickText(window, "Close without saving")
        tryVerify(function() { return findText(window, savePrompt) === null })
        window.handleQuitApplication()
        tryVerify(function() { return findText(window, savePrompt) !== null })
        compare(MaterialDocumentMediator.documentKey, second)
        compare(window.visible, true)

        clickText(window, "Close without saving")
        tryVerify(function() { return findText(window, savePrompt) === null })
        window.handleQuitApplication()
        tryCompare(window, "visible", false)
        compare(window.applicationCanClose, true)
    }

    function test_quitFromHomeWithoutDocumentsCloses() {
        var window = startWindow()
        window.handleQuitApplication()
        compare(window.screenStack.screenNameStack, [window.screenStack.screenNameForm])
        tryCompare(window, "visible", false)
    }

    function test_forcedCloseDiscardsUnsavedChanges() {
        var window = startWindow()
        makeUnsavedDocument("discarded")
        ApplicationWindowMediator.closeApplication(true)
        tryCompare(window, "visible", false)
        compare(findText(window, savePrompt), null)
    }

    function test_unforcedCloseRequestAsksFirst() {
        var window = startWindow()
        makeUnsavedDocument("kept")
        ApplicationWindowMediator.closeApplication(false)
        tryVerify(function() { return findText(window, savePrompt) !== null })
        compare(window.visible, true)
    }

    function test_storedPositionIsBroughtOnScreen_data() {
        var screen = Qt.application.screens[0]
        var w = 640
        return [
            { tag: "on screen", x: 40, y: 30, ex: 40, ey: 30 },
            { tag: "below the screen", x: 40, y: screen.height + 1, ex: 40, ey: screen.height / 2 },
            { tag: "far below", x: 40, y: 100000, ex: 40, ey: screen.height / 2 },
            { tag: "right of the screen", x: screen.width + 10, y: 30, ex: screen.width - w, ey: 30 },
            { tag: "far right", x: 100000, y: 30, ex: screen.width - w, ey: 30 },
            { tag: "left of the screen", x: -w - 1, y: 30, ex: 0, ey: 30 },
            { tag: "far left", x: -100000, y: 30, ex: 0, ey: 30 },
            { tag: "above the screen", x: 40, y: -5000, ex: 40, ey: 0 },
            { tag: "partly right, still reachable", x: screen.width - 100, y: 30, ex: screen.width - 100, ey: 30 }
        ]
    }

    function test_storedPositionIsBroughtOnScreen(data) {
        testSupport.setStoredSetting("ApplicationWindow/x", data.x)
        testSupport.setStoredSetting("ApplicationWindow/y", data.y)
        var window = startWindow()
        // The offscreen platform keeps a 2 px frame inside the screen.
        fuzzyCompare(window.x, data.ex, 2)
        fuzzyCompare(window.y, data.ey, 2)
    }

    function test_minimumSizeFollowsFirstWidthChange() {
        var screen = Qt.application.screens[0]
        var window = startWindow()
        verify(window.firstResize)
        verify(ApplicationWindowMediator.canSetMinimumSize)
        compare(window.minimumWidth, Math.min(1000, screen.width))
        compare(window.minimumHeight, Math.min(600, screen.height))
    }

    function test_sizeChangesReachTheMediator() {
        var screen = Qt.application.screens[0]
        var window = startWindow()
        window.width = screen.width
        window.height = screen.height - 1
        // The platform reports the new geometry through the event loop.
        tryCompare(ApplicationWindowMediator, "width", screen.width)
        tryCompare(ApplicationWindowMediator, "height", screen.height - 1)
    }
}
