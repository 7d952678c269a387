import QtQuick 2.15
import QtQuick.Controls 2.15
import Qt.labs.settings 1.1
import Qt.labs.platform 1.1 as Platform
import "../.."
import ".."
import "../action"
import "../field"

// Materials section of Home: open a file, create a document for a printer model,
// and the recent-materials list.
Item {
    id: homeSectionMaterials

    property var model: null
    property int minimumWidth: 0
    // Display names of the printer models, in the stored order.
    property var printerModelNames: []

    readonly property alias printerModelComboBox: printerModelComboBox
    readonly property alias newButton: newButton
    readonly property alias browseButton: browseButton
    readonly property alias recentList: recentList
    readonly property alias noRecentMaterialsText: noRecentMaterialsText
    readonly property alias popupFileOpen: popupFileOpen
    readonly property alias popupFileMissing: popupFileMissing
    readonly property alias fileDialog: fileDialog
    property alias selectedPrinterModelName: homeSettings.selectedPrinterModelName

    property bool fillingPrinterModels: false

    Component.onCompleted: fillPrinterModels()

    Connections {
        target: Globals
        function onPrinterModelsUpdatedSignal() { homeSectionMaterials.fillPrinterModels() }
    }

    Settings {
        id: homeSettings
        category: "Home"
        property string selectedPrinterModelName: ""
    }

    function fillPrinterModels() {
        fillingPrinterModels = true
        var models = Globals.settingsUser_GetPrinterModels()
        var names = []
        var ids = Object.keys(models)
        for (var i = 0; i < ids.length; ++i)
            names.push(models[ids[i]])
        printerModelNames = names
        printerModelComboBox.values = names
        var index = names.indexOf(homeSettings.selectedPrinterModelName)
        if (index < 0)
            index = names.length > 0 ? 0 : -1
        printerModelComboBox.currentIndex = index
        fillingPrinterModels = false
    }

    function selectedPrinterModel() {
        var index = printerModelComboBox.currentIndex
        return index >= 0 && index < printerModelNames.length ? printerModelNames[index] : undefined
    }

    // stackView is the window's screen stack; popping Home reveals the document.
    function documentOpened(result) {
        if (result === true) {
            stackView.popScreen()
            return true
        }
        if (result !== undefined) {
            popupFileOpen.message = String(result)
            popupFileOpen.open()
        }
        return false
    }

    function openFileAccepted(fileUrl) {
        return documentOpened(MaterialDocumentMediator.loadDocument(fileUrl))
    }

    function createNewDocument() {
        var displayName = selectedPrinterModel()
        if (displayName === undefined)
            return false
        if (MaterialDocumentMediator.createDocument(Globals.getPrinterName(displayName)) === true) {
            stackView.popScreen()
            return true
        }
        return false
    }

    function recentIndexOfPath(path) {
        if (!model)
            return -1
        for (var i = 0; i < model.count; ++i) {
            if (model.get(i).path === path)
                return i
        }
        return -1
    }

    // The entry is looked up again by its path, since the list may have changed meanwhile.
    function removeRecentPath(path) {
        var index = recentIndexOfPath(path)
        if (index >= 0)
            MaterialDocumentMediator.removeRecentFile(index)
    }

    function openRecentFile(path) {
        if (!MaterialDocumentMediator.fileExistsForKey(path)) {
            popupFileMissing.missingPath = path
            popupFileMissing.message = qsTr("The file at ") + MaterialDocumentMediator.localPathFromKey(path)
                    + qsTr(" could not be opened. It will be removed from the recent Materials list.")
            popupFileMissing.open()
            return false
        }
        return documentOpened(MaterialDocumentMediator.loadDocument(path))
    }

    HomeSectionScroll {
        id: flickable
        minimumWidth: homeSectionMaterials.minimumWidth
        margin: Globals.gridSpacing
        innerHeight: content.height

        Item {
            id: content
            x: Globals.gridSpacing
            y: Globals.gridSpacing
            width: flickable.contentWidth - 2 * Globals.gridSpacing
            height: header.height + Math.max(recentList.height,
                                             noRecentMaterialsText.visible
                                             ? Globals.gridSpacing + noRecentMaterialsText.height : 0)

            Rectangle {
                id: header
                z: 1
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.right: parent.right
                height: 100
                color: Globals.colorNeutral4

                ButtonAction {
                    id: browseButton
                    anchors.left: parent.left
                    anchors.verticalCenter: parent.verticalCenter
                    width: 150
                    height: Globals.actionButtonHeight
                    text: qsTr("Browse...")
                    backgroundColor: Globals.colorButtonActionBackground
                    backgroundColorHovered: Globals.colorButtonActionBackgroundHovered
                    onClicked: fileDialog.open()
                }

                ButtonAction {
                    id: newButton
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    width: 100
                    height: Globals.actionButtonHeight
                    text: qsTr("New")
                    enabled: printerModelComboBox.currentIndex >= 0
                    onClicked: homeSectionMaterials.createNewDocument()
                }

                FieldComboBox {
                    id: printerModelComboBox
                    anchors.right: newButton.left
                    anchors.rightMargin: Globals.gridSpacing
                    anchors.verticalCenter: parent.verticalCenter
                    width: 300
                    values: []
                    visible: homeSectionMaterials.printerModelNames.length !== 1
                    onSelectionChanged: {
                        if (!homeSectionMaterials.fillingPrinterModels && currentIndex >= 0)
                            homeSettings.selectedPrinterModelName = homeSectionMaterials.printerModelNames[currentIndex]
                    }
                }
            }

            Text {
                id: noRecentMaterialsText
                anchors.top: header.bottom
                anchors.topMargin: Globals.gridSpacing
                anchors.horizontalCenter: parent.horizontalCenter
                visible: recentList.count === 0
                text: qsTr("There are no recent materials.")
                font.pointSize: 15
                color: Globals.colorWhite
            }

            ListView {
                id: recentList
                anchors.top: header.bottom
                anchors.left: parent.left
                anchors.right: parent.right
                height: count * 100
                interactive: false
                model: homeSectionMaterials.model
                Component.onCompleted: MaterialDocumentMediator.verifyRecentFiles()

                delegate: HomeSectionMaterialsRecentRow {
                    width: recentList.width
                    fileName: model.fileName
                    printerModel: model.printerModel !== undefined ? model.printerModel : ""
                    lastUpdatedDate: model.lastUpdatedDate
                    friendlyColor: model.friendlyColor
                    onOpenClicked: homeSectionMaterials.openRecentFile(model.path)
                    onRemoveClicked: homeSectionMaterials.removeRecentPath(model.path)
                }
            }
        }
    }

    Platform.FileDialog {
        id: fileDialog
        title: qsTr("Please choose a file")
        fileMode: Platform.FileDialog.OpenFile
        nameFilters: [qsTr("Veltrisan Material File (*") + Globals.materialFileExtension + ")"]
        folder: Platform.StandardPaths.writableLocation(Platform.StandardPaths.HomeLocation)
        onAccepted: homeSectionMaterials.openFileAccepted(file)
    }

    PopupDialog {
        id: popupFileOpen
        title: qsTr("Open failed.")
        buttonVisibleCancel: false
    }

    PopupDialog {
        id: popupFileMissing
        property string missingPath: ""
        title: qsTr("Could not open file")
        buttonVisibleCancel: false
        onClickedConfirm: homeSectionMaterials.removeRecentPath(missingPath)
    }
}
