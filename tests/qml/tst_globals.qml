import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "StoredSettings"

    readonly property var defaultModelIds: ["ORV_2.0_AA", "ORV_2.0_BB", "ORV_2.0_TT"]

    // A Globals (or mediator) of its own, so each test starts from what is stored, as a new run does.
    function fresh(name) {
        var component = Qt.createComponent("qrc:/" + name + ".qml")
        verify(component.status === Component.Ready, component.errorString())
        return createTemporaryObject(component, testCase)
    }
    function freshGlobals() { return fresh("Globals") }

    function init() {
        ["nameFirst", "nameLast", "groupKey", "printerModels", "updateAutomaticallyPrompt"].forEach(function (key) {
            testSupport.setStoredSetting("User/" + key, undefined)
        })
    }

    function test_updatePromptForcedOnWithoutGroupKey_data() {
        return [
            { tag: "nothing stored", groupKey: "k", expected: true },
            { tag: "no group key, prompt off", groupKey: "", stored: false, expected: true },
            { tag: "group key, prompt off", groupKey: "k", stored: false, expected: false },
            { tag: "group key, prompt on", groupKey: "k", stored: true, expected: true }
        ]
    }

    function test_updatePromptForcedOnWithoutGroupKey(data) {
        testSupport.setStoredSetting("User/groupKey", data.groupKey)
        testSupport.setStoredSetting("User/updateAutomaticallyPrompt", data.stored)
        compare(freshGlobals().settingsUser_GetUpdateAutomaticallyPrompt(), data.expected)
    }

    function test_printerLookups_data() {
        var rows = [
            [2, "Tesk Print"], [3, undefined], ["ORV_2.0_BB", "Orvo B"], ["Orvo A", undefined],
            // Enumerator values compare as numbers; a blank text is not 0.
            ["1", "Orvo B"], ["", undefined], [" ", undefined]
        ].map(function (r) { return { tag: "friendly name of " + JSON.stringify(r[0]), lookup: "getPrinterFriendlyName", input: r[0], expected: r[1] } })
        return rows.concat([
            ["Tesk Print", "ORV_2.0_TT"], ["ORV_2.0_TT", undefined]
        ].map(function (r) { return { tag: "name of '" + r[0] + "'", lookup: "getPrinterName", input: r[0], expected: r[1] } }))
    }

    function test_printerLookups(data) { compare(freshGlobals()[data.lookup](data.input), data.expected) }

    // Layout helpers at the point where the result switches; arguments are stand-ins
    // with just the members each helper reads.
    function test_layoutHelpers_data() {
        var fits = { contentWidth: 900, width: 900, contentHeight: 600, height: 600 }
        var over = { contentWidth: 901, width: 900, contentHeight: 601, height: 600 }
        return [
            ["section minimum width", "getSectionMinimumWidth", [800, 0.5], 400],
            ["preferred width, content fits", "getSectionPreferredWidth", [fits, { width: 1000 }, 0.5], 500],
            ["preferred width, content taller", "getSectionPreferredWidth", [over, { width: 1000 }, 0.5], 494],
            ["colour to 0-1", "convertColor", [51, true], 0.2],
            ["colour to 0-255", "convertColor", [0.5, false], 127.5],
            ["content width, parent wider", "flickableScroll_ContentWidth", [851, 800, 25, 25], 851],
            ["content width, content wider", "flickableScroll_ContentWidth", [849, 800, 25, 25], 850],
            ["content height", "flickableScroll_ContentHeight", [500, 25, 30], 555],
            ["horizontal bar, content fits", "flickableScroll_ScrollBar_Horizontal_Policy", [fits], ScrollBar.AlwaysOff],
            ["horizontal bar, content wider", "flickableScroll_ScrollBar_Horizontal_Policy", [over], ScrollBar.AlwaysOn],
            ["vertical bar, content fits", "flickableScroll_ScrollBar_Vertical_Policy", [fits], ScrollBar.AlwaysOff],
            ["vertical bar, content taller", "flickableScroll_ScrollBar_Vertical_Policy", [over], ScrollBar.AlwaysOn]
        ].map(function (r) { return { tag: r[0], helper: r[1], args: r[2], expected: r[3] } })
    }

    function test_layoutHelpers(data) {
        var globals = freshGlobals()
        fuzzyCompare(globals[data.helper].apply(globals, data.args), data.expected, 1e-9)
    }

    function test_setPrinterModelsStoresSignalsAndKeepsOrder() {
        var globals = freshGlobals()
        var spy = createTemporaryQmlObject('import QtTest 1.2; SignalSpy { signalName: "printerModelsUpdatedSignal" }',
                                           testCase)
        spy.target = globals
        globals.settingsUser_SetPrinterModels('{"B":"Same","A":"Same","C":"Other"}')
        compare([spy.count, globals.getPrinterName("Same"), globals.getPrinterFriendlyName("C")], [1, "B", "Other"])
        // The settings store writes with a delay.
        tryVerify(function () {
            return testSupport.storedSetting("User/printerModels") === '{"B":"Same","A":"Same","C":"Other"}' }, 20000)
    }

    // Regression: unreadable stored JSON used to throw out of every caller (the New list,
    // the recent list of open and save). It now gives the defaults and keeps the text.
    function test_unreadablePrinterModelsFallBackToDefaults_data() {
        return [
            { tag: "not JSON", stored: "{\"ORV_2.0_AA\": \"Orvo A\"", warning: /not valid JSON/ },
            { tag: "array", stored: "[\"ORV_2.0_AA\"]", warning: /wrong JSON type/ },
            { tag: "null", stored: "null", warning: /wrong JSON type/ }
        ]
    }

    function test_unreadablePrinterModelsFallBackToDefaults(data) {
        testSupport.setStoredSetting("User/printerModels", data.stored)
        var globals = freshGlobals()
        ;[1, 2, 3].forEach(function () { ignoreWarning(data.warning) })
        compare([Object.keys(globals.settingsUser_GetPrinterModels()), globals.getPrinterFriendlyName("ORV_2.0_BB"),
                 globals.getPrinterName("Tesk Print")], [defaultModelIds, "Orvo B", "ORV_2.0_TT"])
        globals.destroy()
        wait(0)
        // The user's text is left for them to repair, not replaced.
        compare(testSupport.storedSetting("User/printerModels"), data.stored)
    }

    // Unreadable JSON in the stored recent-materials list: the list starts empty with a
    // warning instead of throwing, and the user's text is not replaced on exit.
    function freshMediator() { return fresh("MaterialDocumentMediator") }

    function test_unreadableRecentListFallsBackToEmpty_data() {
        return [
            { tag: "cut short", stored: "[{\"fileName\": \"a.zqmat\", \"path\": \"file:////tmp/a", warning: /not valid JSON/ },
            { tag: "object, not list", stored: "{\"fileName\": \"a.zqmat\"}", warning: /wrong JSON type/ },
            { tag: "number", stored: "7", warning: /wrong JSON type/ }
        ]
    }

    function test_unreadableRecentListFallsBackToEmpty(data) {
        testSupport.setStoredSetting("Document/datastore", data.stored)
        ignoreWarning(data.warning)
        var mediator = freshMediator()
        compare(mediator.recentFiles.count, 0)
        mediator.destroy()
        wait(0)
        compare(testSupport.storedSetting("Document/datastore"), data.stored)
    }

    function test_recentEntriesWithoutPathAreSkipped() {
        testSupport.setStoredSetting("Document/datastore",
                                     "[{\"fileName\": \"no path\"}, 5, null, {\"fileName\": \"b.zqmat\", \"path\": \"file:////tmp/b.zqmat\"}]")
        var mediator = freshMediator()
        compare([mediator.recentFiles.count, mediator.recentFiles.get(0).fileName], [1, "b.zqmat"])
        mediator.destroy()
    }
}
