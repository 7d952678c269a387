import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"

// The Home sidebar: its links and the software-update bar with its dialogs,
// driven by a stand-in of UpdateHelper so that every answer comes on cue.
Item {
    id: root
    width: 400
    height: 800

    TestCase {
        id: testCase
        name: "HomeSectionWelcome"
        when: windowShown

        Component {
            id: updateHelperStandIn
            QtObject {
                property bool installerReady: false
                property bool launchResult: true
                property string version: "1.2.0"
                property string notes: "Faster and safer."
                property int checks: 0
                property int downloads: 0
                property int launches: 0

                signal returnCheckForUpdateResponse(var updateExists)
                signal returnDownloadProgressUpdate(var received, var total, var sizeReceived, var sizeTotal,
                                                    var timeRemaining)
                signal returnDownloadUpdateResponse(var downloadWasSuccessful)
                signal returnDownloadFileNotFound(string url)

                function checkForUpdate() { ++checks }
                function getUpdateVersionNumber() { return version }
                function getUpdateReleaseNotes() { return notes }
                function startDownload() { ++downloads }
                function isInstallerReady() { return installerReady }
                function launchInstaller() { ++launches; return launchResult }
            }
        }

        Component {
            id: sidebarComponent
            HomeSectionWelcome {
                width: 300
                height: 760
            }
        }

        SignalSpy {
            id: closeSpy
            target: ApplicationWindowMediator
            signalName: "closeApplicationSignal"
        }

        property var helper: null

        function makeSidebar() {
            helper = createTemporaryObject(updateHelperStandIn, root)
            var sidebar = createTemporaryObject(sidebarComponent, root, { updateHelper: helper })
            verify(sidebar !== null)
            return sidebar
        }

        function selectedLinks(sidebar) {
            var links = [sidebar.navOptionGettingStarted, sidebar.navOptionMaterials,
                         sidebar.navOptionSettings, sidebar.navOptionSupport]
            var names = []
            for (var i = 0; i < links.length; ++i) {
                if (links[i].selected)
                    names.push(links[i].text)
            }
            return names
        }

        function init() {
            ApplicationWindowMediator.splashScreenVisible = false
            Globals.updateAutomaticallyPromptShown = false
            Globals.settingsUser_SetUpdateAutomaticallyPrompt(true)
            closeSpy.clear()
        }

        function cleanup() {
            // Leave no document behind that would count as unsaved in the next test.
            var keys = []
            for (var i = 0; i < MaterialDocumentMediator.documents.count; ++i)
                keys.push(MaterialDocumentMediator.documents.get(i).documentKey)
            if (MaterialDocumentMediator.documentKey !== "")
                keys.push(MaterialDocumentMediator.documentKey)
            for (var k = 0; k < keys.length; ++k)
                MaterialDocumentMediator.closeDocument(keys[k])
        }

        function test_materialsIsSelectedAtStart() {
            var sidebar = makeSidebar()
            compare(selectedLinks(sidebar), ["Materials"])
        }

        function test_exactlyOneLinkSelected_data() {
            return [
                { tag: "getting started", link: "navOptionGettingStarted", signal: "showHomeSectionGettingStarted" },
                { tag: "settings", link: "navOptionSettings", signal: "showHomeSectionSettings" },
                { tag: "support", link: "navOptionSupport", signal: "showHomeSectionSupport" },
                { tag: "materials again", link: "navOptionMaterials", signal: "showHomeSectionMaterials" }
            ]
        }

        function test_exactlyOneLinkSelected(data) {
            var sidebar = makeSidebar()
            // Start from another link so that every row, Materials included, is a real change.
            mouseClick(data.link === "navOptionSettings" ? sidebar.navOptionSupport : sidebar.navOptionSettings)
            var spy = createTemporaryQmlObject("import QtTest 1.2; SignalSpy {}", testCase)
            spy.target = sidebar
            spy.signalName = data.signal
            mouseClick(sidebar[data.link])
            compare(spy.count, 1)
            compare(selectedLinks(sidebar), [sidebar[data.link].text])
        }

        function test_clickOnSelectedLinkDoesNothing() {
            var sidebar = makeSidebar()
            var spy = createTemporaryQmlObject("import QtTest 1.2; SignalSpy {}", testCase)
            spy.target = sidebar
            spy.signalName = "showHomeSectionMaterials"
            mouseClick(sidebar.navOptionMaterials)
            compare(spy.count, 0)
            compare(selectedLinks(sidebar), ["Materials"])
        }

        function test_noCheckWhileSplashIsShown() {
            ApplicationWindowMediator.splashScreenVisible = true
            var sidebar = makeSidebar()
            compare(helper.checks, 0)
            ApplicationWindowMediator.splashScreenVisible = false
            compare(helper.checks, 1)
            verify(!sidebar.applicationUpdateNotification.visible)
        }

        function test_checkRunsWhenShownAgain() {
            var sidebar = makeSidebar()
            compare(helper.checks, 1)
            sidebar.visible = false
            compare(helper.checks, 1)
            sidebar.visible = true
            compare(helper.checks, 2)
        }

        function test_noUpdateLeavesBarHidden() {
            var sidebar = makeSidebar()
            helper.returnCheckForUpdateResponse(false)
            verify(!sidebar.applicationUpdateNotification.visible)
            compare(sidebar.applicationUpdateNotification.height, 0)
            verify(!sidebar.applicationUpdateNotificationDialog.visible)
        }

        function test_automaticDialogOpensOncePerRun() {
            var first = makeSidebar()
            first.updateHelper.returnCheckForUpdateResponse(true)
            tryCompare(first.applicationUpdateNotificationDialog, "visible", true)
            compare(first.applicationUpdateNotificationDialog.title, "Gelvantrium Update 1.2.0")
            compare(first.applicationUpdateNotificationDialog.message, "Faster and safer.")
            verify(Globals.updateAutomaticallyPromptShown)
            first.applicationUpdateNotificationDialog.close()
            tryCompare(first.applicationUpdateNotificationDialog, "visible", false)

            first.updateHelper.returnCheckForUpdateResponse(true)
            wait(50)
            verify(!first.applicationUpdateNotificationDialog.visible)
            compare(first.applicationUpdateNotification.text, "Download Version 1.2.0")

            // Home shown again builds a new sidebar: the bar is offered, the dialog is not.
            var second = makeSidebar()
            second.updateHelper.returnCheckForUpdateResponse(true)
            wait(50)
            verify(!second.applicationUpdateNotificationDialog.visible)
            verify(second.applicationUpdateNotification.visible)
            compare(second.applicationUpdateNotification.height, Globals.fieldLabelHeight)
        }

        function test_noAutomaticDialogWhenSwitchedOff() {
            Globals.settingsUser_SetUpdateAutomaticallyPrompt(false)
            var sidebar = makeSidebar()
            helper.returnCheckForUpdateResponse(true)
            wait(50)
            verify(!sidebar.applicationUpdateNotificationDialog.visible)
            verify(!Globals.updateAutomaticallyPromptShown)
            compare(sidebar.applicationUpdateNotification.text, "Download Version 1.2.0")
            // A click on the bar still offers the update.
            mouseClick(sidebar.applicationUpdateNotification)
            tryCompare(sidebar.applicationUpdateNotificationDialog, "visible", true)
        }

        function test_downloadShowsProgressThenInstallText() {
            Globals.updateAutomaticallyPromptShown = true
            var sidebar = makeSidebar()
            var bar = sidebar.applicationUpdateNotification
            helper.returnCheckForUpdateResponse(true)
            sidebar.applicationUpdateNotificationDialog.clickedConfirm()
            compare(helper.downloads, 1)
            verify(bar.downloading)

            helper.returnDownloadProgressUpdate(250, 1000, "250 bytes", "1000 bytes", "")
            verify(bar.downloading)
            verify(!bar.textVisible)
            compare(bar.progressValue, 250)
            compare(bar.progressMaximum, 1000)

            // A click while downloading neither opens the dialog nor starts another download.
            mouseClick(bar)
            wait(50)
            verify(!sidebar.applicationUpdateNotificationDialog.visible)
            compare(helper.downloads, 1)

            helper.installerReady = true
            helper.returnDownloadUpdateResponse(true)
            verify(!bar.downloading)
            compare(bar.text, "Quit and Install Now")
        }

        // Regression: a failed download was offered as "Quit and Install Now".
        function test_failedDownloadShowsUpdateFailed_data() {
            return [
                { tag: "download not successful", fileNotFound: false },
                { tag: "installer not saved", fileNotFound: true }
            ]
        }

        function test_failedDownloadShowsUpdateFailed(data) {
            Globals.updateAutomaticallyPromptShown = true
            var sidebar = makeSidebar()
            var bar = sidebar.applicationUpdateNotification
            helper.returnCheckForUpdateResponse(true)
            sidebar.startDownload()
            helper.returnDownloadProgressUpdate(10, 1000, "10 bytes", "1000 bytes", "")
            if (data.fileNotFound)
                helper.returnDownloadFileNotFound("https://127.0.0.1/installer.pkg")
            else
                helper.returnDownloadUpdateResponse(false)
            tryCompare(sidebar.applicationUpdateNotificationFailedDialog, "visible", true)
            compare(sidebar.applicationUpdateNotificationFailedDialog.title, "Update failed.")
            compare(sidebar.applicationUpdateNotificationFailedDialog.message,
                    "Please quit Gelvantrium and try to update again. If the problem persists, contact "
                    + Globals.zqContactEmail + ".")
            compare(bar.text, "Download Version 1.2.0")
            verify(bar.textVisible)
            verify(!bar.downloading)
        }

        function test_homeWithReadyInstallerOffersInstallWithoutCheck() {
            helper = createTemporaryObject(updateHelperStandIn, root, { installerReady: true })
            var sidebar = createTemporaryObject(sidebarComponent, root, { updateHelper: helper })
            compare(helper.checks, 0)
            verify(sidebar.applicationUpdateNotification.visible)
            compare(sidebar.applicationUpdateNotification.text, "Quit and Install Now")
        }

        function test_launchInstallsAndQuits() {
            helper = createTemporaryObject(updateHelperStandIn, root, { installerReady: true })
            var sidebar = createTemporaryObject(sidebarComponent, root, { updateHelper: helper })
            mouseClick(sidebar.applicationUpdateNotification)
            compare(helper.launches, 1)
            compare(closeSpy.count, 1)
            compare(closeSpy.signalArguments[0][0], true)
        }

        function test_refusedLaunchKeepsInstallText() {
            helper = createTemporaryObject(updateHelperStandIn, root, { installerReady: true, launchResult: false })
            var sidebar = createTemporaryObject(sidebarComponent, root, { updateHelper: helper })
            mouseClick(sidebar.applicationUpdateNotification)
            compare(helper.launches, 1)
            compare(closeSpy.count, 0)
            compare(sidebar.applicationUpdateNotification.text, "Quit and Install Now")
            verify(!sidebar.applicationUpdateNotificationFailedDialog.visible)
        }

        function test_launchWithoutInstallerShowsUpdateFailed() {
            var sidebar = makeSidebar()
            helper.returnCheckForUpdateResponse(true)
            sidebar.applicationUpdateNotificationDialog.close()
            sidebar.applicationUpdateNotification.launchInstaller()
            tryCompare(sidebar.applicationUpdateNotificationFailedDialog, "visible", true)
            compare(helper.launches, 0)
            compare(closeSpy.count, 0)
        }

        // Regression: the installer was launched, and the application force-closed,
        // while a document had unsaved changes.
        function test_unsavedChangesStopInstallerLaunch_data() {
            return [
                { tag: "one edited document", documents: 1, editCurrent: true },
                { tag: "edited document in the background", documents: 2, editCurrent: false }
            ]
        }

        function test_unsavedChangesStopInstallerLaunch(data) {
            verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
            var edited = MaterialDocumentMediator.document
            if (data.documents > 1)
                verify(MaterialDocumentMediator.createDocument("ORV_2.0_BB"))
            edited.friendlyName = "Edited resin"
            verify(data.editCurrent === (edited === MaterialDocumentMediator.document))

            helper = createTemporaryObject(updateHelperStandIn, root, { installerReady: true })
            var sidebar = createTemporaryObject(sidebarComponent, root, { updateHelper: helper })
            mouseClick(sidebar.applicationUpdateNotification)
            tryCompare(sidebar.applicationUpdateNotificationUnsavedChangesDialog, "visible", true)
            compare(sidebar.applicationUpdateNotificationUnsavedChangesDialog.title, "Please save your changes.")
            compare(sidebar.applicationUpdateNotificationUnsavedChangesDialog.message,
                    "Gelvantrium must restart to install the update. Please save and close all open material files.")
            compare(helper.launches, 0)
            compare(closeSpy.count, 0)
            compare(edited.friendlyName, "Edited resin")
            compare(sidebar.applicationUpdateNotification.text, "Quit and Install Now")
        }
    }
}
