// Window for tst_formscreens: the form screen and the calls the test makes.
import QtQuick 2.15
import QtQuick.Window 2.15
import "qrc:/"
import "qrc:/components/screen"

Window {
    width: 1400
    height: 860
    visible: true
    color: "#2b2b2b"

    property alias screen: screenForm

    ScreenForm {
        id: screenForm
        anchors.fill: parent
        openFileDialog: function (dialog) {}
    }

    function load(path) { return MaterialDocumentMediator.loadDocument("file:///" + path) === true }
    function createNew() { return MaterialDocumentMediator.createDocument("ORV_2.0_AA") }
    function toggleHelp() { screenForm.toggleDocumentationDrawer() }
    function helpProgress() {
        var loader = screenForm.documentationDrawer.children[0]
        return loader.item ? loader.item.loadProgress : -1
    }
    function pressSave() {
        screenForm.formHeader.save()
        return screenForm.formHeader.validationDialog.opened
    }
    function currentXml() { return MaterialDocumentMediator.document.ToXMLString() }
    function unsaved() { return MaterialDocumentMediator.documentHasUnsavedChanges() }
    function distribute(path, password, groupKey) {
        DistributionMediator.distributionPassword = password
        Globals.settingsUser_SetGroupKey(groupKey)
        return MaterialDocumentMediator.distributeDocument(MaterialDocumentMediator.urlFromLocalPath(path)) === true
    }
}
