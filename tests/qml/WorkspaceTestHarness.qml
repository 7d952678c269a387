import QtQuick 2.15
import QtQuick.Window 2.15
import Qt.labs.platform 1.1 as Platform
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

    // A fresh path in the temporary folder.
    function tempPath(name) {
        fileCounter += 1
        return tempDir + fileCounter + "_" + name
    }

    function keyOf(path) {
        return MaterialDocumentMediator.keyFromPath(path)
    }

    // A fresh copy of a clean material file in the temporary folder; null when it cannot be written.
    function newFile(name) {
        var path = tempPath(name)
        return testSupport.writeTextFile(path, readText(dataDir + "full.zqmat")) ? path : null
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
