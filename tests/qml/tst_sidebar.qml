import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"

// The Home sidebar: its links and the software-update bar with its dialogs,
// driven by a stand-in of UpdateHelper so that every answer comes on cue.
TestCase {
    id: testCase
    name: "HomeSectionWelcome"
    width: 400
    height: 800
    visible: true // hidden items get no pointer events
    when: windowShown

    Component { id: updateHelperStandIn; UpdateHelperStandIn {} }

    Component { id: sidebarComponent; HomeSectionWelcome { width: 300; height: 760 } }

    SignalSpy { id: closeSpy; target: ApplicationWindowMediator; signalName: "closeApplicationSignal" }

    property var helper: null

    function makeSidebar(helperProperties) {
        helper = createTemporaryObject(updateHelperStandIn, testCase, helperProperties || {})
        return createTemporaryObject(sidebarComponent, testCase, { updateHelper: helper })
    }

    // The sidebar with an update offered and its automatic dialog already shown this run.
    function offeringSidebar() {
        Globals.updateAutomaticallyPromptShown = true
        var sidebar = makeSidebar()
        helper.returnCheckForUpdateResponse(true)
        return sidebar
    }

    function selectedLinks(sidebar) {
        return [sidebar.navOptionGettingStarted, sidebar.navOptionMaterials, sidebar.navOptionSettings,
                sidebar.navOptionSupport].filter(function (link) { return link.selected })
                                          .map(function (link) { return link.text })
    }

    function init() {
        ApplicationWindowMediator.splashScreenVisible = false
        Globals.updateAutomaticallyPromptShown = false
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(true)
        closeSpy.clear()
    }

    // Leave no document behind that would count as unsaved in the next test.
    function cleanup() {
        MaterialDocumentMediator.openDocumentKeys().forEach(function (key) {
            MaterialDocumentMediator.closeDocument(key)
        })
    }

    function test_exactlyOneLinkSelected_data() {
        return [
            { tag: "settings", link: "navOptionSettings", signal: "showHomeSectionSettings" },
            { tag: "materials again", link: "navOptionMaterials", signal: "showHomeSectionMaterials" }
        ]
    }

    function test_exactlyOneLinkSelected(data) {
        var sidebar = makeSidebar()
        compare(selectedLinks(sidebar), ["Materials"])
        // Start from another link so that every row, Materials included, is a real change.
        mouseClick(data.link === "navOptionSettings" ? sidebar.navOptionSupport : sidebar.navOptionSettings)
        var spy = createTemporaryQmlObject("import QtTest 1.2; SignalSpy {}", testCase)
        spy.target = sidebar
        spy.signalName = data.signal
        mouseClick(sidebar[data.link])
        compare(selectedLinks(sidebar), [sidebar[data.link].text])
        // A click on the selected link does nothing.
        mouseClick(sidebar[data.link])
        compare(spy.count, 1)
    }

    // The check runs when the splash goes, and whenever Home shows again.
    function test_checkTriggers() {
        ApplicationWindowMediator.splashScreenVisible = true
        var sidebar = makeSidebar()
        compare(helper.checks, 0)
        ApplicationWindowMediator.splashScreenVisible = false
        compare(helper.checks, 1)
        sidebar.visible = false
        sidebar.visible = true
        compare(helper.checks, 2)
        helper.returnCheckForUpdateResponse(false)
        verify(!sidebar.applicationUpdateNotification.visible)
        verify(!sidebar.applicationUpdateNotificationDialog.visible)
    }

    function test_automaticDialogOpensOncePerRun() {
        var first = makeSidebar()
        first.updateHelper.returnCheckForUpdateResponse(true)
        tryCompare(first.applicationUpdateNotificationDialog, "visible", true)
        compare(first.applicationUpdateNotificationDialog.title, "Gelvantrium Update 1.2.0")
        compare(first.applicationUpdateNotificationDialog.message, "Faster and safer.")
        first.applicationUpdateNotificationDialog.close()
        tryCompare(first.applicationUpdateNotificationDialog, "visible", false)

        // Home shown again builds a new sidebar: the bar is offered, the dialog is not.
        var second = makeSidebar()
        second.updateHelper.returnCheckForUpdateResponse(true)
        wait(50)
        verify(!second.applicationUpdateNotificationDialog.visible)
        verify(second.applicationUpdateNotification.visible)
        compare(second.applicationUpdateNotification.text, "Download Version 1.2.0")
    }

    function test_noAutomaticDialogWhenSwitchedOff() {
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(false)
        var sidebar = makeSidebar()
        helper.returnCheckForUpdateResponse(true)
        wait(50)
        verify(!sidebar.applicationUpdateNotificationDialog.visible)
        // A click on the bar still offers the update.
        mouseClick(sidebar.applicationUpdateNotification)
        tryCompare(sidebar.applicationUpdateNotificationDialog, "visible", true)
    }

    function test_downloadShowsProgressThenInstallText() {
        var sidebar = offeringSidebar()
        var bar = sidebar.applicationUpdateNotification
        sidebar.applicationUpdateNotificationDialog.clickedConfirm()
        helper.returnDownloadProgressUpdate(250, 1000, "250 bytes", "1000 bytes", "")
        verify(bar.downloading && !bar.textVisible)
        compare([bar.progressValue, bar.progressMaximum], [250, 1000])

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
            { tag: "installer not saved", fileNotFound: true },
            { tag: "launch without installer", launch: true }
        ]
    }

    function test_failedDownloadShowsUpdateFailed(data) {
        var sidebar = offeringSidebar()
        var bar = sidebar.applicationUpdateNotification
        if (data.launch) {
            bar.launchInstaller()
        } else {
            sidebar.startDownload()
            helper.returnDownloadProgressUpdate(10, 1000, "10 bytes", "1000 bytes", "")
            if (data.fileNotFound)
                helper.returnDownloadFileNotFound("https://127.0.0.1/installer.pkg")
            else
                helper.returnDownloadUpdateResponse(false)
        }
        tryCompare(sidebar.applicationUpdateNotificationFailedDialog, "visible", true)
        compare(sidebar.applicationUpdateNotificationFailedDialog.title, "Update failed.")
        compare(sidebar.applicationUpdateNotificationFailedDialog.message,
                "Please quit Gelvantrium and try to update again. If the problem persists, contact "
                + Globals.zqContactEmail + ".")
        compare(bar.text, "Download Version 1.2.0")
        verify(bar.textVisible && !bar.downloading)
        compare([helper.launches, closeSpy.count], [0, 0])
    }

    // A ready installer is offered without a check; a refused launch keeps the offer
    // and says so (regression: it did nothing at all).
    function test_readyInstaller_data() {
        return [ { tag: "launched", launchResult: true }, { tag: "launch refused", launchResult: false } ]
    }

    function test_readyInstaller(data) {
        var sidebar = makeSidebar({ installerReady: true, launchResult: data.launchResult })
        compare(helper.checks, 0)
        compare(sidebar.applicationUpdateNotification.text, "Quit and Install Now")
        mouseClick(sidebar.applicationUpdateNotification)
        compare(helper.launches, 1)
        compare(closeSpy.count, data.launchResult ? 1 : 0)
        if (data.launchResult)
            compare(closeSpy.signalArguments[0][0], true)
        else
            compare(sidebar.applicationUpdateNotification.text, "Quit and Install Now")
        compare(sidebar.applicationUpdateNotificationLaunchFailedDialog.visible, !data.launchResult)
        verify(!sidebar.applicationUpdateNotificationFailedDialog.visible)
        sidebar.applicationUpdateNotificationLaunchFailedDialog.close()
    }

    // Regression: the installer was launched, and the application force-closed,
    // while a document had unsaved changes.
    function test_unsavedChangesStopInstallerLaunch_data() {
        return [
            { tag: "one edited document", documents: 1 },
            { tag: "edited document in the background", documents: 2 }
        ]
    }

    function test_unsavedChangesStopInstallerLaunch(data) {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        var edited = MaterialDocumentMediator.document
        if (data.documents > 1)
            verify(MaterialDocumentMediator.createDocument("ORV_2.0_BB"))
        edited.friendlyName = "Edited resin"

        var sidebar = makeSidebar({ installerReady: true })
        mouseClick(sidebar.applicationUpdateNotification)
        var dialog = sidebar.applicationUpdateNotificationUnsavedChangesDialog
        tryCompare(dialog, "visible", true)
        compare(dialog.title, "Please save your changes.")
        compare(dialog.message,
                "Gelvantrium must restart to install the update. Please save and close all open material files.")
        compare([helper.launches, closeSpy.count], [0, 0])
        compare(edited.friendlyName, "Edited resin")
        compare(sidebar.applicationUpdateNotification.text, "Quit and Install Now")
    }
}
