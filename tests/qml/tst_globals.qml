import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "Globals"

    readonly property var defaultModelIds: ["ORV_2.0_AA", "ORV_2.0_BB", "ORV_2.0_TT"]
    readonly property var userKeys: ["nameFirst", "nameLast", "email", "company", "groupKey",
                                     "printerModels", "updateAutomaticallyPrompt"]

    // A Globals of its own, so each test starts from what is stored, as a new run does.
    function freshGlobals() {
        var component = Qt.createComponent("qrc:/Globals.qml")
        verify(component.status === Component.Ready, component.errorString())
        var globals = createTemporaryObject(component, testCase)
        verify(globals !== null)
        return globals
    }

    function clearUserSettings() {
        for (var i = 0; i < userKeys.length; ++i)
            testSupport.removeStoredSetting("User/" + userKeys[i])
    }

    function init() {
        clearUserSettings()
    }

    function test_firstStartStoresDefaultModelsInOrder() {
        var globals = freshGlobals()
        var models = globals.settingsUser_GetPrinterModels()
        compare(Object.keys(models), defaultModelIds)
        compare(models["ORV_2.0_AA"], "Orvo A")
        compare(models["ORV_2.0_BB"], "Orvo B")
        compare(models["ORV_2.0_TT"], "Tesk Print")
        verify(globals.settingsUser_GetUpdateAutomaticallyPrompt())
    }

    // The settings store writes with a delay; poll it.
    function waitForStored(key, expected) {
        var value
        for (var i = 0; i < 40; ++i) {
            value = testSupport.storedSetting(key)
            if (value === expected)
                return
            wait(50)
        }
        compare(value, expected, key)
    }

    function test_firstStartWritesDefaultsToStore() {
        freshGlobals()
        waitForStored("User/printerModels",
                      '{"ORV_2.0_AA":"Orvo A","ORV_2.0_BB":"Orvo B","ORV_2.0_TT":"Tesk Print"}')
    }

    function test_updatePromptForcedOnWithoutGroupKey_data() {
        return [
            { tag: "no group key, prompt off", groupKey: "", stored: false, expected: true },
            { tag: "no group key, prompt on", groupKey: "", stored: true, expected: true },
            { tag: "group key, prompt off", groupKey: "k", stored: false, expected: false },
            { tag: "group key, prompt on", groupKey: "k", stored: true, expected: true }
        ]
    }

    function test_updatePromptForcedOnWithoutGroupKey(data) {
        testSupport.setStoredSetting("User/groupKey", data.groupKey)
        testSupport.setStoredSetting("User/updateAutomaticallyPrompt", data.stored)
        var globals = freshGlobals()
        compare(globals.settingsUser_GetUpdateAutomaticallyPrompt(), data.expected)
    }

    function test_getPrinterFriendlyName_data() {
        return [
            { tag: "enumerator 0", input: 0, expected: "Orvo A" },
            { tag: "enumerator 1", input: 1, expected: "Orvo B" },
            { tag: "enumerator 2", input: 2, expected: "Tesk Print" },
            { tag: "unknown enumerator 3", input: 3, expected: undefined },
            { tag: "negative enumerator", input: -1, expected: undefined },
            { tag: "identifier AA", input: "ORV_2.0_AA", expected: "Orvo A" },
            { tag: "identifier BB", input: "ORV_2.0_BB", expected: "Orvo B" },
            { tag: "identifier TT", input: "ORV_2.0_TT", expected: "Tesk Print" },
            { tag: "identifier other case", input: "orv_2.0_bb", expected: undefined },
            { tag: "display name", input: "Orvo A", expected: undefined },
            { tag: "unknown machine text", input: "Unknown Machine", expected: undefined },
            { tag: "empty", input: "", expected: undefined },
            { tag: "undefined", input: undefined, expected: undefined }
        ]
    }

    function test_getPrinterFriendlyName(data) {
        compare(freshGlobals().getPrinterFriendlyName(data.input), data.expected)
    }

    function test_getPrinterName_data() {
        return [
            { tag: "Orvo A", input: "Orvo A", expected: "ORV_2.0_AA" },
            { tag: "Orvo B", input: "Orvo B", expected: "ORV_2.0_BB" },
            { tag: "Tesk Print", input: "Tesk Print", expected: "ORV_2.0_TT" },
            { tag: "identifier", input: "ORV_2.0_TT", expected: undefined },
            { tag: "other case", input: "tesk print", expected: undefined },
            { tag: "empty", input: "", expected: undefined }
        ]
    }

    function test_getPrinterName(data) {
        compare(freshGlobals().getPrinterName(data.input), data.expected)
    }

    function test_getPrinterNameTakesFirstMemberInOrder() {
        var globals = freshGlobals()
        globals.settingsUser_SetPrinterModels('{"B":"Same","A":"Same","C":"Other"}')
        compare(globals.getPrinterName("Same"), "B")
        compare(globals.getPrinterFriendlyName("C"), "Other")
    }

    function test_setPrinterModelsStoresAndSignals() {
        var globals = freshGlobals()
        var spy = createTemporaryQmlObject('import QtTest 1.2; SignalSpy { signalName: "printerModelsUpdatedSignal" }',
                                           testCase)
        spy.target = globals
        globals.settingsUser_SetPrinterModels('{"ORV_2.0_TT":"Tesk Print"}')
        compare(spy.count, 1)
        compare(Object.keys(globals.settingsUser_GetPrinterModels()), ["ORV_2.0_TT"])
        waitForStored("User/printerModels", '{"ORV_2.0_TT":"Tesk Print"}')
    }

    // Regression: unreadable stored JSON used to throw out of every caller (the New list,
    // the recent list of open and save). It now gives the defaults and keeps the text.
    function test_unreadablePrinterModelsFallBackToDefaults_data() {
        return [
            { tag: "not JSON", stored: "{\"ORV_2.0_AA\": \"Orvo A\"", warning: /not valid JSON/ },
            { tag: "plain word", stored: "Orvo", warning: /not valid JSON/ },
            { tag: "array", stored: "[\"ORV_2.0_AA\"]", warning: /wrong JSON type/ },
            { tag: "null", stored: "null", warning: /wrong JSON type/ },
            { tag: "number", stored: "42", warning: /wrong JSON type/ }
        ]
    }

    function test_unreadablePrinterModelsFallBackToDefaults(data) {
        testSupport.setStoredSetting("User/printerModels", data.stored)
        var globals = freshGlobals()
        ignoreWarning(data.warning)
        compare(Object.keys(globals.settingsUser_GetPrinterModels()), defaultModelIds)
        ignoreWarning(data.warning)
        compare(globals.getPrinterFriendlyName("ORV_2.0_BB"), "Orvo B")
        ignoreWarning(data.warning)
        compare(globals.getPrinterName("Tesk Print"), "ORV_2.0_TT")
        globals.destroy()
        wait(0)
        // The user's text is left for them to repair, not replaced.
        compare(testSupport.storedSetting("User/printerModels"), data.stored)
    }

    function test_fullNameJoinsWithOneBlank_data() {
        return [
            { tag: "both empty", first: "", last: "", expected: " " },
            { tag: "first only", first: "Ada", last: "", expected: "Ada " },
            { tag: "last only", first: "", last: "Lovelace", expected: " Lovelace" },
            { tag: "both", first: "Ada", last: "Lovelace", expected: "Ada Lovelace" },
            { tag: "non-ASCII", first: "Zoë", last: "Ørsted", expected: "Zoë Ørsted" }
        ]
    }

    function test_fullNameJoinsWithOneBlank(data) {
        var globals = freshGlobals()
        globals.settingsUser_SetFirstName(data.first)
        globals.settingsUser_SetLastName(data.last)
        compare(globals.settingsUser_GetFullName(), data.expected)
    }

    function test_profileAccessorsPersist() {
        var globals = freshGlobals()
        globals.settingsUser_SetEmail("ada@example.invalid")
        globals.settingsUser_SetCompany("Analytical")
        globals.settingsUser_SetGroupKey("0123456789abcdef0123456789abcdef")
        globals.settingsUser_SetUpdateAutomaticallyPrompt(false)
        globals.destroy()
        wait(0)
        var again = freshGlobals()
        compare(again.settingsUser_GetEmail(), "ada@example.invalid")
        compare(again.settingsUser_GetCompany(), "Analytical")
        compare(again.settingsUser_GetGroupKey(), "0123456789abcdef0123456789abcdef")
        compare(again.settingsUser_GetUpdateAutomaticallyPrompt(), false)
    }

    function test_fieldWidth_data() {
        return [
            { tag: "quality row", parent: 1000, share: 0.25, fields: 4, expected: 231.25 },
            { tag: "single field", parent: 800, share: 1, fields: 1, expected: 800 },
            { tag: "cycle row", parent: 1200, share: 0.2, fields: 5, expected: 220 }
        ]
    }

    function test_fieldWidth(data) {
        compare(Globals.fieldWidth(data.parent, data.share, data.fields), data.expected)
    }

    function test_flickableScrollHelpers() {
        compare(Globals.flickableScroll_ContentWidth(1000, 900, 25, 25), 1000)
        compare(Globals.flickableScroll_ContentWidth(1000, 980, 25, 25), 1030)
        compare(Globals.flickableScroll_ContentHeight(500, 25, 25), 550)
    }

    function test_fieldInputStyles() {
        var background = createTemporaryQmlObject("import QtQuick 2.15; Rectangle {}", testCase)
        Globals.fieldInputOnFocusChanged(true, background)
        compare(background.color, Globals.colorFormFieldInputBackgroundFocused)
        compare(background.border.color, Globals.colorFormFieldInputBorderFocused)
        Globals.fieldInputOnEnabledChanged(false, true, background)
        compare(background.color, Globals.colorNeutral3)
        compare(background.border.color, Globals.colorNeutral3)
        Globals.fieldInputOnEnabledChanged(true, false, background)
        compare(background.color, Globals.colorFormFieldInputBackgroundUnfocused)
        compare(background.border.color, Globals.colorFormFieldInputBorderUnfocused)
        compare(background.radius, Globals.fieldInputRadius)
        compare(background.border.width, Globals.fieldInputBorderWidth)
    }
}
