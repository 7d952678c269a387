import QtQuick 2.15
import Qt.labs.settings 1.1
import "../../"
import "../home"

// The home screen: the sidebar on the left, one of the four sections to its right.
// Built afresh each time it is pushed.
Rectangle {
    id: screenHome

    readonly property int layoutMinimumWidth: 1100
    readonly property int layoutMinimumHeight: 500
    readonly property int sidebarWidth: 300
    readonly property int sectionMinimumWidth: layoutMinimumWidth - sidebarWidth
    // Below this the sidebar and the sections keep their layout and are cut at the bottom.
    readonly property real layoutHeight: Math.max(height, layoutMinimumHeight)
    readonly property alias materialsSection: homeSectionMaterials
    readonly property alias settingsSection: homeSectionSettings
    readonly property alias sidebar: homeSectionWelcome

    color: Globals.colorNeutral4

    // Read once: the Settings section keeps it up to date from then on.
    Settings {
        id: printerStore
        category: "PrinterIP"
        property bool wasConnectedOnLastLoad: false
    }

    Component.onCompleted: {
        if (printerStore.wasConnectedOnLastLoad)
            homeSectionSettings.active = true
    }

    function hideAllSections() {
        homeSectionGettingStarted.visible = false
        homeSectionMaterials.visible = false
        homeSectionSettings.visible = false
        homeSectionSupport.visible = false
    }

    Item {
        id: sections
        anchors.left: homeSectionWelcome.right
        anchors.right: parent.right
        anchors.top: parent.top
        height: screenHome.layoutHeight

        // Its web view starts the web engine's own processes, so it is built the first
        // time it is shown rather than with every Home screen.
        Loader {
            id: homeSectionGettingStarted
            anchors.fill: parent
            active: false
            visible: false
            sourceComponent: Component {
                HomeSectionGettingStarted {
                    minimumWidth: screenHome.sectionMinimumWidth
                }
            }
        }

        HomeSectionMaterials {
            id: homeSectionMaterials
            anchors.fill: parent
            minimumWidth: screenHome.sectionMinimumWidth
            model: MaterialDocumentMediator.recentFiles
            visible: true
        }

        // Built with Home only when its printer part has a printer to reconnect to,
        // otherwise the first time it is shown.
        Loader {
            id: homeSectionSettings
            anchors.fill: parent
            active: false
            visible: false
            sourceComponent: Component {
                HomeSectionSettings {
                    minimumWidth: screenHome.sectionMinimumWidth
                }
            }
        }

        // Hidden at first, so built the first time it is shown, after Home's first frame.
        Loader {
            id: homeSectionSupport
            anchors.fill: parent
            active: false
            visible: false
            sourceComponent: Component {
                HomeSectionSupport {
                    minimumWidth: screenHome.sectionMinimumWidth
                }
            }
        }
    }

    // Declared after the sections so it is drawn above them.
    HomeSectionWelcome {
        id: homeSectionWelcome
        anchors.left: parent.left
        anchors.top: parent.top
        height: screenHome.layoutHeight
        width: screenHome.sidebarWidth

        onShowHomeSectionGettingStarted: {
            screenHome.hideAllSections()
            homeSectionGettingStarted.active = true
            homeSectionGettingStarted.visible = true
        }
        onShowHomeSectionMaterials: {
            screenHome.hideAllSections()
            MaterialDocumentMediator.verifyRecentFiles()
            homeSectionMaterials.visible = true
        }
        onShowHomeSectionSettings: {
            screenHome.hideAllSections()
            homeSectionSettings.active = true
            homeSectionSettings.item.getUserSettingsValues()
            homeSectionSettings.visible = true
        }
        onShowHomeSectionSupport: {
            screenHome.hideAllSections()
            homeSectionSupport.active = true
            homeSectionSupport.visible = true
        }
    }
}
