import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"
import "qrc:/components/screen"

// The Materials section of Home: the printer-model list for New, opening files,
// and the recent-materials list, with the real document workspace.
TestCase {
    id: testCase
    name: "HomeSectionMaterials"
    width: 1200
    height: 800
    visible: true // hidden items get no pointer events
    when: windowShown

    // Stands in for the window's screen stack, which the section pops to reveal a document.
    Item {
        id: stackView
        property int pops: 0
        function popScreen() { ++pops }
    }

    // A file dialog hands over a url value, not a text.
    QtObject {
        id: chosenFile
        property url value
    }

    readonly property string defaultModels: "{\"ORV_2.0_AA\":\"Orvo A\",\"ORV_2.0_BB\":\"Orvo B\",\"ORV_2.0_TT\":\"Tesk Print\"}"
    readonly property string tempFolder: testSupport.tempPath()

    Component {
        id: materialsComponent
        HomeSectionMaterials { width: 900; height: 700; minimumWidth: 800; model: MaterialDocumentMediator.recentFiles }
    }

    function makeSection() {
        return createTemporaryObject(materialsComponent, testCase)
    }

    function keyOf(name) {
        return Globals.filePrefix + tempFolder + "/" + name
    }

    // Writes a real document file through the workspace and closes it again.
    function saveDocumentAs(name, model) {
        verify(MaterialDocumentMediator.createDocument(model))
        var key = MaterialDocumentMediator.saveDocument(keyOf(name))
        compare(key, keyOf(name))
        MaterialDocumentMediator.closeDocument(key)
        return key
    }

    function fileUrl(name) {
        chosenFile.value = "file://" + tempFolder + "/" + name
        return chosenFile.value
    }

    // The list view lays out its rows on the next frame.
    function rowAt(section, index, fileName) {
        tryVerify(function() {
            var row = section.recentList.itemAtIndex(index)
            return row !== null && (fileName === undefined || row.fileName === fileName)
        })
        return section.recentList.itemAtIndex(index)
    }

    function recentEntry(name) {
        return { fileName: name, path: keyOf(name), printerModel: "Orvo A",
                 lastUpdatedDate: "Monday, January 5, 2026 10:00:00 AM", friendlyColor: "#ff8000" }
    }

    function init() {
        stackView.pops = 0
        Globals.settingsUser_SetPrinterModels(defaultModels)
        testSupport.removeStoredSetting("Home/selectedPrinterModelName")
        MaterialDocumentMediator.recentFiles.clear()
    }

    // The list is stored at exit; leave none for the tests that follow.
    function cleanupTestCase() {
        MaterialDocumentMediator.recentFiles.clear()
    }

    function cleanup() {
        MaterialDocumentMediator.openDocumentKeys().forEach(function (key) {
            MaterialDocumentMediator.closeDocument(key)
        })
    }

    function test_printerModelList_data() {
        return [
            { tag: "stored name", models: defaultModels, stored: "Tesk Print",
              names: ["Orvo A", "Orvo B", "Tesk Print"], index: 2, shown: true },
            { tag: "stale stored name", models: defaultModels, stored: "Orvo Z",
              names: ["Orvo A", "Orvo B", "Tesk Print"], index: 0, shown: true },
            { tag: "single model", models: "{\"ORV_2.0_BB\":\"Orvo B\"}", stored: "Orvo A",
              names: ["Orvo B"], index: 0, shown: false },
            { tag: "two models in stored order", models: "{\"ORV_2.0_TT\":\"Tesk Print\",\"ORV_2.0_AA\":\"Orvo A\"}",
              stored: "", names: ["Tesk Print", "Orvo A"], index: 0, shown: true }
        ]
    }

    function test_printerModelList(data) {
        Globals.settingsUser_SetPrinterModels(data.models)
        if (data.stored !== "")
            testSupport.setStoredSetting("Home/selectedPrinterModelName", data.stored)
        var section = makeSection()
        compare(section.printerModelComboBox.values, data.names)
        compare(section.printerModelComboBox.currentIndex, data.index)
        compare(section.printerModelComboBox.visible, data.shown)
        verify(section.newButton.enabled)
        // Filling the list never overwrites what the user chose last.
        compare(section.selectedPrinterModelName, data.stored)
    }

    function test_listFollowsStoredModels() {
        var section = makeSection()
        Globals.settingsUser_SetPrinterModels("{\"ORV_2.0_TT\":\"Tesk Print\"}")
        compare(section.printerModelComboBox.values, ["Tesk Print"])
        verify(!section.printerModelComboBox.visible)
        Globals.settingsUser_SetPrinterModels("{}")
        compare(section.printerModelComboBox.currentIndex, -1)
        verify(!section.newButton.enabled)
    }

    function test_newCreatesDocumentOfChosenModel_data() {
        return [
            { tag: "third of three", models: defaultModels, choose: 2, id: "ORV_2.0_TT" },
            { tag: "only model", models: "{\"ORV_2.0_BB\":\"Orvo B\"}", choose: -1, id: "ORV_2.0_BB" }
        ]
    }

    function test_newCreatesDocumentOfChosenModel(data) {
        Globals.settingsUser_SetPrinterModels(data.models)
        var section = makeSection()
        if (data.choose >= 0)
            section.printerModelComboBox.currentIndex = data.choose
        var before = MaterialDocumentMediator.numberOfNewMaterials
        mouseClick(section.newButton)
        compare(stackView.pops, 1)
        compare(MaterialDocumentMediator.documentKey, "NewMaterial" + (before + 1))
        var machine = MaterialDocumentMediator.machine
        compare(machine.machineModelNameToString(machine.modelName), data.id)
        // The choice is kept for the next time Home shows.
        section.destroy()
        wait(0)
        compare(makeSection().printerModelComboBox.currentIndex, Math.max(data.choose, 0))
    }

    // Files deleted since are dropped when the list shows.
    function test_listIsCheckedWhenShown() {
        MaterialDocumentMediator.recentFiles.append(recentEntry("never-written.zqmat"))
        var section = makeSection()
        compare(MaterialDocumentMediator.recentFiles.count, 0)
        tryCompare(section.noRecentMaterialsText, "visible", true)
    }

    function test_fileOpens_data() {
        return [ { tag: "from the recent list", browsed: false }, { tag: "browsed", browsed: true } ]
    }

    function test_fileOpens(data) {
        var key = saveDocumentAs("recent open.zqmat", "ORV_2.0_BB")
        var section = makeSection()
        if (data.browsed) {
            verify(section.openFileAccepted(fileUrl("recent open.zqmat")))
        } else {
            var row = rowAt(section, 0)
            compare([row.fileName, row.printerModel], ["recent open.zqmat", "Orvo B"])
            mouseClick(row)
        }
        compare(stackView.pops, 1)
        compare(MaterialDocumentMediator.documentKey, key)
        verify(!section.popupFileOpen.visible)
    }

    function test_missingRecentFileIsRemoved() {
        var keep = saveDocumentAs("kept.zqmat", "ORV_2.0_AA")
        var section = makeSection()
        // The file vanishes while Home shows the list.
        MaterialDocumentMediator.recentFiles.insert(0, recentEntry("gone.zqmat"))
        compare(section.recentList.count, 2)
        mouseClick(rowAt(section, 0, "gone.zqmat"))
        tryCompare(section.popupFileMissing, "visible", true)
        compare(section.popupFileMissing.title, "Could not open file")
        compare(section.popupFileMissing.message, "The file at " + tempFolder + "/gone.zqmat"
                + " could not be opened. It will be removed from the recent Materials list.")
        compare(stackView.pops, 0)

        section.popupFileMissing.close()
        section.popupFileMissing.clickedConfirm()
        compare(MaterialDocumentMediator.recentFiles.count, 1)
        compare(MaterialDocumentMediator.recentFiles.get(0).path, keep)
    }

    function test_removeIconRemovesOneEntry() {
        var first = saveDocumentAs("first.zqmat", "ORV_2.0_AA")
        var second = saveDocumentAs("second.zqmat", "ORV_2.0_AA")
        var section = makeSection()
        compare(section.recentList.count, 2)
        var stored = function () { return testSupport.readResource(testSupport.settingsFilePath()) }
        verify(stored().indexOf("second.zqmat") >= 0)
        mouseClick(rowAt(section, 0, "second.zqmat").removeButton)
        compare(MaterialDocumentMediator.recentFiles.count, 1)
        compare(MaterialDocumentMediator.recentFiles.get(0).path, first)
        // Regression: the removal was stored only at the next addition or at exit.
        compare(stored().indexOf("second.zqmat"), -1)
        verify(stored().indexOf("first.zqmat") >= 0)
        compare(stackView.pops, 0)
        mouseClick(rowAt(section, 0, "first.zqmat").removeButton)
        compare(MaterialDocumentMediator.recentFiles.count, 0)
        tryCompare(section.noRecentMaterialsText, "visible", true)
    }

    Component { id: homeScreenComponent; ScreenHome {} }

    // Regression: at the smallest size the window allowed, New and the model list lay outside it.
    function test_headerFitsTheSmallestWindow() {
        var home = createTemporaryObject(homeScreenComponent, testCase,
                                         { width: Globals.windowMinimumWidth, height: Globals.windowMinimumHeight })
        var section = home.materialsSection
        var right = section.newButton.mapToItem(home, section.newButton.width, 0).x
        verify(right <= home.width, "New ends at " + right + " in a window " + home.width + " wide")
        verify(section.printerModelComboBox.mapToItem(home, 0, 0).x >= 300)
    }

    function test_unreadableFileShowsOpenFailed() {
        var url = fileUrl("not-a-material.zqmat")
        verify(testSupport.writeTextFile(tempFolder + "/not-a-material.zqmat", "not a material"))
        var section = makeSection()
        verify(!section.openFileAccepted(url))
        tryCompare(section.popupFileOpen, "visible", true)
        compare(section.popupFileOpen.title, "Open failed.")
        verify(section.popupFileOpen.message.length > 0)
        compare(stackView.pops, 0)
        compare(MaterialDocumentMediator.documentKey, "")
    }
}
