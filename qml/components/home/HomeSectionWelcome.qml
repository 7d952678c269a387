import QtQuick 2.15
import QtQuick.Controls 2.15
import com.vtr.Gelvantrium 1.0
import "../.."
import ".."

// The Home sidebar: section links, version line, EULA link and the software-update bar.
Rectangle {
    id: homeSectionWelcome

    // The update service. Tests hand in a stand-in with the same members.
    property QtObject updateHelper: UpdateHelper {}

    readonly property alias navOptionGettingStarted: navOptionGettingStarted
    readonly property alias navOptionMaterials: navOptionMaterials
    readonly property alias navOptionSettings: navOptionSettings
    readonly property alias navOptionSupport: navOptionSupport
    readonly property alias applicationUpdateNotification: applicationUpdateNotification
    readonly property alias applicationUpdateNotificationDialog: applicationUpdateNotificationDialog
    readonly property alias applicationUpdateNotificationUnsavedChangesDialog: applicationUpdateNotificationUnsavedChangesDialog
    readonly property alias applicationUpdateNotificationFailedDialog: applicationUpdateNotificationFailedDialog
    readonly property alias applicationUpdateNotificationLaunchFailedDialog: applicationUpdateNotificationLaunchFailedDialog

    signal showHomeSectionGettingStarted()
    signal showHomeSectionMaterials()
    signal showHomeSectionSettings()
    signal showHomeSectionSupport()

    color: Globals.colorNeutral3

    Component.onCompleted: start()
    onVisibleChanged: start()

    Connections {
        target: ApplicationWindowMediator
        function onSplashScreenHiddenSignal() { homeSectionWelcome.start() }
    }

    Connections {
        target: homeSectionWelcome.updateHelper
        function onReturnCheckForUpdateResponse(updateExists) {
            homeSectionWelcome.returnCheckForUpdateResponse(updateExists)
        }
        function onReturnDownloadProgressUpdate(received, total, sizeReceived, sizeTotal, timeRemaining) {
            homeSectionWelcome.returnDownloadProgressUpdate(received, total, sizeReceived, sizeTotal,
                                                            timeRemaining)
        }
        function onReturnDownloadUpdateResponse(downloadWasSuccessful) {
            homeSectionWelcome.returnDownloadUpdateResponse(downloadWasSuccessful)
        }
        function onReturnDownloadFileNotFound(url) {
            homeSectionWelcome.returnDownloadFileNotFound(url)
        }
    }

    function start() {
        if (ApplicationWindowMediator.splashScreenVisible || !visible)
            return
        if (updateHelper.isInstallerReady())
            applicationUpdateNotification.showLaunchInstallerText()
        else
            updateHelper.checkForUpdate()
    }

    function navbarOptionClicked(homeSectionName) {
        navOptionGettingStarted.selected = false
        navOptionMaterials.selected = false
        navOptionSettings.selected = false
        navOptionSupport.selected = false
        if (homeSectionName === Globals.homeSectionNameGettingStarted)
            showHomeSectionGettingStarted()
        else if (homeSectionName === Globals.homeSectionNameMaterials)
            showHomeSectionMaterials()
        else if (homeSectionName === Globals.homeSectionNameSettings)
            showHomeSectionSettings()
        else if (homeSectionName === Globals.homeSectionNameSupport)
            showHomeSectionSupport()
    }

    function returnCheckForUpdateResponse(updateExists) {
        if (!updateExists)
            return
        applicationUpdateNotification.showDownloadPrompt()
        if (Globals.settingsUser_GetUpdateAutomaticallyPrompt() && !Globals.updateAutomaticallyPromptShown) {
            Globals.updateAutomaticallyPromptShown = true
            applicationUpdateNotificationDialog.open()
        }
    }

    function returnDownloadProgressUpdate(received, total, sizeReceived, sizeTotal, timeRemaining) {
        console.log("Update download progress: " + received + " " + total + " " + sizeReceived + " "
                    + sizeTotal + " " + timeRemaining)
        applicationUpdateNotification.updateProgressBar(received, total)
    }

    // Only a download that was saved may be offered for launch; the forced quit
    // after a launch leaves no way back from a broken installer.
    function returnDownloadUpdateResponse(downloadWasSuccessful) {
        if (downloadWasSuccessful)
            applicationUpdateNotification.showLaunchInstallerText()
        else
            applicationUpdateNotificationFailedDialog.open()
    }

    function returnDownloadFileNotFound(url) {
        applicationUpdateNotificationFailedDialog.open()
    }

    function updateBarClicked() {
        if (updateHelper.isInstallerReady())
            applicationUpdateNotification.launchInstaller()
        else if (!applicationUpdateNotification.downloading)
            applicationUpdateNotificationDialog.open()
    }

    function startDownload() {
        // Shown at once, so that a second click cannot start a second download.
        applicationUpdateNotification.updateProgressBar(0, 0)
        updateHelper.startDownload()
    }

    Text {
        id: welcomeTitle
        anchors.left: parent.left
        anchors.leftMargin: Globals.gridSpacing
        anchors.top: parent.top
        anchors.topMargin: 2 * Globals.gridSpacing
        text: qsTr("Welcome")
        font.pointSize: 30
        color: Globals.colorWhite
    }

    Column {
        id: navOptions
        anchors.top: welcomeTitle.bottom
        anchors.topMargin: Globals.gridSpacing
        anchors.left: parent.left
        anchors.right: parent.right

        HomeSectionWelcomeNavOption {
            id: navOptionGettingStarted
            width: parent.width
            height: 2 * Globals.gridSpacing
            text: Globals.homeSectionNameGettingStarted
            onClicked: homeSectionWelcome.navbarOptionClicked(text)
        }
        HomeSectionWelcomeNavOption {
            id: navOptionMaterials
            width: parent.width
            height: 2 * Globals.gridSpacing
            text: Globals.homeSectionNameMaterials
            selected: true
            onClicked: homeSectionWelcome.navbarOptionClicked(text)
        }
        HomeSectionWelcomeNavOption {
            id: navOptionSettings
            width: parent.width
            height: 2 * Globals.gridSpacing
            text: Globals.homeSectionNameSettings
            onClicked: homeSectionWelcome.navbarOptionClicked(text)
        }
        HomeSectionWelcomeNavOption {
            id: navOptionSupport
            width: parent.width
            height: 2 * Globals.gridSpacing
            text: Globals.homeSectionNameSupport
            onClicked: homeSectionWelcome.navbarOptionClicked(text)
        }
    }

    Image {
        id: logo
        anchors.left: parent.left
        anchors.leftMargin: Globals.gridSpacing
        anchors.bottom: applicationUpdateNotification.top
        anchors.bottomMargin: 24
        width: 240
        height: width / 5.17
        fillMode: Image.PreserveAspectFit
        source: "../../images/Gelvantrium_logo_text_white_1x.png"
    }

    Text {
        id: eulaLink
        anchors.top: logo.bottom
        anchors.right: parent.right
        anchors.rightMargin: Globals.gridSpacing + 12
        width: 50
        text: qsTr("View EULA")
        font.pointSize: 10
        color: eulaMouseArea.containsMouse ? Globals.colorSecondary2 : Globals.colorSecondary1

        MouseArea {
            id: eulaMouseArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: Qt.openUrlExternally(Globals.applicationEULA)
        }
    }

    Text {
        id: versionText
        anchors.top: logo.bottom
        anchors.right: eulaLink.left
        anchors.rightMargin: 10
        horizontalAlignment: Text.AlignRight
        text: qsTr("Version ") + Qt.application.version
        font.pointSize: 10
        color: Globals.colorNeutral1
    }

    Rectangle {
        id: applicationUpdateNotification

        property string newApplicationVersion: ""
        property string releaseNotes: ""
        readonly property bool downloading: visible && progressRow.visible
        readonly property alias text: updateText.text
        readonly property alias textVisible: updateText.visible
        readonly property alias progressValue: progressBar.value
        readonly property alias progressMaximum: progressBar.to

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        visible: false
        height: 0
        color: Globals.colorPrimary1
        clip: true

        function show() {
            visible = true
            height = Globals.fieldLabelHeight
        }

        function showDownloadPrompt() {
            newApplicationVersion = homeSectionWelcome.updateHelper.getUpdateVersionNumber()
            releaseNotes = homeSectionWelcome.updateHelper.getUpdateReleaseNotes()
            updateText.text = qsTr("Download Version ") + newApplicationVersion
            updateText.visible = true
            progressRow.visible = false
            show()
        }

        function updateProgressBar(received, total) {
            // An unknown total (-1) leaves an empty bar rather than a full one.
            progressBar.to = Math.max(total, received, 1)
            progressBar.value = received
            updateText.visible = false
            progressRow.visible = true
            show()
        }

        function showLaunchInstallerText() {
            updateText.text = qsTr("Quit and Install Now")
            updateText.visible = true
            progressRow.visible = false
            show()
        }

        function launchInstaller() {
            if (!homeSectionWelcome.updateHelper.isInstallerReady()) {
                applicationUpdateNotificationFailedDialog.open()
                return
            }
            if (MaterialDocumentMediator.anyDocumentHasUnsavedChanges()) {
                applicationUpdateNotificationUnsavedChangesDialog.open()
                return
            }
            if (homeSectionWelcome.updateHelper.launchInstaller())
                ApplicationWindowMediator.closeApplication(true)
            else
                applicationUpdateNotificationLaunchFailedDialog.open()
        }

        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            height: 1
            color: Globals.colorPrimary2
        }

        Text {
            id: updateText
            anchors.top: parent.top
            anchors.topMargin: 6
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Download Software Update")
            // The version comes from the update feed.
            textFormat: Text.PlainText
            font.pointSize: 13
            color: Globals.colorWhite
        }

        Row {
            id: progressRow
            visible: false
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: Globals.gridSpacing
            anchors.rightMargin: Globals.gridSpacing
            anchors.verticalCenter: parent.verticalCenter
            spacing: Globals.gridSpacing / 2

            Text {
                id: downloadingText
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("Downloading")
                font.pointSize: 13
                color: Globals.colorWhite
            }

            ProgressBar {
                id: progressBar
                anchors.verticalCenter: parent.verticalCenter
                width: progressRow.width - downloadingText.width - progressRow.spacing
                height: 16
                from: 0
                to: 1
                value: 0
                background: Rectangle {
                    implicitHeight: 16
                    color: "transparent"
                    border.color: Globals.colorWhite
                    border.width: 1
                    radius: 2
                }
                contentItem: Item {
                    implicitHeight: 16
                    Rectangle {
                        width: progressBar.visualPosition * parent.width
                        height: parent.height
                        radius: 2
                        color: Globals.colorWhite
                    }
                }
            }
        }

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: homeSectionWelcome.updateBarClicked()
        }
    }

    PopupDialog {
        id: applicationUpdateNotificationDialog
        title: Qt.application.name + qsTr(" Update ") + applicationUpdateNotification.newApplicationVersion
        message: applicationUpdateNotification.releaseNotes
        buttonTextConfirm: qsTr("Download")
        popupWidth: Math.min(900, ApplicationWindowMediator.width - 2 * Globals.gridSpacing)
        closeOnClickOutside: true
        onClickedConfirm: homeSectionWelcome.startDownload()
    }

    PopupDialog {
        id: applicationUpdateNotificationUnsavedChangesDialog
        title: qsTr("Please save your changes.")
        message: Qt.application.name
                 + qsTr(" must restart to install the update. Please save and close all open material files.")
        buttonVisibleCancel: false
        popupWidth: Math.min(700, ApplicationWindowMediator.width - 2 * Globals.gridSpacing)
        closeOnClickOutside: true
    }

    PopupDialog {
        id: applicationUpdateNotificationFailedDialog
        title: qsTr("Update failed.")
        message: qsTr("Please quit ") + Qt.application.name
                 + qsTr(" and try to update again. If the problem persists, contact ") + Globals.zqContactEmail
                 + "."
        buttonVisibleCancel: false
        onOpened: applicationUpdateNotification.showDownloadPrompt()
    }

    // The installer is still ready, so the bar keeps offering it (unlike the failed dialog).
    PopupDialog {
        id: applicationUpdateNotificationLaunchFailedDialog
        title: qsTr("Could not start the installer.")
        message: qsTr("Your desktop did not open the downloaded installer. Please try again. If the problem persists, contact ")
                 + Globals.zqContactEmail + "."
        buttonVisibleCancel: false
        closeOnClickOutside: true
    }
}
