import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"
import "qrc:/components/form"
import "qrc:/components/screen"

// The Home screen's sections, each built on its own with stand-ins where it talks to
// the outside: the sidebar with its update bar, Materials with the real document
// workspace, Getting Started, Settings with printer stand-ins each on a free loopback
// address, and Support.
TestCase {
    id: testCase
    name: "Home"
    width: 1200
    height: 1500 // the printer's materials are below the fold of a smaller window
    visible: true // hidden items get no pointer events
    when: windowShown

    // Stands in for the window's screen stack, which Materials pops to reveal a document.
    Item {
        id: stackView
        property int pops: 0
        function popScreen() { ++pops }
    }

    // A file dialog hands over a url value, not a text.
    QtObject { id: chosenFile; property url value }

    // Stands in for UpdateHelper: it answers only when a test makes it, and counts the calls.
    Component {
        id: updateHelperStandIn
        QtObject {
            property bool installerReady: false; property bool launchResult: true
            property int checks: 0; property int downloads: 0; property int launches: 0
            signal returnCheckForUpdateResponse(var updateExists)
            signal returnDownloadProgressUpdate(var received, var total, var sizeReceived, var sizeTotal, var timeRemaining)
            signal returnDownloadUpdateResponse(var downloadWasSuccessful)
            signal returnDownloadFileNotFound(string url)
            function checkForUpdate() { ++checks }
            function getUpdateVersionNumber() { return "1.2.0" }
            function getUpdateReleaseNotes() { return "Faster and safer." }
            function startDownload() { ++downloads }
            function isInstallerReady() { return installerReady }
            function launchInstaller() { ++launches; return launchResult }
        }
    }
    Component {
        id: openerStandIn
        QtObject { property var opened: []; function open(url) { opened = opened.concat([String(url)]) } }
    }
    Component {
        id: utilitiesStandIn
        QtObject {
            property var bodies: []
            signal supportRequestFail(string errorString)
            signal supportRequestSuccess()
            function submitSupportRequest(body) { bodies = bodies.concat([body]) }
        }
    }

    Component { id: sidebarComponent; HomeSectionWelcome { width: 300; height: 760 } }
    Component {
        id: materialsComponent
        HomeSectionMaterials { width: 900; height: 700; minimumWidth: 800; model: MaterialDocumentMediator.recentFiles }
    }
    Component { id: gettingStartedComponent; HomeSectionGettingStarted { width: 900; height: 650; minimumWidth: 800 } }
    Component { id: settingsComponent; HomeSectionSettings { width: 1100; height: 1450; minimumWidth: 800 } }
    Component { id: supportComponent; HomeSectionSupport { width: 800; height: 650; minimumWidth: 700 } }
    Component { id: homeScreenComponent; ScreenHome {} }
    Component {
        id: scrollComponent
        Item { width: 900; height: 600; property alias page: page; HomeSectionScroll { id: page; margin: Globals.gridSpacing } }
    }
    Component { id: headerComponent; FormSectionHeader { width: 1000 } }

    SignalSpy { id: closeSpy; target: ApplicationWindowMediator; signalName: "closeApplicationSignal" }

    readonly property string defaultModels: "{\"ORV_2.0_AA\":\"Orvo A\",\"ORV_2.0_BB\":\"Orvo B\",\"ORV_2.0_TT\":\"Tesk Print\"}"
    readonly property string tempFolder: testSupport.tempPath()
    readonly property string printerName: "Bench (north) Printer"
    readonly property string connectFailed: "Failed to connect to printer. Please check your network connection and try again."
    property var helper: null
    property var stand: null // the link opener or the support desk of the current test
    property var startedPrinters: []
    property string configuredDomain: ""

    function initTestCase() { configuredDomain = Qt.application.domain }

    function init() {
        ApplicationWindowMediator.splashScreenVisible = false
        Globals.updateAutomaticallyPromptShown = false
        ;["FirstName", "LastName", "Email", "Company", "GroupKey"].forEach(function (f) { Globals["settingsUser_Set" + f]("") })
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(true)
        Globals.settingsUser_SetPrinterModels(defaultModels)
        DistributionMediator.distributionPassword = ""
        ;[["Home/selectedPrinterModelName"], ["PrinterIP/printerIP", ""], ["PrinterIP/wasConnectedOnLastLoad", false],
          ["PrinterIP/previousPrintersDropdownList"]].forEach(function (r) { testSupport.setStoredSetting(r[0], r[1]) })
        MaterialDocumentMediator.recentFiles.clear()
        stackView.pops = 0
        closeSpy.clear()
    }

    function cleanup() {
        MaterialDocumentMediator.openDocumentKeys().forEach(function (key) { MaterialDocumentMediator.closeDocument(key) })
        NetworkConnectionMediator.disconnectFromPrinter(NetworkConnectionMediator.getPrinterIP(-1))
        startedPrinters.forEach(function (address) { testSupport.stopPrinter(address) })
        startedPrinters = []
        Qt.application.domain = configuredDomain
    }

    // The recent list is stored at exit; leave none for the tests that follow.
    function cleanupTestCase() { MaterialDocumentMediator.recentFiles.clear() }

    function make(component, properties) {
        var section = createTemporaryObject(component, testCase, properties || {})
        waitForRendering(section) // rows lay out their items when a frame is made
        return section
    }

    // The section as built anew, e.g. when Home shows again.
    function rebuilt(section, component) {
        section.destroy()
        wait(0)
        return make(component)
    }

    function typeInto(field, text) {
        mouseClick(field)
        keyClick(Qt.Key_A, Qt.ControlModifier)
        keyClick(Qt.Key_Delete)
        text.split("").forEach(function (key) { keyClick(key) })
    }

    // ---- sidebar and update bar ----

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

    function test_sidebarLinks_data() {
        return [
            { tag: "settings", link: "navOptionSettings", from: "navOptionSupport", signal: "showHomeSectionSettings" },
            { tag: "materials again", link: "navOptionMaterials", from: "navOptionSettings", signal: "showHomeSectionMaterials" }
        ]
    }

    function test_sidebarLinks(data) {
        var sidebar = makeSidebar()
        var selected = function () {
            return ["navOptionGettingStarted", "navOptionMaterials", "navOptionSettings", "navOptionSupport"]
                .filter(function (link) { return sidebar[link].selected })
        }
        compare(selected(), ["navOptionMaterials"])
        // Start from another link so that every row, Materials included, is a real change.
        mouseClick(sidebar[data.from])
        var spy = createTemporaryQmlObject("import QtTest 1.2; SignalSpy { signalName: '" + data.signal + "' }", testCase)
        spy.target = sidebar
        mouseClick(sidebar[data.link])
        mouseClick(sidebar[data.link]) // a click on the selected link does nothing
        compare(selected(), [data.link])
        compare(spy.count, 1)
    }

    // The check runs when the splash goes, and whenever Home shows again. The automatic dialog
    // opens once per run and only when the user wants it; the bar offers the update.
    function test_updateOffer_data() {
        return [ { tag: "prompt on", prompt: true }, { tag: "prompt off", prompt: false } ]
    }

    function test_updateOffer(data) {
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(data.prompt)
        ApplicationWindowMediator.splashScreenVisible = true
        var first = makeSidebar()
        var dialog = first.applicationUpdateNotificationDialog
        compare(helper.checks, 0)
        ApplicationWindowMediator.splashScreenVisible = false
        compare(helper.checks, 1)
        helper.returnCheckForUpdateResponse(false)
        verify(!first.applicationUpdateNotification.visible && !dialog.visible)
        first.visible = false
        first.visible = true
        compare(helper.checks, 2)
        helper.returnCheckForUpdateResponse(true)
        if (data.prompt) {
            tryCompare(dialog, "visible", true)
            compare([dialog.title, dialog.message], ["Gelvantrium Update 1.2.0", "Faster and safer."])
            dialog.close()
            tryCompare(dialog, "visible", false)
        }
        // Home shown again builds a new sidebar: the bar is offered, the dialog is not.
        var second = makeSidebar()
        helper.returnCheckForUpdateResponse(true)
        tryCompare(second.applicationUpdateNotification, "text", "Download Version 1.2.0", 20000)
        wait(50)
        verify(!dialog.visible && !second.applicationUpdateNotificationDialog.visible)
        mouseClick(second.applicationUpdateNotification)
        tryCompare(second.applicationUpdateNotificationDialog, "visible", true)
    }

    // The download shows its progress, then offers the install. Regression: a failed
    // download was offered as "Quit and Install Now".
    function test_download_data() {
        return [
            { tag: "downloaded", result: true },
            { tag: "download not successful", result: false },
            { tag: "installer not saved", fileNotFound: true },
            { tag: "launch without installer", launch: true }
        ]
    }

    function test_download(data) {
        var sidebar = offeringSidebar()
        var bar = sidebar.applicationUpdateNotification
        if (data.launch) {
            bar.launchInstaller()
        } else {
            sidebar.applicationUpdateNotificationDialog.clickedConfirm()
            helper.returnDownloadProgressUpdate(250, 1000, "250 bytes", "1000 bytes", "")
            verify(bar.downloading && !bar.textVisible)
            compare([bar.progressValue, bar.progressMaximum], [250, 1000])
            // A click while downloading neither opens the dialog nor starts another download.
            mouseClick(bar)
            wait(50)
            compare([sidebar.applicationUpdateNotificationDialog.visible, helper.downloads], [false, 1])
            helper.installerReady = data.result === true
            if (data.fileNotFound)
                helper.returnDownloadFileNotFound("https://127.0.0.1/installer.pkg")
            else
                helper.returnDownloadUpdateResponse(data.result)
        }
        verify(bar.textVisible && !bar.downloading)
        compare([helper.launches, closeSpy.count], [0, 0])
        if (data.result) {
            compare(bar.text, "Quit and Install Now")
            return
        }
        var failed = sidebar.applicationUpdateNotificationFailedDialog
        tryCompare(failed, "visible", true)
        compare([failed.title, failed.message], ["Update failed.", "Please quit Gelvantrium and try to update again. "
                + "If the problem persists, contact " + Globals.zqContactEmail + "."])
        compare(bar.text, "Download Version 1.2.0")
    }

    // A ready installer is offered without a check; a refused launch keeps the offer and
    // says so (regression: it did nothing at all); unsaved changes stop the launch
    // (regression: the application force-closed over them).
    function test_readyInstaller_data() {
        return [
            { tag: "launched", launchResult: true, launches: 1, closes: 1 },
            { tag: "launch refused", launchResult: false, launches: 1, closes: 0, dialog: "LaunchFailedDialog" },
            { tag: "edited document", documents: 1, launches: 0, closes: 0, dialog: "UnsavedChangesDialog" },
            { tag: "edited document in the background", documents: 2, launches: 0, closes: 0, dialog: "UnsavedChangesDialog" }
        ]
    }

    function test_readyInstaller(data) {
        if (data.documents) {
            verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
            MaterialDocumentMediator.document.friendlyName = "Edited resin"
            if (data.documents > 1)
                verify(MaterialDocumentMediator.createDocument("ORV_2.0_BB"))
        }
        var sidebar = makeSidebar({ installerReady: true, launchResult: data.launchResult !== false })
        compare([helper.checks, sidebar.applicationUpdateNotification.text], [0, "Quit and Install Now"])
        mouseClick(sidebar.applicationUpdateNotification)
        compare([helper.launches, closeSpy.count], [data.launches, data.closes])
        if (data.closes)
            compare(closeSpy.signalArguments[0][0], true)
        ;["LaunchFailedDialog", "UnsavedChangesDialog", "FailedDialog"].forEach(function (name) {
            tryCompare(sidebar["applicationUpdateNotification" + name], "visible", name === data.dialog)
            sidebar["applicationUpdateNotification" + name].close()
        })
        if (data.documents)
            compare(sidebar.applicationUpdateNotificationUnsavedChangesDialog.message,
                    "Gelvantrium must restart to install the update. Please save and close all open material files.")
        if (!data.closes)
            compare(sidebar.applicationUpdateNotification.text, "Quit and Install Now")
    }

    // ---- Materials ----

    function keyOf(name) { return Globals.filePrefix + tempFolder + "/" + name }

    function fileUrl(name) {
        chosenFile.value = "file://" + tempFolder + "/" + name
        return chosenFile.value
    }

    // Writes a real document file through the workspace and closes it again.
    function saveDocumentAs(name, model) {
        verify(MaterialDocumentMediator.createDocument(model))
        var key = MaterialDocumentMediator.saveDocument(keyOf(name))
        compare(key, keyOf(name))
        MaterialDocumentMediator.closeDocument(key)
        return key
    }

    // The list view lays out its rows on the next frame.
    function rowAt(section, index, fileName) {
        tryVerify(function () {
            var row = section.recentList.itemAtIndex(index)
            return row !== null && (fileName === undefined || row.fileName === fileName)
        })
        return section.recentList.itemAtIndex(index)
    }

    function recentEntry(name) {
        return { fileName: name, path: keyOf(name), printerModel: "Orvo A",
                 lastUpdatedDate: "Monday, January 5, 2026 10:00:00 AM", friendlyColor: "#ff8000" }
    }

    function test_printerModelList_data() {
        return [
            { tag: "stored name", models: defaultModels, stored: "Tesk Print",
              names: ["Orvo A", "Orvo B", "Tesk Print"], index: 2, shown: true },
            { tag: "stale stored name", models: defaultModels, stored: "Orvo Z",
              names: ["Orvo A", "Orvo B", "Tesk Print"], index: 0, shown: true },
            { tag: "single model", models: "{\"ORV_2.0_BB\":\"Orvo B\"}", stored: "Orvo A",
              names: ["Orvo B"], index: 0, shown: false },
            { tag: "two models in stored order", models: "{\"ORV_2.0_TT\":\"Tesk Print\",\"ORV_2.0_AA\":\"Orvo A\"}",
              stored: "", names: ["Tesk Print", "Orvo A"], index: 0, shown: true }
        ]
    }

    function test_printerModelList(data) {
        Globals.settingsUser_SetPrinterModels(data.models)
        if (data.stored !== "")
            testSupport.setStoredSetting("Home/selectedPrinterModelName", data.stored)
        var section = make(materialsComponent)
        var combo = section.printerModelComboBox
        compare([combo.values, combo.currentIndex, combo.visible], [data.names, data.index, data.shown])
        verify(section.newButton.enabled)
        // Filling the list never overwrites what the user chose last.
        compare(section.selectedPrinterModelName, data.stored)
        // The list follows the stored models; without any, New is off.
        Globals.settingsUser_SetPrinterModels("{\"ORV_2.0_TT\":\"Tesk Print\"}")
        compare([combo.values, combo.visible], [["Tesk Print"], false])
        Globals.settingsUser_SetPrinterModels("{}")
        compare(combo.currentIndex, -1)
        verify(!section.newButton.enabled)
    }

    function test_newCreatesDocumentOfChosenModel_data() {
        return [
            { tag: "third of three", models: defaultModels, choose: 2, id: "ORV_2.0_TT" },
            { tag: "only model", models: "{\"ORV_2.0_BB\":\"Orvo B\"}", choose: -1, id: "ORV_2.0_BB" }
        ]
    }

    function test_newCreatesDocumentOfChosenModel(data) {
        Globals.settingsUser_SetPrinterModels(data.models)
        var section = make(materialsComponent)
        if (data.choose >= 0)
            section.printerModelComboBox.currentIndex = data.choose
        var before = MaterialDocumentMediator.numberOfNewMaterials
        mouseClick(section.newButton)
        compare(stackView.pops, 1)
        var machine = MaterialDocumentMediator.machine
        compare([MaterialDocumentMediator.documentKey, machine.machineModelNameToString(machine.modelName)],
                ["NewMaterial" + (before + 1), data.id])
        // The choice is kept for the next time Home shows.
        compare(rebuilt(section, materialsComponent).printerModelComboBox.currentIndex, Math.max(data.choose, 0))
    }

    function test_fileOpens_data() {
        return [
            { tag: "from the recent list", browsed: false, opens: true },
            { tag: "browsed", browsed: true, opens: true },
            { tag: "browsed, not a material", browsed: true, opens: false }
        ]
    }

    function test_fileOpens(data) {
        var key = saveDocumentAs("recent open.zqmat", "ORV_2.0_BB")
        if (!data.opens)
            verify(testSupport.writeTextFile(tempFolder + "/recent open.zqmat", "not a material"))
        var section = make(materialsComponent)
        if (data.browsed) {
            compare(section.openFileAccepted(fileUrl("recent open.zqmat")), data.opens)
        } else {
            var row = rowAt(section, 0)
            compare([row.fileName, row.printerModel], ["recent open.zqmat", "Orvo B"])
            mouseClick(row)
        }
        compare([stackView.pops, MaterialDocumentMediator.documentKey], data.opens ? [1, key] : [0, ""])
        tryCompare(section.popupFileOpen, "visible", !data.opens)
        if (!data.opens)
            compare(section.popupFileOpen.title, "Open failed.")
    }

    // Files deleted before Home shows are dropped; one that vanishes while it shows is
    // removed once the user has been told.
    function test_missingRecentFile() {
        var keep = saveDocumentAs("kept.zqmat", "ORV_2.0_AA")
        MaterialDocumentMediator.recentFiles.append(recentEntry("never-written.zqmat"))
        var section = make(materialsComponent)
        compare(MaterialDocumentMediator.recentFiles.count, 1)
        MaterialDocumentMediator.recentFiles.insert(0, recentEntry("gone.zqmat"))
        mouseClick(rowAt(section, 0, "gone.zqmat"))
        tryCompare(section.popupFileMissing, "visible", true)
        compare([section.popupFileMissing.title, section.popupFileMissing.message], ["Could not open file", "The file at "
                + tempFolder + "/gone.zqmat could not be opened. It will be removed from the recent Materials list."])
        compare(stackView.pops, 0)
        section.popupFileMissing.close()
        section.popupFileMissing.clickedConfirm()
        compare([MaterialDocumentMediator.recentFiles.count, MaterialDocumentMediator.recentFiles.get(0).path], [1, keep])
    }

    function test_removeIconRemovesOneEntry() {
        var first = saveDocumentAs("first.zqmat", "ORV_2.0_AA")
        saveDocumentAs("second.zqmat", "ORV_2.0_AA")
        var section = make(materialsComponent)
        var stored = function () { return testSupport.settingsFileText() }
        verify(stored().indexOf("second.zqmat") >= 0)
        mouseClick(rowAt(section, 0, "second.zqmat").removeButton)
        compare([MaterialDocumentMediator.recentFiles.count, MaterialDocumentMediator.recentFiles.get(0).path], [1, first])
        // Regression: the removal was stored only at the next addition or at exit.
        compare([stored().indexOf("second.zqmat"), stored().indexOf("first.zqmat") >= 0, stackView.pops], [-1, true, 0])
        mouseClick(rowAt(section, 0, "first.zqmat").removeButton)
        tryCompare(section.noRecentMaterialsText, "visible", true)
    }

    // Regression: at the smallest size the window allowed, New and the model list lay outside it.
    function test_materialsHeaderFitsTheSmallestWindow() {
        var home = createTemporaryObject(homeScreenComponent, testCase,
                                         { width: Globals.windowMinimumWidth, height: Globals.windowMinimumHeight })
        var section = home.materialsSection
        var right = section.newButton.mapToItem(home, section.newButton.width, 0).x
        verify(right <= home.width, "New ends at " + right + " in a window " + home.width + " wide")
        verify(section.printerModelComboBox.mapToItem(home, 0, 0).x >= 300)
    }

    // A section page 900 by 600 with margins of 25: the bars appear only once the
    // content and its margins no longer fit.
    function test_sectionScrollBars_data() {
        return [
            { tag: "fits", minimumWidth: 850, innerHeight: 550, size: [900, 600],
              bars: [ScrollBar.AlwaysOff, ScrollBar.AlwaysOff] },
            { tag: "one wider", minimumWidth: 851, innerHeight: 550, size: [901, 600],
              bars: [ScrollBar.AlwaysOn, ScrollBar.AlwaysOff] },
            { tag: "one taller", minimumWidth: 850, innerHeight: 551, size: [900, 601],
              bars: [ScrollBar.AlwaysOff, ScrollBar.AlwaysOn] }
        ]
    }

    function test_sectionScrollBars(data) {
        var page = createTemporaryObject(scrollComponent, testCase).page
        page.minimumWidth = data.minimumWidth
        page.innerHeight = data.innerHeight
        compare([page.contentWidth, page.contentHeight], data.size)
        compare([page.ScrollBar.horizontal.policy, page.ScrollBar.vertical.policy], data.bars)
    }

    // ---- Getting Started ----

    function waitForPage(view, url) {
        tryVerify(function () { return String(view.url).indexOf(url) === 0 && !view.loading && view.loadProgress === 100 },
                  20000)
    }

    function runJavaScript(view, script) {
        var result = null
        view.runJavaScript(script, function (value) { result = value })
        tryVerify(function () { return result !== null }, 20000)
        return result
    }

    // Regression: the links pointed at a placeholder host. The page names the form's
    // actions and the printer connection's buttons.
    function test_gettingStartedLinksAndControls() {
        Qt.application.domain = "example.test"
        stand = createTemporaryObject(openerStandIn, testCase)
        var view = createTemporaryObject(gettingStartedComponent, testCase, { linkOpener: stand }).webView
        waitForPage(view, "qrc:/html/GettingStarted/GettingStarted.html")
        var joined = function (selector, expression, separator) {
            return runJavaScript(view, "Array.prototype.map.call(document.querySelectorAll('" + selector
                                 + "'), function (e) { return " + expression + "; }).join('" + separator + "')")
        }
        compare(joined("a", "e.href", " "),
                "https://example.test/gelvantrium/quick-start https://example.test/gelvantrium/faq")
        compare(joined("strong", "e.textContent", "|"), "Browse...|New|New|Install|Distribute|Validate|Save|Close|Help|Home|Install|Connect|Disconnect")
    }

    // ---- Settings ----

    // Typed, kept in the store, shown by a newly built section and read again when Settings shows.
    function test_profileFieldPersists_data() {
        return [["FirstName", "User/nameFirst", "Ada"], ["LastName", "User/nameLast", "Lovelace-King"],
                ["Email", "User/email", "ada@example.invalid"], ["Company", "User/company", "Veltrisan & Co"],
                ["GroupKey", "User/groupKey", "0123456789abcdefABCDEF0123456789"]].map(function (r) {
            return { tag: r[0], field: "profileSettings" + r[0] + "Field", name: r[0], key: r[1], text: r[2] }
        }).concat([{ tag: "update prompt", field: "automaticUpdatePromptEnabled", name: "UpdateAutomaticallyPrompt",
                     key: "User/updateAutomaticallyPrompt", text: false }])
    }

    function test_profileFieldPersists(data) {
        var section = make(settingsComponent)
        var box = data.text === false // the update prompt's box, on at first
        var shown = function () { return box ? section[data.field].isChecked : section[data.field].text }
        if (box)
            verify(shown())
        box ? mouseClick(section[data.field]) : typeInto(section[data.field], data.text)
        compare(Globals["settingsUser_Get" + data.name](), data.text)
        tryVerify(function () { return String(testSupport.storedSetting(data.key)) === String(data.text) }, 20000)
        section = rebuilt(section, settingsComponent)
        compare(shown(), data.text)
        Globals["settingsUser_Set" + data.name](box || "Grace")
        section.getUserSettingsValues()
        compare(shown(), box || "Grace")
    }

    function test_distributionPassword_data() {
        return [
            { tag: "valid", typed: "Abcdef1!", kept: "Abcdef1!", valid: true },
            { tag: "no symbol", typed: "Abcdefg1", kept: "Abcdefg1", valid: false },
            { tag: "cut at twelve", typed: "Abcdefgh12#zXY", kept: "Abcdefgh12#z", valid: true }
        ]
    }

    function test_distributionPassword(data) {
        var section = make(settingsComponent)
        verify(section.distributionPasswordInvalidMark.visible)
        typeInto(section.distributionPasswordField, data.typed)
        var shown = function () {
            return [section.distributionPasswordField.text, section.distributionPasswordValidMark.visible,
                    section.distributionPasswordInvalidMark.visible]
        }
        compare(shown(), [data.kept, data.valid, !data.valid])
        compare(DistributionMediator.distributionPassword, data.kept)
        tryVerify(function () { return testSupport.storedSetting("distributionPassword/password") === data.kept }, 20000)
        section = rebuilt(section, settingsComponent)
        compare(shown(), [data.kept, data.valid, !data.valid])
    }

    // A stand-in on the address, or on a free one of its own when that is empty; returns the address.
    function startPrinter(address, mode) {
        var options = ["--mode", mode, "--name", printerName, "--material", "Grey Resin", "--material", "Clear Resin"]
        if (address)
            verify(testSupport.startPrinter(address, options))
        else
            verify((address = testSupport.launchPrinter(options)) !== "")
        startedPrinters.push(address)
        return address
    }

    // A section connected by typing the address and pressing Connect.
    function connectedSection(address) {
        var section = make(settingsComponent)
        typeInto(section.printer.homeSectionSettingsPrinterIP, address)
        mouseClick(section.printer.connectDisconnectButton)
        compare(section.printer.connectDisconnectButton.text, "Connecting...")
        mouseClick(section.printer.connectDisconnectButton) // ignored while pending
        return section
    }

    // Connected until the user disconnects, the printer goes away, or nothing listens.
    function test_connection_data() {
        return [
            { tag: "user disconnects", printer: true, status: "Not Connected" },
            { tag: "printer goes away", printer: true, stops: true, status: "The printer was disconnected." },
            { tag: "nothing listens", address: testSupport.freeAddress(), status: connectFailed }
        ]
    }

    function test_connection(data) {
        var address = data.printer ? startPrinter("", "accept") : data.address
        var section = connectedSection(address)
        var printer = section.printer
        if (data.printer) {
            tryCompare(printer.connectDisconnectButton, "text", "Disconnect", 20000)
            tryCompare(printer.currentConnectionLabel, "text",
                       "Functional Connected IP = " + address + "\nPrinter Name = " + printerName, 20000)
            tryCompare(printer.materialListView, "model", ["Grey Resin", "Clear Resin"], 20000)
            compare(printer.recentPrinters, [printerName + " (" + address + ")"])
        }
        if (data.stops) {
            testSupport.stopPrinter(address)
        } else if (data.printer) {
            // Home shown again while connected: no new connection, the button offers Disconnect.
            section = rebuilt(section, settingsComponent)
            printer = section.printer
            compare(printer.connectDisconnectButton.text, "Disconnect")
            compare(testSupport.printerLog(address).filter(function (l) { return l.event === "connected" }).length, 1)
            mouseClick(printer.connectDisconnectButton)
            compare(printer.connectDisconnectButton.text, "Disconnecting...")
        }
        tryCompare(printer.currentConnectionLabel, "text", data.status, 20000)
        compare([printer.connectDisconnectButton.text, printer.materialListView.count], ["Connect", 0])
        if (data.printer && !data.stops) {
            section.destroy()
            wait(0)
            compare(["printerIP", "wasConnectedOnLastLoad", "previousPrintersDropdownList"].map(function (key) {
                return String(testSupport.storedSetting("PrinterIP/" + key)) }), [address, "false", printerName + " (" + address + ")"])
        }
    }

    function test_startUpReconnect_data() {
        return [
            { tag: "printer answers", printer: true, button: "Disconnect" },
            { tag: "no stored address", address: "", button: "Connect" },
            { tag: "printer unreachable, one retry after 5 s", address: testSupport.freeAddress(), button: "Connect", status: connectFailed }
        ]
    }

    function test_startUpReconnect(data) {
        var address = data.printer ? startPrinter("", "accept") : data.address
        // With every key stored: a missing one makes the settings object store all its
        // values as they are before loading, "wasConnectedOnLastLoad" = false included.
        ;[["printerIP", address], ["wasConnectedOnLastLoad", true],
          ["previousPrintersDropdownList", ["Lab (127.0.0.93)"]]].forEach(function (r) { testSupport.setStoredSetting("PrinterIP/" + r[0], r[1]) })
        var section = make(settingsComponent)
        var printer = section.printer
        compare(printer.attemptingToConnectText.visible, address !== "")
        if (data.status) {
            wait(2000)
            verify(printer.attemptingToConnectText.visible)
        }
        tryCompare(printer.connectionRow, "visible", true, 30000)
        verify(!printer.attemptingToConnectText.visible)
        tryCompare(printer.connectDisconnectButton, "text", data.button, 20000)
        if (!data.status)
            return
        compare(printer.currentConnectionLabel.text, data.status)
        // Regression: the stored state stayed "connected", so every return to Home waited
        // about 5.5 s on "Attempting to connect to printer..." and tried again.
        compare(String(testSupport.storedSetting("PrinterIP/wasConnectedOnLastLoad")), "false")
        printer = rebuilt(section, settingsComponent).printer
        verify(printer.connectionRow.visible && !printer.attemptingToConnectText.visible)
        verify(!printer.networkRetryTimer.running && !printer.connectTimer.running)
        compare(printer.connectDisconnectButton.text, "Connect")
    }

    // Regression: a Disconnect pressed while the start-up retry still ran was read at its next
    // tick as a failed first attempt, and the printer was connected again.
    function test_disconnectEndsStartUpRetry() {
        var address = startPrinter("", "accept")
        ;[["printerIP", address], ["wasConnectedOnLastLoad", true],
          ["previousPrintersDropdownList", []]].forEach(function (r) { testSupport.setStoredSetting("PrinterIP/" + r[0], r[1]) })
        var printer = make(settingsComponent).printer
        var retry = printer.networkRetryTimer
        // No tick before the user has disconnected, however slow the connect; a short one after.
        retry.interval = 600000
        tryCompare(printer.connectDisconnectButton, "text", "Disconnect", 20000)
        mouseClick(printer.connectDisconnectButton)
        tryCompare(printer.connectDisconnectButton, "text", "Connect", 20000)
        retry.interval = 100
        wait(2 * retry.interval + printer.connectTimer.interval + 100)
        compare([printer.connectDisconnectButton.text, NetworkConnectionMediator.connected], ["Connect", false])
        compare(testSupport.printerLog(address).filter(function (l) { return l.event === "connected" }).length, 1)
    }

    // Home builds the Settings section at once only for the start-up reconnect; otherwise
    // the first time it is shown, with the button offering Connect.
    function test_homeBuildsSettingsForReconnect_data() {
        return [
            { tag: "was connected", wasConnected: true, builtAtStart: true },
            { tag: "was not connected", wasConnected: false, builtAtStart: false }
        ]
    }

    function test_homeBuildsSettingsForReconnect(data) {
        ;[["printerIP", testSupport.freeAddress()], ["wasConnectedOnLastLoad", data.wasConnected],
          ["previousPrintersDropdownList", []]].forEach(function (r) { testSupport.setStoredSetting("PrinterIP/" + r[0], r[1]) })
        var home = createTemporaryObject(homeScreenComponent, testCase, { width: 1200, height: 800 })
        var loader = home.settingsSection
        compare(loader.status === Loader.Ready, data.builtAtStart)
        if (data.builtAtStart) {
            // Hidden with its section until shown: the waiting text replaces the row.
            verify(!loader.item.printer.showConnectionRow)
            verify(loader.item.printer.networkRetryTimer.running)
            return
        }
        Globals.settingsUser_SetFirstName("Ada")
        mouseClick(home.sidebar.navOptionSettings)
        compare(loader.status, Loader.Ready)
        verify(loader.visible && !home.materialsSection.visible)
        compare(loader.item.profileSettingsFirstNameField.text, "Ada")
        var printer = loader.item.printer
        verify(printer.connectionRow.visible && !printer.networkRetryTimer.running)
        compare(printer.connectDisconnectButton.text, "Connect")
    }

    // Regression: the status was refreshed only when a name arrived, so a printer that never
    // sends its name showed "Not Connected" beside a "Disconnect" button.
    function test_statusWithoutName() {
        var address = startPrinter("", "silent")
        var printer = connectedSection(address).printer
        tryCompare(printer.connectDisconnectButton, "text", "Disconnect", 20000)
        compare(printer.currentConnectionLabel.text, "Functional Connected IP = " + address)
    }

    // The address is the text in the entry's last parentheses: names may hold some too.
    function test_recentPrinters() {
        var address = startPrinter("", "accept")
        testSupport.setStoredSetting("PrinterIP/previousPrintersDropdownList", ["Lab (north) (" + address + ")", "Other (127.0.0.96)"])
        var section = make(settingsComponent)
        var printer = section.printer
        var dropdown = printer.homeSectionSettingsPrinterIPDropdown
        var openList = function () { mouseClick(printer.recentPrintersTriangle); tryCompare(dropdown.popup, "opened", true) }
        openList()
        mouseClick(dropdown.popup.contentItem.itemAtIndex(0))
        tryCompare(dropdown, "visible", false)
        compare(printer.homeSectionSettingsPrinterIP.text, address)
        // One entry per address, with the name the printer has now.
        tryCompare(printer, "recentPrinters", [printerName + " (" + address + ")", "Other (127.0.0.96)"], 20000)
        openList()
        mouseClick(printer.clearRecentLink)
        verify(!printer.recentPrintersTriangle.visible)
        compare(rebuilt(section, settingsComponent).printer.recentPrinters, [])
    }

    // Regression: every name a printer broadcast added an entry to the settings file (15,000
    // names gave 15,001 entries, three names of 8 MB a 24 MB file). One entry per address,
    // newest first, at most 10, names cut to 64 characters, stored once a connect succeeded.
    function test_recentPrintersBounded() {
        var stored = []
        for (var i = 0; i < 12; ++i)
            stored.push("Old " + i + " (127.0.1." + i + ")")
        stored.splice(1, 0, "Same address (127.0.1.0)", new Array(101).join("n") + " (127.0.1.99)")
        testSupport.setStoredSetting("PrinterIP/previousPrintersDropdownList", stored)
        var address = testSupport.launchFloodPrinter(["--name-flood", "200", "--name-length", "100000"])
        verify(address !== "")
        startedPrinters.push(address)
        var section = make(settingsComponent)
        var printer = section.printer
        var kept = ["Old 0 (127.0.1.0)", new Array(65).join("n") + " (127.0.1.99)"]
        for (i = 1; i < 9; ++i)
            kept.push("Old " + i + " (127.0.1." + i + ")")
        compare(printer.recentPrinters, kept)
        // Written back, after the settings store's own delay.
        tryVerify(function () {
            return JSON.stringify(testSupport.storedSetting("PrinterIP/previousPrintersDropdownList")) === JSON.stringify(kept)
        }, 20000)

        typeInto(printer.homeSectionSettingsPrinterIP, address)
        mouseClick(printer.connectDisconnectButton)
        tryVerify(function () { return NetworkConnectionMediator.getPrinterName(-1).indexOf("Flood 200 ") === 0 }, 30000)
        var expected = ["Flood printer (" + address + ")"].concat(kept.slice(0, 9))
        compare(printer.recentPrinters, expected)
        section.destroy()
        wait(0)
        compare(testSupport.storedSetting("PrinterIP/previousPrintersDropdownList"), expected)
        verify(testSupport.settingsFileText().length < 2000)
    }

    // Regression: a printer listing 100,000 empty names made the list build a row for each
    // (4.9 GB, 100 % CPU for 42 s at start-up). 4,000,000 names in 16 MiB, then a broadcast.
    function test_hugeMaterialList() {
        var address = testSupport.launchFloodPrinter(["--list-names", "4000000", "--broadcast-list"])
        verify(address !== "")
        startedPrinters.push(address)
        var lists = createTemporaryQmlObject("import QtTest 1.2; SignalSpy { signalName: 'materialListChanged' }", testCase)
        lists.target = NetworkConnectionMediator
        var printer = connectedSection(address).printer
        var list = printer.materialListView
        tryCompare(list, "count", 1000, 30000)
        tryVerify(function () { return printer.removalPending === false && list.count === 1000 }, 20000)
        // At connect, the answer, then the broadcast that follows.
        tryVerify(function () { return lists.count >= 3 }, 30000)
        waitForRendering(list)
        compare(list.height, 500)
        verify(list.interactive)
        var built = 0
        for (var i = 0; i < list.contentItem.children.length; ++i)
            built += list.contentItem.children[i].materialName !== undefined ? 1 : 0
        verify(built > 0 && built <= 10, "rows built: " + built)
    }

    // Refused removals; an older printer's is never reported as a failed install.
    function test_refusedRemoval_data() {
        return [
            { tag: "denied", mode: "deny" },
            { tag: "old printer", mode: "oldfirmware" }
        ]
    }

    function test_refusedRemoval(data) {
        var header = createTemporaryObject(headerComponent, testCase)
        var address = startPrinter("", data.mode)
        var printer = connectedSection(address).printer
        tryCompare(printer.materialListView, "count", 2, 20000)
        waitForRendering(printer)
        mouseClick(printer.materialListView.itemAtIndex(1).removeButton)
        var dialog = printer.deleteMaterialDialog
        tryCompare(dialog, "opened", true)
        compare([dialog.title, dialog.message],
                ["Delete Clear Resin", "Are you sure you want to delete Clear Resin from " + printerName + "?"])
        dialog.close()
        dialog.clickedConfirm()
        tryCompare(printer.failedToDeleteDialog, "opened", true, 20000)
        compare(testSupport.printerLog(address).filter(function (l) { return l.request === "set" }).length, 1)
        wait(300)
        verify(!header.installFailedDialog.opened)
        printer.failedToDeleteDialog.close()
    }

    // ---- Support ----

    function makeSupport(profile) {
        profile = profile || ["Ada", "Lovelace", "ada@example.invalid", "Veltrisan Labs"]
        ;["FirstName", "LastName", "Email", "Company"].forEach(function (f, i) { Globals["settingsUser_Set" + f](profile[i]) })
        stand = createTemporaryObject(utilitiesStandIn, testCase)
        return createTemporaryObject(supportComponent, testCase, { utility: stand })
    }

    // The exact body: key order, separators, escapes, and the platform named as "linux".
    function test_supportBodyIsExact_data() {
        var head = "{\"serviceDeskId\":\"3\",\"requestTypeId\":\"42\",\"requestFieldValues\":{\"summary\":\""
        var tail = "\\n\\nApplication version: 1.0.0\\nOperating system: linux\\n\"}}"
        return [
            { tag: "typical", profile: ["Ada", "Lovelace", "ada@example.invalid", "Veltrisan Labs"], message: "The vat leaks.",
              expected: head + "Veltrisan Labs \u2013 Ada Lovelace\",\"description\":\"The vat leaks.\\n\\n"
                        + "Name: Ada Lovelace\\nEmail: ada@example.invalid\\nCompany: Veltrisan Labs" + tail },
            { tag: "quotes, line breaks, markers and non-ASCII", profile: ["Zoë", "O\"Neil", "z@example.invalid", "Ünïon %1"],
              message: "Line 1\nLine \"2\"\t%1 \\ end",
              expected: head + "Ünïon %1 \u2013 Zoë O\\\"Neil\",\"description\":\"Line 1\\nLine \\\"2\\\"\\t%1 \\\\ end"
                        + "\\n\\nName: Zoë O\\\"Neil\\nEmail: z@example.invalid\\nCompany: Ünïon %1" + tail }
        ]
    }

    function test_supportBodyIsExact(data) {
        var support = makeSupport(data.profile)
        support.supportMessageField.text = data.message
        mouseClick(support.supportMessageSubmitButton)
        compare(stand.bodies, [data.expected])
        // The desk reads it as JSON with the message intact.
        compare(JSON.parse(stand.bodies[0]).requestFieldValues.description.indexOf(data.message), 0)
    }

    // Regression: a failed request must leave the user's text for another try. The text
    // is read-only while pending, so that a success cannot wipe out anything typed meanwhile.
    // Regression: a second click while the first request was pending sent it twice.
    function test_supportAnswer_data() {
        return [
            { tag: "failure keeps the text", success: false, text: "Firstx",
              status: "Failed to submit. Please check your connection and try again.\n(Host 127.0.0.9 not found)" },
            { tag: "success clears it", success: true, text: "x", status: "Your support request has been submitted." }
        ]
    }

    function test_supportAnswer(data) {
        var support = makeSupport()
        mouseClick(support.supportMessageSubmitButton)
        compare(stand.bodies.length, 0) // nothing to send yet
        support.supportMessageField.text = "First"
        mouseClick(support.supportMessageSubmitButton)
        mouseClick(support.supportMessageSubmitButton)
        support.supportMessageSubmitButton.sendHTTPRequest()
        compare([stand.bodies.length, support.supportMessageSubmitStatus.text], [1, "Submitting..."])
        mouseClick(support.supportMessageField)
        keyClick(Qt.Key_X)
        compare(support.supportMessageField.text, "First")
        if (data.success)
            stand.supportRequestSuccess()
        else
            stand.supportRequestFail("Host 127.0.0.9 not found")
        compare(support.supportMessageSubmitStatus.text, data.status)
        mouseClick(support.supportMessageField)
        keyClick(Qt.Key_End, Qt.ControlModifier)
        keyClick(Qt.Key_X)
        compare(support.supportMessageField.text, data.text)
        // Typing again hides the status; the same request can be sent again.
        verify(!support.supportMessageSubmitStatus.visible)
        mouseClick(support.supportMessageSubmitButton)
        compare(stand.bodies.length, 2)
    }

    // Regression: a service desk that took the request and never answered left the form
    // disabled until Home was built again.
    function test_silentServiceDeskEndsRequest() {
        verify(testSupport.startSilentServiceDesk(300))
        ;["FirstName", "LastName", "Email", "Company"].forEach(function (f) { Globals["settingsUser_Set" + f]("A") })
        var support = createTemporaryObject(supportComponent, testCase) // with the real Utilities
        support.supportMessageField.text = "Hello"
        mouseClick(support.supportMessageSubmitButton)
        compare(support.supportMessageSubmitStatus.text, "Submitting...")
        tryCompare(support.supportMessageSubmitButton, "isEnabled", true, 20000)
        compare(support.supportMessageSubmitStatus.text, "Failed to submit. Please check your connection and try again.\n"
                + "(The service desk did not answer in time.)")
        mouseClick(support.supportMessageField)
        keyClick(Qt.Key_End, Qt.ControlModifier)
        keyClick(Qt.Key_X)
        compare(support.supportMessageField.text, "Hellox")
    }
}
