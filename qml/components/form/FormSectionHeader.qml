import QtQuick 2.15
import com.vtr.Gelvantrium 1.0
import "../.."
import ".."
import "../action"

// The bar above the document tabs: Home, the printer model, Distribute, Save and Help.
Rectangle {
    id: formSectionHeader

    property string machineModelName: ""
    readonly property alias validationDialog: validationDialog

    signal saveDocumentRequested()
    signal distributeDocumentRequested()
    signal documentDrawerToggled()

    color: Globals.colorNeutral5
    height: 120

    Utilities {
        id: utility
    }

    function goHome() {
        MaterialDocumentMediator.verifyRecentFiles()
        if (typeof stackView !== "undefined" && stackView)
            stackView.pushScreen(stackView.screenNameHome)
    }

    // True when the document validates; otherwise the messages are shown.
    function validateOrShowMessages() {
        // Ends editing in the form, so a field holding no number yet shows empty before the check.
        formSectionHeader.forceActiveFocus()
        MaterialDocumentMediator.validateDocumentFields()
        if (MaterialDocumentMediator.formValidationErrorMessages.length > 0) {
            validationDialog.open()
            return false
        }
        return true
    }

    function save() {
        if (validateOrShowMessages())
            saveDocumentRequested()
    }

    function distribute() {
        if (validateOrShowMessages())
            distributeDocumentRequested()
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Globals.colorNeutral3
    }

    Row {
        id: leftGroup
        anchors.left: parent.left
        anchors.leftMargin: Globals.gridSpacing
        anchors.top: parent.top
        anchors.topMargin: 35
        spacing: Globals.gridSpacing

        ButtonIconAction {
            id: homeButton
            iconWidth: 50
            icon: "../../images/home.svg"
            toolTipText: qsTr("Home")
            onClicked: formSectionHeader.goHome()
        }

        Column {
            Text {
                text: qsTr("Printer Model")
                color: Globals.colorWhite
                font.family: Globals.fontAssistantRegularName
                font.pointSize: 15
                font.bold: true
            }
            Text {
                text: formSectionHeader.machineModelName
                // The name comes from the stored printer-model list.
                textFormat: Text.PlainText
                color: Globals.colorWhite
                font.family: Globals.fontAssistantRegularName
                font.pointSize: 15
            }
        }

        ButtonAction {
            id: distributeButton
            width: 100
            height: Globals.actionButtonHeight
            fontSize: 14
            text: qsTr("Distribute")
            onClicked: formSectionHeader.distribute()
        }
    }

    Row {
        anchors.right: parent.right
        anchors.rightMargin: Globals.gridSpacing
        anchors.top: parent.top
        anchors.topMargin: 35
        spacing: Globals.gridSpacing

        ButtonIconAction {
            id: saveButton
            icon: "../../images/action_save.svg"
            colorUnfocused: Globals.colorPrimary1
            toolTipText: qsTr("Save")
            onClicked: formSectionHeader.save()
        }

        ButtonIconAction {
            id: helpButton
            icon: "../../images/action_help.svg"
            toolTipText: qsTr("Help")
            onClicked: formSectionHeader.documentDrawerToggled()
        }
    }

    FormValidationDialog {
        id: validationDialog
    }
}
