import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"
import "qrc:/components/form"

// The Settings section: the profile, the group key, the update-prompt preference and
// the distribution password, typed as a user would, kept in the settings store and
// shown again by a newly built section; and the printer connection against printer
// stand-ins on 127.0.0.90 to 127.0.0.109.
TestCase {
    id: testCase
    name: "HomeSectionSettings"
    width: 1200
    height: 1500 // the printer's materials are below the fold of a smaller window
    visible: true // hidden items get no pointer events
    when: windowShown

    Component { id: settingsComponent; HomeSectionSettings { width: 1100; height: 1450; minimumWidth: 800 } }

    function makeSection() {
        var section = createTemporaryObject(settingsComponent, testCase)
        waitForRendering(section) // rows lay out their items when a frame is made
        return section
    }

    // The section as built anew, e.g. when Home shows again.
    function rebuilt(section) {
        section.destroy()
        wait(0)
        return makeSection()
    }

    function typeInto(field, text) {
        mouseClick(field)
        keyClick(Qt.Key_A, Qt.ControlModifier)
        keyClick(Qt.Key_Delete)
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i))
    }

    function init() {
        Globals.settingsUser_SetFirstName("")
        Globals.settingsUser_SetLastName("")
        Globals.settingsUser_SetEmail("")
        Globals.settingsUser_SetCompany("")
        Globals.settingsUser_SetGroupKey("")
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(true)
        DistributionMediator.distributionPassword = ""
        testSupport.setStoredSetting("PrinterIP/printerIP", "")
        testSupport.setStoredSetting("PrinterIP/wasConnectedOnLastLoad", false)
        testSupport.removeStoredSetting("PrinterIP/previousPrintersDropdownList")
    }

    function test_profileFieldPersists_data() {
        return [
            { tag: "first name", field: "profileSettingsFirstNameField", key: "User/nameFirst",
              getter: "settingsUser_GetFirstName", text: "Ada" },
            { tag: "last name", field: "profileSettingsLastNameField", key: "User/nameLast",
              getter: "settingsUser_GetLastName", text: "Lovelace-King" },
            { tag: "email", field: "profileSettingsEmailField", key: "User/email",
              getter: "settingsUser_GetEmail", text: "ada@example.invalid" },
            { tag: "company", field: "profileSettingsCompanyField", key: "User/company",
              getter: "settingsUser_GetCompany", text: "Veltrisan & Co" },
            { tag: "group key of 32 characters", field: "profileSettingsGroupKeyField", key: "User/groupKey",
              getter: "settingsUser_GetGroupKey", text: "0123456789abcdefABCDEF0123456789" }
        ]
    }

    function test_profileFieldPersists(data) {
        var section = makeSection()
        typeInto(section[data.field], data.text)
        compare(Globals[data.getter](), data.text)
        // The store on disk has it once the settings are written out.
        tryVerify(function() { return testSupport.storedSetting(data.key) === data.text }, 3000)
        compare(rebuilt(section)[data.field].text, data.text)
    }

    function test_fieldsRereadStoredValues() {
        var section = makeSection()
        Globals.settingsUser_SetFirstName("Grace")
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(false)
        section.getUserSettingsValues()
        compare(section.profileSettingsFirstNameField.text, "Grace")
        verify(!section.automaticUpdatePromptEnabled.isChecked)
    }

    function test_updatePromptPreferencePersists() {
        var section = makeSection()
        verify(section.automaticUpdatePromptEnabled.isChecked)
        mouseClick(section.automaticUpdatePromptEnabled)
        verify(!Globals.settingsUser_GetUpdateAutomaticallyPrompt())
        tryVerify(function() {
            var stored = testSupport.storedSetting("User/updateAutomaticallyPrompt")
            return stored === false || stored === "false"
        }, 3000)
        verify(!rebuilt(section).automaticUpdatePromptEnabled.isChecked)
    }

    function test_passwordValidityMark_data() {
        return [
            { tag: "valid", text: "Abcdef1!", valid: true },
            { tag: "no symbol", text: "Abcdefg1", valid: false }
        ]
    }

    function test_passwordValidityMark(data) {
        var section = makeSection()
        verify(section.distributionPasswordInvalidMark.visible)
        typeInto(section.distributionPasswordField, data.text)
        compare(DistributionMediator.distributionPassword, data.text)
        compare(section.distributionPasswordValidMark.visible, data.valid)
        compare(section.distributionPasswordInvalidMark.visible, !data.valid)
    }

    function test_passwordIsCutAtTwelveAndPersists() {
        var section = makeSection()
        typeInto(section.distributionPasswordField, "Abcdefgh12#zXY")
        compare(section.distributionPasswordField.text, "Abcdefgh12#z")
        compare(DistributionMediator.distributionPassword, "Abcdefgh12#z")
        verify(DistributionMediator.distributionPasswordValid)
        tryVerify(function() {
            return testSupport.storedSetting("distributionPassword/password") === "Abcdefgh12#z"
        }, 3000)

        var again = rebuilt(section)
        compare(again.distributionPasswordField.text, "Abcdefgh12#z")
        verify(again.distributionPasswordValidMark.visible)
    }

    // ---- printer connection ----

    readonly property string printerName: "Bench (north) Printer"
    property var startedPrinters: []

    function cleanup() {
        NetworkConnectionMediator.disconnectFromPrinter(NetworkConnectionMediator.getPrinterIP(-1))
        startedPrinters.forEach(function (address) { testSupport.stopPrinter(address) })
        startedPrinters = []
    }

    function startPrinter(address, mode) {
        verify(testSupport.startPrinter(address, ["--mode", mode, "--name", printerName,
                                                  "--material", "Grey Resin", "--material", "Clear Resin"]))
        startedPrinters.push(address)
    }

    // A section connected by typing the address and pressing Connect.
    function connectedSection(address) {
        var section = makeSection()
        typeInto(section.printer.homeSectionSettingsPrinterIP, address)
        mouseClick(section.printer.connectDisconnectButton)
        compare(section.printer.connectDisconnectButton.text, "Connecting...")
        mouseClick(section.printer.connectDisconnectButton) // ignored while pending
        return section
    }

    function test_connectAndDisconnect() {
        startPrinter("127.0.0.90", "accept")
        var section = connectedSection("127.0.0.90")
        var printer = section.printer
        tryCompare(printer.connectDisconnectButton, "text", "Disconnect", 5000)
        tryCompare(printer.currentConnectionLabel, "text",
                   "Functional Connected IP = 127.0.0.90\nPrinter Name = " + printerName, 5000)
        tryCompare(printer.materialListView, "model", ["Grey Resin", "Clear Resin"], 5000)
        compare(printer.recentPrinters, [printerName + " (127.0.0.90)"])

        // Home shown again while connected: no new connection, the button offers Disconnect.
        section = rebuilt(section)
        printer = section.printer
        compare(printer.connectDisconnectButton.text, "Disconnect")
        compare(testSupport.printerLog("127.0.0.90").filter(function (l) { return l.event === "connected" }).length, 1)

        mouseClick(printer.connectDisconnectButton)
        compare(printer.connectDisconnectButton.text, "Disconnecting...")
        tryCompare(printer.connectDisconnectButton, "text", "Connect", 5000)
        tryCompare(printer.currentConnectionLabel, "text", "Not Connected")
        compare(printer.materialListView.count, 0)
        section.destroy()
        wait(0)
        compare(testSupport.storedSetting("PrinterIP/printerIP"), "127.0.0.90")
        compare(String(testSupport.storedSetting("PrinterIP/wasConnectedOnLastLoad")), "false")
        compare(String(testSupport.storedSetting("PrinterIP/previousPrintersDropdownList")),
                printerName + " (127.0.0.90)")
    }

    function test_connectionEnds_data() {
        return [
            { tag: "nothing listens", address: "127.0.0.91",
              status: "Failed to connect to printer. Please check your network connection and try again." },
            { tag: "printer goes away", address: "127.0.0.92", printer: true, status: "The printer was disconnected." }
        ]
    }

    function test_connectionEnds(data) {
        if (data.printer)
            startPrinter(data.address, "accept")
        var printer = connectedSection(data.address).printer
        if (data.printer) {
            tryCompare(printer.materialListView, "count", 2, 5000)
            testSupport.stopPrinter(data.address)
        }
        tryCompare(printer.currentConnectionLabel, "text", data.status, 5000)
        compare(printer.connectDisconnectButton.text, "Connect")
        compare(printer.materialListView.count, 0)
    }

    function test_startUpReconnect_data() {
        return [
            { tag: "printer answers", address: "127.0.0.93", printer: true, button: "Disconnect" },
            { tag: "no stored address", address: "", button: "Connect" },
            { tag: "printer unreachable, one retry after 5 s", address: "127.0.0.94", button: "Connect",
              status: "Failed to connect to printer. Please check your network connection and try again." }
        ]
    }

    function test_startUpReconnect(data) {
        if (data.printer)
            startPrinter(data.address, "accept")
        testSupport.setStoredSetting("PrinterIP/printerIP", data.address)
        testSupport.setStoredSetting("PrinterIP/wasConnectedOnLastLoad", true)
        var printer = makeSection().printer
        compare(printer.attemptingToConnectText.visible, data.address !== "")
        if (data.status) {
            wait(2000)
            verify(printer.attemptingToConnectText.visible)
        }
        tryCompare(printer.connectionRow, "visible", true, 8000)
        verify(!printer.attemptingToConnectText.visible)
        tryCompare(printer.connectDisconnectButton, "text", data.button, 3000)
        if (data.status)
            compare(printer.currentConnectionLabel.text, data.status)
    }

    // The address is the text in the entry's last parentheses: names may hold some too.
    function test_recentPrinters() {
        startPrinter("127.0.0.95", "accept")
        testSupport.setStoredSetting("PrinterIP/previousPrintersDropdownList",
                                     ["Lab (north) (127.0.0.95)", "Other (127.0.0.96)"])
        var section = makeSection()
        var printer = section.printer
        var dropdown = printer.homeSectionSettingsPrinterIPDropdown
        mouseClick(printer.recentPrintersTriangle)
        tryCompare(dropdown.popup, "opened", true)
        mouseClick(dropdown.popup.contentItem.itemAtIndex(0))
        tryCompare(dropdown, "visible", false)
        compare(printer.homeSectionSettingsPrinterIP.text, "127.0.0.95")
        tryCompare(printer, "recentPrinters",
                   [printerName + " (127.0.0.95)", "Lab (north) (127.0.0.95)", "Other (127.0.0.96)"], 5000)

        mouseClick(printer.recentPrintersTriangle)
        tryCompare(dropdown.popup, "opened", true)
        mouseClick(printer.clearRecentLink)
        verify(!printer.recentPrintersTriangle.visible)
        compare(rebuilt(section).printer.recentPrinters, [])
    }

    // Refused removals; an older printer's is never reported as a failed install.
    function test_refusedRemoval_data() {
        return [
            { tag: "denied", address: "127.0.0.98", mode: "deny" },
            { tag: "old printer", address: "127.0.0.99", mode: "oldfirmware" }
        ]
    }

    function test_refusedRemoval(data) {
        var header = createTemporaryObject(headerComponent, testCase)
        startPrinter(data.address, data.mode)
        var printer = connectedSection(data.address).printer
        tryCompare(printer.materialListView, "count", 2, 5000)
        waitForRendering(printer)
        mouseClick(printer.materialListView.itemAtIndex(1).removeButton)
        var dialog = printer.deleteMaterialDialog
        tryCompare(dialog, "opened", true)
        compare(dialog.title, "Delete Clear Resin")
        compare(dialog.message, "Are you sure you want to delete Clear Resin from " + printerName + "?")
        dialog.close()
        dialog.clickedConfirm()
        tryCompare(printer.failedToDeleteDialog, "opened", true, 5000)
        compare(testSupport.printerLog(data.address).filter(function (l) { return l.request === "set" }).length, 1)
        wait(300)
        verify(!header.installFailedDialog.opened)
        printer.failedToDeleteDialog.close()
    }

    Component { id: headerComponent; FormSectionHeader { width: 1000 } }
}
