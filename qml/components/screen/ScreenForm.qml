import QtQuick 2.15
import QtQuick.Controls 2.15
import Qt.labs.platform 1.1 as Platform
import com.vtr.Gelvantrium 1.0
import "../.."
import ".."

// The material form screen: header, document tabs and the help drawer, with the
// save and distribute dialogs and the close prompt. It stays at the bottom of the
// stack for the whole run.
Rectangle {
    id: screenForm

    property string closeTabKey: ""
    property bool saveBeforeClosingInProgress: false

    // The screen lives at the bottom of the stack from the start; its content is built
    // the first time it is shown or a document needs it (ensureContent()).
    readonly property var formHeader: content.item ? content.item.formHeader : null
    readonly property var closeableTabView: content.item ? content.item.closeableTabView : null
    readonly property var documentationDrawer: content.item ? content.item.documentationDrawer : null
    readonly property var saveDialog: content.item ? content.item.saveDialog : null
    readonly property var distributeDialog: content.item ? content.item.distributeDialog : null
    readonly property var validationDialog: content.item ? content.item.validationDialog : null
    readonly property var closePrompt: content.item ? content.item.closePrompt : null
    readonly property var messageDialog: content.item ? content.item.messageDialog : null

    // Opens a file dialog; tests replace it to answer the dialog themselves.
    property var openFileDialog: function (dialog) { dialog.open() }

    color: Globals.colorNeutral4

    Utilities {
        id: utility
    }

    Connections {
        target: MaterialDocumentMediator
        function onOpenNewFormTabSignal() { screenForm.openDocument() }
        function onDocumentSwitchedSignal(key) { screenForm.documentSwitchedSlot() }
        // Without content there is no tab to close or rename.
        function onCloseTabSignal(key) {
            if (screenForm.closeableTabView)
                screenForm.closeableTabView.closeTabSlot(key)
        }
        function onTabKeyChangedSignal(oldKey, newKey) {
            if (screenForm.closeableTabView)
                screenForm.closeableTabView.tabKeyChangedSlot(oldKey, newKey)
        }
    }

    // Built on the first show after start-up, not while the stack is being filled: Home
    // is pushed over this screen at once.
    onVisibleChanged: {
        if (visible)
            Qt.callLater(screenForm.ensureContentIfVisible)
    }
    Component.onCompleted: {
        if (visible)
            Qt.callLater(screenForm.ensureContentIfVisible)
    }

    function ensureContentIfVisible() {
        if (visible)
            ensureContent()
    }

    function ensureContent() {
        content.active = true
    }

    // Made when the first document opens, so the form's types load only then.
    property Component formComponent: null

    function openDocument() {
        ensureContent()
        if (!formComponent)
            formComponent = Qt.createComponent("../form/FormSectionForm.qml")
        closeableTabView.insertTab(MaterialDocumentMediator.documentKey, formComponent)
        documentSwitchedSlot()
    }

    function documentSwitchedSlot() {
        var machine = MaterialDocumentMediator.machine
        var name = machine ? Globals.getPrinterFriendlyName(machine.modelName) : undefined
        if (!formHeader)
            return
        formHeader.machineModelName = name === undefined ? "" : name
    }

    function showMessage(title, message) {
        ensureContent()
        messageDialog.title = title
        messageDialog.message = message
        // Each message gets the height it needs.
        messageDialog.popupHeight = messageDialog.defaultPopupHeight
        messageDialog.heightComputed = false
        messageDialog.open()
    }

    // ---- save ----

    function proposedSaveName() {
        var filename = MaterialDocumentMediator.documentFilename
        var extension = Globals.materialFileExtension
        if (filename.length >= extension.length && filename.lastIndexOf(extension) === filename.length - extension.length)
            return filename
        var document = MaterialDocumentMediator.document
        if (document && document.friendlyName !== "")
            return document.friendlyName
        return filename + extension
    }

    // The document's folder, or home when that folder does not exist (a home without a
    // documents folder): a dialog given a missing folder opens elsewhere and proposes a
    // name with folders in front that cannot be saved to. Ends with "/".
    function dialogFolderPath() {
        var directory = MaterialDocumentMediator.localPathFromKey(MaterialDocumentMediator.documentFileDirectoryPath)
        if (utility.folderExists(MaterialDocumentMediator.urlFromLocalPath(directory)))
            return directory
        var home = MaterialDocumentMediator.localPathFromUrl(
            Platform.StandardPaths.writableLocation(Platform.StandardPaths.HomeLocation))
        return home.charAt(home.length - 1) === "/" ? home : home + "/"
    }

    function proposedFileUrl(name) {
        return MaterialDocumentMediator.urlFromLocalPath(dialogFolderPath() + name)
    }

    // The platform dialog is made at its first opening and drops a file proposed before
    // that, so the proposal is given again once it is open.
    function openFileDialogWithProposal(dialog, fileUrl) {
        dialog.folder = MaterialDocumentMediator.urlFromLocalPath(dialogFolderPath())
        dialog.currentFile = fileUrl
        openFileDialog(dialog)
        dialog.currentFile = fileUrl
    }

    function saveDocument() {
        ensureContent()
        openFileDialogWithProposal(saveDialog, proposedFileUrl(proposedSaveName()))
    }

    function saveDialogAccepted(fileUrl) {
        ensureContent()
        var result = MaterialDocumentMediator.saveDocument(fileUrl)
        var document = MaterialDocumentMediator.document
        var saved = document !== null && !document.hasError && result === MaterialDocumentMediator.documentKey
        if (!saved) {
            console.error(result)
            // The reason alone ("No such file or directory") does not say where.
            var path = MaterialDocumentMediator.localPathFromUrl(fileUrl)
            if (path !== "" && String(result).indexOf(path) < 0)
                result = qsTr("Could not write %1: %2").arg(path).arg(result)
            showMessage(qsTr("Save failed."), result)
        }
        saveBeforeClosingHandler(saved)
    }

    function saveDialogRejected() {
        saveBeforeClosingHandler(false)
    }

    function saveBeforeClosingHandler(wasSaved) {
        if (!saveBeforeClosingInProgress)
            return
        saveBeforeClosingInProgress = false
        if (wasSaved) {
            // A new document's key changed with the save.
            closeTabKey = MaterialDocumentMediator.documentKey
            closeTab()
        } else {
            closeTabKey = ""
        }
    }

    // ---- close ----

    function closeClickedHandler(key) {
        ensureContent()
        closeTabKey = key
        if (MaterialDocumentMediator.documentHasUnsavedChanges(key)) {
            closeableTabView.switchToTabByKey(key)
            // The prompt takes the focus; a refused text being typed stays for its Save to list.
            holdRefusedFields(key)
            closePrompt.open()
        } else {
            closeTab()
        }
    }

    function closeTab() {
        ensureContent()
        closeableTabView.closeTab(closeTabKey)
        closeTabKey = ""
    }

    // The validation messages of the refused texts in the fields of key's tab, which keep them.
    function holdRefusedFields(key) {
        var tab = closeableTabView.getTabByKey(key)
        return tab && tab.item ? tab.item.holdRefusedFields() : []
    }

    // Fills the validation messages: first the fields that hold a refused text (which stay
    // there to be corrected: the document has the value before it), then the document's
    // own. With no refused text, editing ends first, so the check sees what the fields show.
    function validateDocumentAndFields() {
        ensureContent()
        var refused = holdRefusedFields(MaterialDocumentMediator.documentKey)
        if (refused.length === 0)
            screenForm.forceActiveFocus()
        MaterialDocumentMediator.validateDocumentFields()
        if (refused.length > 0)
            MaterialDocumentMediator.formValidationErrorMessages =
                    refused.concat(MaterialDocumentMediator.formValidationErrorMessages)
    }

    function closePromptSave() {
        validateDocumentAndFields()
        if (MaterialDocumentMediator.formValidationErrorMessages.length > 0) {
            validationDialog.open()
            return
        }
        saveBeforeClosingInProgress = true
        saveDocument()
    }

    // ---- distribute ----

    function distributeDocument() {
        ensureContent()
        if (MaterialDocumentMediator.documentHasUnsavedChanges()) {
            showMessage(qsTr("Unsaved changes"),
                        qsTr("Click the Save icon to save your changes. Then click the Distribute button again."))
            return
        }
        if (!DistributionMediator.distributionPasswordValid) {
            showMessage(qsTr("Invalid distribution password"),
                        qsTr("Set a valid distribution password in the Settings section of the Home screen."))
            return
        }
        if (!MaterialDocumentMediator.groupKeyLengthValid(Globals.settingsUser_GetGroupKey())) {
            showMessage(qsTr("Invalid group key"), MaterialDocumentMediator.invalidGroupKeyMessage)
            return
        }
        var name = MaterialDocumentMediator.documentFilename
        if (name === "" && MaterialDocumentMediator.document)
            name = MaterialDocumentMediator.document.friendlyName
        openFileDialogWithProposal(distributeDialog, proposedFileUrl(name + "d"))
    }

    function distributeDialogAccepted(fileUrl) {
        ensureContent()
        var result = MaterialDocumentMediator.distributeDocument(fileUrl)
        if (result !== true) {
            console.error(result)
            showMessage(qsTr("Distribution failed."), result)
        }
    }

    // ---- help drawer ----

    function toggleDocumentationDrawer() {
        ensureContent()
        if (documentationDrawer.visible) {
            documentationDrawer.previousWidth = documentationDrawer.width
            documentationDrawer.width = 0
            documentationDrawer.visible = false
        } else {
            documentationDrawer.width = documentationDrawer.previousWidth
            documentationDrawer.visible = true
            documentationDrawer.everShown = true
            var wanted = closeableTabView.width + documentationDrawer.previousWidth
            if (wanted > ApplicationWindowMediator.width)
                ApplicationWindowMediator.resize(wanted)
        }
    }

    Loader {
        id: content
        anchors.fill: parent
        active: false
        onLoaded: screenForm.documentSwitchedSlot()
        source: "ScreenFormContent.qml"
    }
}
