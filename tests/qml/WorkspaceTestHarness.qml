import QtQuick 2.15
import QtQuick.Window 2.15
import Qt.labs.platform 1.1 as Platform
import com.vtr.MaterialDocumentManagementLib 1.0
import com.vtr.Gelvantrium 1.0
import "qrc:/"
import "qrc:/components/screen"

// A form screen with the real mediator and document model, plus file helpers
// for the workspace tests. Files go to the test's own temporary folder.
Item {
    id: harness

    width: 1400
    height: 900

    property alias screen: screenForm
    readonly property string tempDir: MaterialDocumentMediator.localPathFromUrl(
        Platform.StandardPaths.writableLocation(Platform.StandardPaths.TempLocation)) + "/"
    readonly property string dataDir: MaterialDocumentMediator.localPathFromUrl(Qt.resolvedUrl("data/workspace")) + "/"
    property int fileCounter: 0

    // A TestCase is never visible: show the screen in the test window itself.
    readonly property var hostWindow: Window.window
    onHostWindowChanged: {
        if (hostWindow && parent !== hostWindow.contentItem)
            parent = hostWindow.contentItem
    }

    ScreenForm {
        id: screenForm
        anchors.fill: parent
    }

    Component { id: documentComponent; PelluxMaterialDocument {} }
    Component { id: machineComponent; Machine {} }
    Component { id: qualityLevelComponent; QualityLevel {} }

    // A fresh path in the temporary folder.
    function tempPath(name) {
        fileCounter += 1
        return tempDir + fileCounter + "_" + name
    }

    function keyOf(path) {
        return MaterialDocumentMediator.keyFromPath(path)
    }

    // Writes a document file with the given numbers of machines and quality levels per machine.
    function writeDocument(path, machines, levels, friendlyName) {
        var doc = documentComponent.createObject(null)
        doc.friendlyName = friendlyName === undefined ? "Resin" : friendlyName
        doc.friendlyColorRed = 10
        doc.friendlyColorGreen = 20
        doc.friendlyColorBlue = 30
        var list = []
        for (var m = 0; m < machines; ++m) {
            var machine = machineComponent.createObject(doc)
            machine.modelName = Machine.ORVO_B
            var levelList = []
            for (var l = 0; l < levels; ++l) {
                var level = qualityLevelComponent.createObject(doc)
                level.thickness_um = 50
                level.exposure = 2.5
                // What the form always writes, so that an opened file stays clean.
                level.xYTrim_mm = 0
                level.xYShrinkageFactor = 1
                level.zShrinkageFactor = 1
                level.materialScalingFactorX = 1
                level.materialScalingFactorY = 1
                level.testingTrim = false
                level.overHangFactor = 80
                levelList.push(level)
            }
            machine.qualityLevels = levelList
            list.push(machine)
        }
        doc.machines = list
        doc.writeToPath(path)
        var ok = !doc.hasError
        doc.destroy()
        return ok
    }

    // The file's text, or null when it cannot be read.
    function readText(path) {
        var request = new XMLHttpRequest()
        request.open("GET", String(MaterialDocumentMediator.urlFromLocalPath(path)), false)
        request.send()
        return request.status === 200 ? request.responseText : null
    }

    // Each tab's key or title, in strip order.
    function tabKeys() { return tabRoles("filePath") }
    function tabTitles() { return tabRoles("tabName") }
    function tabRoles(role) {
        var values = []
        var names = screenForm.closeableTabView.tabNames
        for (var i = 0; i < names.count; ++i)
            values.push(names.get(i)[role])
        return values
    }

    function currentForm() {
        var view = screenForm.closeableTabView.tabView
        var tab = view.getTab(view.currentIndex)
        return tab ? tab.item : null
    }

    // Closes every tab without prompting and forgets the recent list.
    function reset() {
        var names = screenForm.closeableTabView.tabNames
        while (names.count > 0)
            screenForm.closeableTabView.closeTab(names.get(0).filePath)
        MaterialDocumentMediator.recentFiles.clear()
        screenForm.closeTabKey = ""
        screenForm.saveBeforeClosingInProgress = false
        screenForm.messageDialog.close()
        screenForm.closePrompt.close()
        screenForm.validationDialog.close()
    }
}
