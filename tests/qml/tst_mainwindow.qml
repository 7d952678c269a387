import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    readonly property string savePrompt: "Do you want to save before closing?"
    property var mainComponent: null

    function initTestCase() {
        mainComponent = Qt.createComponent("qrc:/main.qml")
        verify(mainComponent.status === Component.Ready, mainComponent.errorString())
    }

    function init() {
        ;["x", "y", "width", "height"].forEach(function (key) { testSupport.setStoredSetting("ApplicationWindow/" + key, undefined) })
        ApplicationWindowMediator.width = 640
        ApplicationWindowMediator.height = 480
    }

    // Documents stay open in the mediator across windows of this engine; start each test clean.
    function cleanup() {
        MaterialDocumentMediator.openDocumentKeys().forEach(function (key) { MaterialDocumentMediator.closeDocument(key) })
    }

    // A material file named by its friendly name, written through the workspace.
    function writeDocument(name) {
        var path = testSupport.tempPath() + "/" + name + ".zqmat"
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_BB"))
        MaterialDocumentMediator.document.friendlyName = name
        var key = MaterialDocumentMediator.saveDocument(MaterialDocumentMediator.keyFromPath(path))
        compare(key, MaterialDocumentMediator.keyFromPath(path))
        MaterialDocumentMediator.closeDocument(key)
        return path
    }

    // As main passes a command-line path and as open-file events name a file.
    function commandLineUrl(path) { return "file:///" + path }

    function startWindow(openFilePath, beforeStartUp) {
        testSupport.setRootContextProperty("openFilePath", openFilePath === undefined ? "" : openFilePath)
        var window = createTemporaryObject(mainComponent, null)
        if (beforeStartUp)
            beforeStartUp(window)
        tryCompare(window, "initialLoadDone", true, 10000)
        return window
    }

    function currentName() { return MaterialDocumentMediator.document ? MaterialDocumentMediator.document.friendlyName : "" }

    // The first visible item under item (depth first) whose text is exactly text.
    function findVisibleText(item, text) {
        if (!item || !item.visible || item.text === text)
            return item && item.visible ? item : null
        for (var i = 0, found = null; i < item.children.length && !found; ++i)
            found = findVisibleText(item.children[i], text)
        return found
    }

    function waitForText(window, text) {
        tryVerify(function() { return findVisibleText(window.overlay, text) !== null }, 5000, text)
    }

    // An open-file request that arrives during start-up waits for it and opens one document.
    function test_deferredOpen_data() {
        return [
            { tag: "command line wins over an earlier event", commandLine: "commandline", events: ["event"],
              expected: "commandline" },
            { tag: "last of two early events wins", commandLine: "", events: ["first", "second"], expected: "second" },
            { tag: "command line with '%', '#' and '?'", commandLine: "odd #1 100% ?", events: [], expected: "odd #1 100% ?" }
        ]
    }

    function test_deferredOpen(data) {
        // main percent-encodes '%', '#' and '?' in the command-line path; the file must still be found.
        var commandLine = data.commandLine ? commandLineUrl(writeDocument(data.commandLine))
                                             .replace(/%/g, "%25").replace(/#/g, "%23").replace(/\?/g, "%3F") : ""
        var events = data.events.map(function (name) { return commandLineUrl(writeDocument(name)) })
        var window = startWindow(commandLine, function(w) { events.forEach(function (url) { w.openFile(url) }) })
        tryVerify(function() { return currentName() === data.expected })
        wait(50)
        compare(currentName(), data.expected)
        compare(MaterialDocumentMediator.openDocumentKeys().length, 1)
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameForm))
        compare(window.macInitialLoadFilePath, "")
    }

    // After start-up a request opens at once; the same file again only switches to it and pops Home.
    function test_openAfterStartUp() {
        var url = commandLineUrl(writeDocument("later"))
        var window = startWindow()
        var stack = window.screenStack
        verify(stack.isCurrentScreen(stack.screenNameHome))
        window.openFile(url)
        compare(currentName(), "later")
        compare(stack.screenNameStack, [stack.screenNameForm])
        stack.pushScreen(stack.screenNameHome)
        window.openFile(url)
        compare(MaterialDocumentMediator.openDocumentKeys().length, 1)
        verify(stack.isCurrentScreen(stack.screenNameForm))
    }

    function test_failedOpenShowsItsMessage_data() {
        return [
            { tag: "distributable file", file: "finished.zqmatd", title: "Open failed.",
              message: "This file is a finalized .zqmatd file and is meant to be installed on a printer. To edit material properties, please open a .zqmat file." },
            { tag: "missing file", file: "missing.zqmat", title: "Open failed." }
        ]
    }

    function test_failedOpenShowsItsMessage(data) {
        var path = testSupport.tempPath() + "/" + data.file
        if (data.message)
            verify(testSupport.writeTextFile(path, "0123456789ABCDEF"))
        var message = data.message || MaterialDocumentMediator.loadDocument(commandLineUrl(path))
        verify(typeof message === "string" && message !== "", "the mediator gives a failure text")
        var window = startWindow()
        window.openFile(commandLineUrl(path))
        waitForText(window, message)
        waitForText(window, data.title)
        compare(MaterialDocumentMediator.openDocumentKeys().length, 0)
        verify(window.screenStack.isCurrentScreen(window.screenStack.screenNameHome))
    }

    function makeUnsavedDocument(name) {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        MaterialDocumentMediator.document.friendlyName = name
        return MaterialDocumentMediator.documentKey
    }

    function closeWithoutSaving(window) {
        mouseClick(findVisibleText(window.overlay, "Close without saving"))
        tryVerify(function() { return findVisibleText(window.overlay, savePrompt) === null })
    }

    function test_quitStopsAtEachUnsavedDocument() {
        var window = startWindow()
        var keys = [makeUnsavedDocument("one"), makeUnsavedDocument("two")]
        for (var i = 0; i < keys.length; ++i) {
            window.handleQuitApplication()
            // Home is popped so the tab with the prompt shows.
            compare(window.screenStack.screenNameStack, [window.screenStack.screenNameForm])
            waitForText(window, savePrompt)
            compare([MaterialDocumentMediator.documentKey, window.visible, window.applicationCanClose], [keys[i], true, false])
            closeWithoutSaving(window)
        }
        window.handleQuitApplication()
        tryCompare(window, "visible", false)
        compare(window.applicationCanClose, true)
    }

    function test_closeRequest_data() {
        return [ { tag: "forced discards", force: true }, { tag: "unforced asks first", force: false } ]
    }

    function test_closeRequest(data) {
        var window = startWindow()
        makeUnsavedDocument("unsaved")
        ApplicationWindowMediator.closeApplication(data.force)
        if (data.force) {
            tryCompare(window, "visible", false)
            compare(findVisibleText(window.overlay, savePrompt), null)
        } else {
            waitForText(window, savePrompt)
            compare(window.visible, true)
        }
    }

    function test_storedPositionIsBroughtOnScreen_data() {
        var screen = Qt.application.screens[0]
        var w = 640
        return [
            { tag: "below the screen", x: 40, y: screen.height + 1, ex: 40, ey: screen.height / 2 },
            { tag: "right of the screen", x: screen.width + 10, y: 30, ex: screen.width - w, ey: 30 },
            { tag: "far right (was pushed further off)", x: 100000, y: 30, ex: screen.width - w, ey: 30 },
            { tag: "left of the screen", x: -w - 1, y: 30, ex: 0, ey: 30 },
            { tag: "partly right, still reachable", x: screen.width - 100, y: 30, ex: screen.width - 100, ey: 30 }
        ]
    }

    function test_storedPositionIsBroughtOnScreen(data) {
        testSupport.setStoredSetting("ApplicationWindow/x", data.x)
        testSupport.setStoredSetting("ApplicationWindow/y", data.y)
        var window = startWindow()
        // The offscreen platform keeps a 2 px frame inside the screen.
        verify(Math.abs(window.x - data.ex) <= 2 && Math.abs(window.y - data.ey) <= 2, window.x + "," + window.y)
    }

    // Sizes are kept within the screen; the first start is 1280x720. A minimum size is set
    // only once the window allows it (after its first width change).
    function test_windowSize_data() {
        var large = { width: 1600, height: 1000 }
        var small = { width: 800, height: 500 }
        return [
            { tag: "width undefined keeps width", w: undefined, h: 600, screen: large, ew: 1280, eh: 600 },
            { tag: "wider than screen", w: 1601, h: 700, screen: large, ew: 1600, eh: 700 },
            { tag: "exactly the screen", w: 1600, h: 1000, screen: large, ew: 1600, eh: 1000 },
            { tag: "both beyond a small screen", w: 2000, h: 2000, screen: small, ew: 800, eh: 500 },
            { tag: "minimum, large screen", minimum: true, w: 1000, h: 600, screen: large, ew: 1000, eh: 600 },
            { tag: "minimum lowered to a small screen", minimum: true, w: 1000, h: 600, screen: small, ew: 800, eh: 500 }
        ]
    }

    function test_windowSize(data) {
        var component = Qt.createComponent("qrc:/ApplicationWindowMediator.qml")
        var mediator = createTemporaryObject(component, testCase, { windowScreen: data.screen })
        verify(mediator !== null, component.errorString())
        if (data.minimum) {
            mediator.setMinimumSize(data.w, data.h)
            compare([mediator.minimumWidth, mediator.minimumHeight], [1, 1])
            mediator.canSetMinimumSize = true
            mediator.setMinimumSize(data.w, data.h)
            compare([mediator.minimumWidth, mediator.minimumHeight], [data.ew, data.eh])
        } else {
            mediator.resize(data.w, data.h)
            compare([mediator.width, mediator.height], [data.ew, data.eh])
        }
    }
}
