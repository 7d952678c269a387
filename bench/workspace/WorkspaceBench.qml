// The form screen for bench_workspace, with the calls the benchmark makes.
import QtQuick 2.15
import QtQuick.Window 2.15
import "qrc:/"
import "qrc:/components/screen"

Window {
    width: 1400
    height: 860
    visible: true

    ScreenForm {
        id: screenForm
        anchors.fill: parent
        openFileDialog: function (dialog) {}
    }

    function open(path) {
        return MaterialDocumentMediator.loadDocument("file:///" + path) === true
    }

    function closeAll() {
        var names = screenForm.closeableTabView.tabNames
        while (names.count > 0)
            screenForm.closeableTabView.closeTab(names.get(0).filePath)
    }

    // True when the current tab's form shows the loaded values.
    function filled() {
        var view = screenForm.closeableTabView.tabView
        var tab = view.getTab(view.currentIndex)
        var field = tab && tab.item ? tab.item.fieldByLabel("Exposure (mJ)") : null
        return field !== null && field.input.text !== ""
    }

    // Makes the current document's text large without touching the form.
    function growDocument(characters) {
        MaterialDocumentMediator.document.prevImageName = new Array(characters + 1).join("x")
    }

    function setFieldText(label, text) {
        var view = screenForm.closeableTabView.tabView
        view.getTab(view.currentIndex).item.fieldByLabel(label).input.inputItem.text = text
    }
}
