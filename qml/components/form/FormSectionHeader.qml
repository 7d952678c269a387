import QtQuick 2.15
import com.vtr.Gelvantrium 1.0
import "../.."
import ".."
import "../action"

// The bar above the document tabs: Home, the printer model, Install, Distribute, Save and Help.
Rectangle {
    id: formSectionHeader

    property string machineModelName: ""
    readonly property alias validationDialog: validationDialog
    readonly property alias installButton: installButton
    readonly property alias distributeButton: distributeButton
    readonly property alias saveButton: saveButton
    readonly property alias noPrinterDialog: noPrinterDialog
    readonly property alias saveRequiredDialog: saveRequiredDialog
    readonly property alias invalidGroupKeyDialog: invalidGroupKeyDialog
    readonly property alias installFailedDialog: installFailedDialog
    readonly property alias installSucceededDialog: installSucceededDialog

    // False while an install is under way.
    property bool isEnabled: true
    // From a successful send until the printer's answer.
    property bool uploadedAMaterial: false
    readonly property string installErrorGeneric: qsTr("The material could not be installed. Please try again.")
    readonly property string installErrorOutOfDate:
        qsTr("The material could not be installed. Printer is too far out of date.")
    property string installErrorMessage: installErrorGeneric

    // Fills MaterialDocumentMediator.formValidationErrorMessages; the form screen adds the
    // fields that hold a refused text.
    property var validate: function () {
        formSectionHeader.forceActiveFocus()
        MaterialDocumentMediator.validateDocumentFields()
    }

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
        validate()
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

    function install() {
        if (!NetworkConnectionMediator.connected) {
            noPrinterDialog.open()
            return
        }
        if (!isEnabled)
            return
        if (!validateOrShowMessages())
            return
        if (MaterialDocumentMediator.documentHasUnsavedChanges()) {
            saveRequiredDialog.open()
            return
        }
        var groupKey = Globals.settingsUser_GetGroupKey()
        // A key of another length would send a text that no printer can decrypt.
        if (!MaterialDocumentMediator.groupKeyLengthValid(groupKey)) {
            invalidGroupKeyDialog.open()
            return
        }
        var document = MaterialDocumentMediator.document
        if (!document)
            return
        isEnabled = false
        var xml = document.ToXMLString()
        if (!NetworkConnectionMediator.sendMaterialString(utility.encryptDocumentForInstall(groupKey, xml))) {
            installFailed(installErrorGeneric)
            return
        }
        console.info("Install button sent material request")
        uploadedAMaterial = true
    }

    function installFailed(message) {
        uploadedAMaterial = false
        installErrorMessage = message
        // Opened after the printer item's signal has returned: the dialog reads the
        // printer's name, and a disconnect may be reported from inside the item.
        Qt.callLater(showInstallFailed)
    }

    // A result dialog with the text naming the printer as it is now; the button is free again.
    function showInstallResult(dialog, message) {
        isEnabled = true
        dialog.message = message
        dialog.popupHeight = dialog.defaultPopupHeight
        dialog.heightComputed = false
        dialog.open()
    }

    function showInstallFailed() {
        if (NetworkConnectionMediator.connected)
            showInstallResult(installFailedDialog,
                              DistributionMediator.getPrinterNameAndIP() + "\n\n" + installErrorMessage)
        else
            showInstallResult(installFailedDialog,
                              qsTr("There is no printer connected. Please connect to a printer on the ")
                              + qsTr("Settings") + qsTr(" page of the Home screen."))
    }

    function showInstallSucceeded() {
        showInstallResult(installSucceededDialog,
                          DistributionMediator.getPrinterNameAndIP() + qsTr(" can now print using these material settings."))
    }

    // Denials and a lost connection count only while an install awaits its answer.
    Connections {
        target: NetworkConnectionMediator
        function onMaterialListChanged(ip) {
            // The list also "changes" to empty when the printer goes away: no success then.
            if (!NetworkConnectionMediator.connected) {
                formSectionHeader.connectionLost()
                return
            }
            if (formSectionHeader.uploadedAMaterial)
                Qt.callLater(formSectionHeader.showInstallSucceeded)
            formSectionHeader.uploadedAMaterial = false
        }
        function onMaterialDenied() {
            if (formSectionHeader.uploadedAMaterial)
                formSectionHeader.installFailed(formSectionHeader.installErrorGeneric)
        }
        function onDeniedByInvalidKey() {
            if (formSectionHeader.uploadedAMaterial)
                formSectionHeader.installFailed(formSectionHeader.installErrorOutOfDate)
        }
        function onDisconnected() {
            formSectionHeader.connectionLost()
        }
        function onIsConnected(ip) {
            if (!NetworkConnectionMediator.connected)
                formSectionHeader.connectionLost()
        }
    }

    function connectionLost() {
        if (!uploadedAMaterial)
            return
        isEnabled = true
        installFailed(installErrorGeneric)
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
            id: installButton
            width: 100
            height: Globals.actionButtonHeight
            fontSize: 14
            text: formSectionHeader.isEnabled ? qsTr("Install") : qsTr("Installing...")
            backgroundColor: formSectionHeader.isEnabled ? Globals.colorPrimary1 : Globals.colorTransparent
            backgroundColorHovered: formSectionHeader.isEnabled ? Globals.colorPrimary2 : Globals.colorTransparent
            // A click leaves the focus in the form: a field still holding a refused text
            // must keep it, so that the check lists it instead of sending the value before it.
            focusPolicy: Qt.TabFocus
            onClicked: formSectionHeader.install()
        }

        ButtonAction {
            id: distributeButton
            width: 100
            height: Globals.actionButtonHeight
            fontSize: 14
            text: qsTr("Distribute")
            focusPolicy: Qt.TabFocus
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

    PopupDialog {
        id: noPrinterDialog
        title: qsTr("No connected printer")
        message: qsTr("There is no printer connected. Connect to a printer in the Settings section of the Home screen.")
        buttonVisibleCancel: false
        closeOnClickOutside: true
    }

    PopupDialog {
        id: saveRequiredDialog
        title: qsTr("Save required")
        message: qsTr("Click the Save icon and save a local copy of the file. Then click the Install button again.")
        buttonVisibleCancel: false
        closeOnClickOutside: true
    }

    PopupDialog {
        id: invalidGroupKeyDialog
        title: qsTr("Invalid group key")
        message: MaterialDocumentMediator.invalidGroupKeyMessage
        buttonVisibleCancel: false
        closeOnClickOutside: true
    }

    PopupDialog {
        id: installFailedDialog
        title: qsTr("Material installation failed")
        buttonVisibleCancel: false
        closeOnClickOutside: true
        onClickedConfirm: formSectionHeader.installErrorMessage = formSectionHeader.installErrorGeneric
    }

    PopupDialog {
        id: installSucceededDialog
        title: qsTr("Material installation successful")
        buttonVisibleCancel: false
        closeOnClickOutside: true
    }
}
