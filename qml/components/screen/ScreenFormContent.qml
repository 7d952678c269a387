import QtQuick 2.15
import Qt.labs.platform 1.1 as Platform
import "../.."
import ".."
import "../form"
import "../closeableTabView"

// What ScreenForm shows: header, document tabs and the help drawer, with the save and
// distribute dialogs and the close prompt. A file of its own so that the form's types
// are loaded when the content is first needed, not with the screen. It calls back into
// the ScreenForm that loads it (id screenForm).
Item {
    readonly property alias formHeader: formHeader
    readonly property alias closeableTabView: closeableTabView
    readonly property alias documentationDrawer: documentationDrawer
    readonly property alias saveDialog: saveDialog
    readonly property alias distributeDialog: distributeDialog
    readonly property alias validationDialog: validationDialog
    readonly property alias closePrompt: closePrompt
    readonly property alias messageDialog: messageDialog

    // Tab view and help drawer side by side; the handle between them moves the divider.
    Item {
        id: splitView
        anchors.top: formHeader.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom

        CloseableTabView {
            id: closeableTabView
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.left: parent.left
            anchors.right: documentationDrawer.visible ? dividerHandle.left : parent.right
            onCloseClicked: screenForm.closeClickedHandler(key)
        }

        Rectangle {
            id: dividerHandle
            visible: documentationDrawer.visible
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.right: documentationDrawer.left
            width: 4
            color: Globals.colorNeutral3

            MouseArea {
                anchors.fill: parent
                anchors.margins: -3
                cursorShape: Qt.SplitHCursor
                property real pressX: 0
                onPressed: pressX = mouse.x
                onPositionChanged: {
                    var wanted = documentationDrawer.width - (mouse.x - pressX)
                    documentationDrawer.width = Math.max(100, Math.min(wanted, splitView.width - 200))
                }
            }
        }

        Item {
            id: documentationDrawer
            property int previousWidth: 400
            property bool everShown: false
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.right: parent.right
            visible: false
            width: 0

            // The web engine starts only once the drawer is first opened.
            Loader {
                id: helpLoader
                anchors.fill: parent
                anchors.topMargin: Globals.gridSpacing
                active: documentationDrawer.everShown
                source: "../form/FormHelpView.qml"
            }
        }
    }

    FormSectionHeader {
        id: formHeader
        anchors.top: parent.top
        width: parent.width
        z: 1
        validate: function () { screenForm.validateDocumentAndFields() }
        onSaveDocumentRequested: screenForm.saveDocument()
        onDistributeDocumentRequested: screenForm.distributeDocument()
        onDocumentDrawerToggled: screenForm.toggleDocumentationDrawer()
    }

    Platform.FileDialog {
        id: saveDialog
        title: qsTr("Please choose a file")
        fileMode: Platform.FileDialog.SaveFile
        defaultSuffix: Globals.materialFileExtension
        nameFilters: [qsTr("Veltrisan Material File (*") + Globals.materialFileExtension + ")"]
        onAccepted: screenForm.saveDialogAccepted(saveDialog.file)
        onRejected: screenForm.saveDialogRejected()
    }

    Platform.FileDialog {
        id: distributeDialog
        title: qsTr("Please choose a file")
        fileMode: Platform.FileDialog.SaveFile
        defaultSuffix: Globals.materialFileDistributableExtension
        nameFilters: [qsTr("Veltrisan Distributable Material File (*") + Globals.materialFileDistributableExtension + ")"]
        onAccepted: screenForm.distributeDialogAccepted(distributeDialog.file)
    }

    FormValidationDialog {
        id: validationDialog
    }

    PopupDialog {
        id: closePrompt
        title: qsTr("Do you want to save before closing?")
        buttonTextConfirm: qsTr("Save")
        buttonTextCancel: qsTr("Close without saving")
        buttonWidthCancel: 200
        popupWidth: 500
        closeOnClickOutside: true
        onClickedConfirm: screenForm.closePromptSave()
        onClickedCancel: screenForm.closeTab()
    }

    // Refusals and failures of save and distribute.
    PopupDialog {
        id: messageDialog
        buttonVisibleCancel: false
        closeOnClickOutside: true
    }
}
