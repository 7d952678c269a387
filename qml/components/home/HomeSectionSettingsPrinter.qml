import QtQuick 2.15
import QtQuick.Controls 2.15
import Qt.labs.settings 1.1
import "../.."
import ".."
import "../action"
import "../field"

// The printer part of the Settings section: connect and disconnect by address, the
// recent printers, the connection status and the connected printer's materials.
// The connection itself lives in NetworkConnectionMediator; this only reflects it.
Item {
    id: printerSettings

    property real labelWidth: 200
    property real inputWidth: 300

    readonly property alias connectDisconnectButton: connectDisconnectButton
    readonly property alias homeSectionSettingsPrinterIP: homeSectionSettingsPrinterIP
    readonly property alias homeSectionSettingsPrinterIPDropdown: homeSectionSettingsPrinterIPDropdown
    readonly property alias recentPrintersTriangle: recentPrintersTriangle
    readonly property alias clearRecentLink: clearRecentLink
    readonly property alias currentConnectionLabel: currentConnectionLabel
    readonly property alias attemptingToConnectText: attemptingToConnectText
    readonly property alias connectionRow: connectionRow
    readonly property alias materialListView: materialListView
    readonly property alias deleteMaterialDialog: deleteMaterialDialog
    readonly property alias failedToDeleteDialog: failedToDeleteDialog
    readonly property alias connectTimer: connectTimer
    readonly property alias disconnectTimer: disconnectTimer
    readonly property alias networkRetryTimer: networkRetryTimer

    // False while the start-up reconnect shows its waiting text.
    property bool showConnectionRow: true
    // The address the field had when its editing last finished.
    property string lastText: ""
    // Recent printers, each "name (address)", newest first, one per address.
    property var recentPrinters: []
    readonly property int recentPrintersMaximum: 10
    readonly property int recentPrinterNameMaximum: 64
    // A connect succeeded and the printer's name is awaited for the recent list.
    property bool recentPrinterPending: false
    // Material rows shown at once; the rest scroll inside the list.
    readonly property int materialRowsShown: 5
    readonly property int materialRowHeight: 100
    // A removal was sent and its answer has not come.
    property bool removalPending: false
    property string pendingConnectAddress: ""
    // False for the disconnect that precedes a connect to an edited address.
    property bool disconnectTouchesButton: true

    readonly property string textConnectFailed:
        qsTr("Failed to connect to printer. Please check your network connection and try again.")
    readonly property string textDisconnected: qsTr("The printer was disconnected.")

    implicitHeight: header.height + materialListView.height

    Settings {
        id: printerStore
        category: "PrinterIP"
        property string printerIP: ""
        property var previousPrintersDropdownList: []
        property bool wasConnectedOnLastLoad: false
    }

    // ---- connection ----

    // Returns whether a connect was started.
    function connect(address) {
        if (connectDisconnectButton.isRequestInProgress)
            return false
        var ip = (address !== undefined && address !== "") ? address : homeSectionSettingsPrinterIP.text
        if (ip === "")
            return false
        connectDisconnectButton.requestIsConnect = true
        connectDisconnectButton.isRequestInProgress = true
        pendingConnectAddress = ip
        connectTimer.start()
        return true
    }

    function connectResult(result) {
        connectDisconnectButton.isConnect = !result
        // Also when the button already offered Connect: a printer unreachable at start
        // is not tried again at every return to Home.
        printerStore.wasConnectedOnLastLoad = result
        connectDisconnectButton.isRequestInProgress = false
        recentPrinterPending = result
        if (result)
            showConnectionRow = true
        if (connectDisconnectButton.showUIAfterConnectionAttempt) {
            connectDisconnectButton.showUIAfterConnectionAttempt = false
            showConnectionRow = true
        }
    }

    // Returns whether a disconnect was started.
    function disconnect() {
        if (connectDisconnectButton.isRequestInProgress || !NetworkConnectionMediator.connected)
            return false
        connectDisconnectButton.requestIsConnect = false
        connectDisconnectButton.isRequestInProgress = true
        disconnectTouchesButton = true
        disconnectTimer.start()
        return true
    }

    function disconnectResult(result) {
        connectDisconnectButton.isConnect = result
        connectDisconnectButton.isRequestInProgress = false
    }

    function addressEditingFinished() {
        var text = homeSectionSettingsPrinterIP.text
        if (text === "" || text === lastText)
            return
        disconnectTouchesButton = false
        disconnectTimer.start()
        lastText = text
        if (connect(text))
            networkRetryTimer.stop()
    }

    function retryTick() {
        networkRetryTimer.triggeredCount += 1
        if (networkRetryTimer.triggeredCount > 5) {
            networkRetryTimer.stop()
            return
        }
        console.debug("Printer connection attempt = " + networkRetryTimer.triggeredCount)
        if (connectDisconnectButton.isRequestInProgress)
            return
        if (connectDisconnectButton.isConnect) {
            connectDisconnectButton.showUIAfterConnectionAttempt = true
            if (!connect())
                connectResult(false)
        }
        networkRetryTimer.stop()
    }

    function startUpReconnect() {
        if (!printerStore.wasConnectedOnLastLoad) {
            connectDisconnectButton.isConnect = true
            showConnectionRow = true
        } else if (NetworkConnectionMediator.connected) {
            connectDisconnectButton.isConnect = false
            showConnectionRow = true
        } else if (printerStore.printerIP === "") {
            showConnectionRow = true
        } else {
            showConnectionRow = false
            connect(printerStore.printerIP)
            networkRetryTimer.start()
        }
    }

    // ---- status and materials ----

    function refreshStatus() {
        var ip = NetworkConnectionMediator.getPrinterIP(-1)
        if (!NetworkConnectionMediator.connected || ip === "") {
            currentConnectionLabel.text = qsTr("Not Connected")
            return
        }
        var text = qsTr("Functional Connected IP = ") + ip
        var name = NetworkConnectionMediator.getPrinterName(-1)
        if (name !== "")
            text += "\n" + qsTr("Printer Name = ") + name
        currentConnectionLabel.text = text
    }

    function refreshConnectedStatus() {
        if (NetworkConnectionMediator.connected)
            refreshStatus()
    }

    function refreshMaterials() {
        materialListView.model = NetworkConnectionMediator.connected ? NetworkConnectionMediator.getMaterialJSONList(-1)
                                                                     : []
    }

    function connectionEnded(statusText) {
        currentConnectionLabel.text = statusText
        materialListView.model = []
        connectDisconnectButton.isConnect = true
        removalPending = false
    }

    // Both numbered places at once, so a name holding "%2" stays as it is.
    function fillIn(format, first, second) {
        return format.replace(/%([12])/g, function (match, n) { return n === "1" ? first : second })
    }

    function confirmRemoval(materialName) {
        var printer = NetworkConnectionMediator.getPrinterName(-1)
        if (printer === "")
            printer = NetworkConnectionMediator.getPrinterIP(-1)
        deleteMaterialDialog.materialName = materialName
        deleteMaterialDialog.title = fillIn(qsTr("Delete %1"), materialName, "")
        deleteMaterialDialog.message = fillIn(qsTr("Are you sure you want to delete %1 from %2?"), materialName, printer)
        deleteMaterialDialog.popupHeight = deleteMaterialDialog.defaultPopupHeight
        deleteMaterialDialog.heightComputed = false
        deleteMaterialDialog.open()
    }

    function removeConfirmed() {
        if (NetworkConnectionMediator.removeMaterial(deleteMaterialDialog.materialName, -1))
            removalPending = true
        else
            failedToDeleteDialog.open()
    }

    // ---- recent printers ----

    // The stored list as the rules have it (earlier versions kept every name a printer
    // broadcast); written back when that changed it.
    function storedRecentPrinters() {
        var stored = printerStore.previousPrintersDropdownList
        if (stored === undefined || stored === null || stored === "")
            return []
        // The settings file gives a one-element list back as its element.
        if (typeof stored === "string")
            stored = [stored]
        var list = []
        for (var i = 0; i < stored.length && list.length < recentPrintersMaximum; ++i) {
            var entry = String(stored[i])
            var address = addressOfRecentPrinter(entry)
            if (address === "" || list.some(function (e) { return addressOfRecentPrinter(e) === address }))
                continue
            list.push(recentPrinterEntry(entry.substring(0, entry.lastIndexOf("(")).replace(/ $/, ""), address))
        }
        if (list.length !== stored.length || list.some(function (e, n) { return e !== String(stored[n]) }))
            printerStore.previousPrintersDropdownList = list
        return list
    }

    function recentPrinterEntry(name, address) {
        return name.substring(0, recentPrinterNameMaximum) + " (" + address + ")"
    }

    function setRecentPrinters(list) {
        recentPrinters = list
        printerStore.previousPrintersDropdownList = list
    }

    // The newest name of an address replaces its entry.
    function addRecentPrinter(entry) {
        var address = addressOfRecentPrinter(entry)
        var list = recentPrinters.filter(function (e) { return addressOfRecentPrinter(e) !== address })
        list.unshift(entry)
        setRecentPrinters(list.slice(0, recentPrintersMaximum))
    }

    // The text inside the entry's last parentheses: a printer's name may hold some too.
    function addressOfRecentPrinter(entry) {
        var open = entry.lastIndexOf("(")
        var close = entry.lastIndexOf(")")
        return open >= 0 && close > open ? entry.substring(open + 1, close) : ""
    }

    function openRecentPrinters() {
        homeSectionSettingsPrinterIPDropdown.values = recentPrinters
        homeSectionSettingsPrinterIPDropdown.currentIndex = -1
        homeSectionSettingsPrinterIPDropdown.textWhenNoneSelected = homeSectionSettingsPrinterIP.text
        homeSectionSettingsPrinterIPDropdown.visible = true
        clearRecentLink.visible = true
        homeSectionSettingsPrinterIPDropdown.open()
    }

    function recentPrinterChosen(index) {
        var address = addressOfRecentPrinter(recentPrinters[index])
        if (address !== "")
            homeSectionSettingsPrinterIP.text = address
        homeSectionSettingsPrinterIPDropdown.popup.close()
    }

    function recentPrintersClosed() {
        homeSectionSettingsPrinterIPDropdown.visible = false
        clearRecentLink.visible = false
        addressEditingFinished()
    }

    function clearRecentPrinters() {
        setRecentPrinters([])
        homeSectionSettingsPrinterIPDropdown.popup.close()
        homeSectionSettingsPrinterIPDropdown.visible = false
        clearRecentLink.visible = false
    }

    Connections {
        target: NetworkConnectionMediator
        function onPrinterNameChanged(ip) {
            printerSettings.refreshStatus()
            // Once per connect: a printer that broadcasts name after name adds nothing more.
            var name = NetworkConnectionMediator.getPrinterName(-1)
            if (!printerSettings.recentPrinterPending || name === "")
                return
            printerSettings.recentPrinterPending = false
            printerSettings.addRecentPrinter(
                        printerSettings.recentPrinterEntry(name, NetworkConnectionMediator.getPrinterIP(-1)))
        }
        // The address shows as soon as the printer is connected, its name when it comes.
        // Later, not inside the signal: reading the name asks the printer for it, and a
        // new printer's own request for it goes out after this signal. An ended
        // connection has its own texts.
        function onIsConnected(ip) {
            if (NetworkConnectionMediator.connected)
                Qt.callLater(printerSettings.refreshConnectedStatus)
        }
        function onMaterialListChanged(ip) {
            printerSettings.removalPending = false
            printerSettings.refreshMaterials()
        }
        function onAttemptConnectionFailed() {
            printerSettings.connectionEnded(printerSettings.textConnectFailed)
        }
        function onDisconnected() {
            printerSettings.connectionEnded(printerSettings.textDisconnected)
        }
        function onMaterialRemovalDenied() {
            printerSettings.removalPending = false
            failedToDeleteDialog.open()
        }
        // An older printer refuses a removal this way.
        function onDeniedByInvalidKey() {
            if (!printerSettings.removalPending)
                return
            printerSettings.removalPending = false
            failedToDeleteDialog.open()
        }
    }

    Timer {
        id: connectTimer
        interval: 500
        onTriggered: printerSettings.connectResult(
                         NetworkConnectionMediator.connectToPrinter(printerSettings.pendingConnectAddress))
    }

    Timer {
        id: disconnectTimer
        interval: 500
        onTriggered: {
            var result = NetworkConnectionMediator.disconnectFromPrinter(NetworkConnectionMediator.getPrinterIP(-1))
            if (printerSettings.disconnectTouchesButton)
                printerSettings.disconnectResult(result)
        }
    }

    Timer {
        id: networkRetryTimer
        property int triggeredCount: 0
        interval: 5000
        repeat: true
        onTriggered: printerSettings.retryTick()
    }

    Component.onCompleted: {
        homeSectionSettingsPrinterIP.setText(printerStore.printerIP)
        lastText = printerStore.printerIP
        recentPrinters = storedRecentPrinters()
        refreshStatus()
        refreshMaterials()
        startUpReconnect()
    }

    // ---- layout ----

    Item {
        id: header
        width: parent.width
        height: 205

        Text {
            id: printerTitle
            text: qsTr("Development Printer Settings")
            font.pixelSize: 31
            font.weight: Font.ExtraLight
            font.family: Globals.fontAssistantRegularName
            color: Globals.colorPrimary1
        }

        Text {
            id: attemptingToConnectText
            anchors.top: printerTitle.bottom
            anchors.topMargin: Globals.gridSpacing
            width: parent.width
            height: Globals.actionButtonHeight
            visible: !printerSettings.showConnectionRow
            text: qsTr("Attempting to connect to printer...")
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: 16
            color: Globals.colorWhite
        }

        Row {
            id: connectionRow
            anchors.top: printerTitle.bottom
            anchors.topMargin: Globals.gridSpacing
            visible: printerSettings.showConnectionRow
            spacing: Globals.gridSpacing

            HomeSectionSettingsLabel {
                width: printerSettings.labelWidth
                height: Globals.actionButtonHeight
                text: qsTr("Printer IP")
            }

            Item {
                width: printerSettings.inputWidth
                height: Globals.actionButtonHeight

                FieldText {
                    id: homeSectionSettingsPrinterIP
                    anchors.fill: parent
                    placeholderText: "***.***.***.***"
                    rightPadding: 30
                    onUserEdited: printerStore.printerIP = text
                    onEditingFinished: printerSettings.addressEditingFinished()
                }

                Canvas {
                    id: recentPrintersTriangle
                    anchors.right: parent.right
                    anchors.rightMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    width: 12
                    height: 8
                    visible: printerSettings.recentPrinters.length > 0
                    onPaint: {
                        var ctx = getContext("2d")
                        ctx.reset()
                        ctx.moveTo(0, 0)
                        ctx.lineTo(width, 0)
                        ctx.lineTo(width / 2, height)
                        ctx.closePath()
                        ctx.fillStyle = Globals.colorWhite
                        ctx.fill()
                    }

                    MouseArea {
                        anchors.fill: parent
                        anchors.margins: -5
                        cursorShape: Qt.PointingHandCursor
                        onClicked: printerSettings.openRecentPrinters()
                    }
                }

                FieldComboBox {
                    id: homeSectionSettingsPrinterIPDropdown
                    anchors.fill: parent
                    visible: false
                    onActivated: printerSettings.recentPrinterChosen(index)
                    onPopupClosed: printerSettings.recentPrintersClosed()
                }

                Text {
                    id: clearRecentLink
                    // Above the field: the open list covers what lies below it.
                    anchors.bottom: parent.top
                    anchors.bottomMargin: 2
                    anchors.right: parent.right
                    visible: false
                    text: qsTr("Clear Recent")
                    font.pixelSize: 14
                    color: Globals.colorSecondary1

                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        // On press: the open list closes on the same press.
                        onPressed: printerSettings.clearRecentPrinters()
                    }
                }
            }

            ButtonAction {
                id: connectDisconnectButton

                // True while the button offers Connect (no printer).
                property bool isConnect: true
                property bool isRequestInProgress: false
                property bool showUIAfterConnectionAttempt: false
                // Which request is pending.
                property bool requestIsConnect: true

                width: 185
                height: Globals.actionButtonHeight
                text: isRequestInProgress ? (requestIsConnect ? qsTr("Connecting...") : qsTr("Disconnecting..."))
                                          : (isConnect ? qsTr("Connect") : qsTr("Disconnect"))
                backgroundColor: isRequestInProgress ? Globals.colorTransparent : Globals.colorPrimary1
                backgroundColorHovered: isRequestInProgress ? Globals.colorTransparent : Globals.colorPrimary2
                onIsConnectChanged: printerStore.wasConnectedOnLastLoad = !isConnect
                // The user's own connect or disconnect ends the start-up retry, which
                // would otherwise read a Disconnect as a failed first attempt.
                onClicked: {
                    if (isConnect ? printerSettings.connect() : printerSettings.disconnect())
                        networkRetryTimer.stop()
                }
            }
        }

        Text {
            id: currentConnectionLabel
            anchors.top: connectionRow.bottom
            anchors.topMargin: Globals.gridSpacing
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            // Carries the printer's own name.
            textFormat: Text.PlainText
            font.pointSize: 14
            color: Globals.colorWhite
            text: qsTr("Not Connected")
        }
    }

    // Builds only the rows in view, however many names the printer lists.
    ListView {
        id: materialListView
        anchors.top: header.bottom
        width: parent.width
        height: Math.min(count, printerSettings.materialRowsShown) * printerSettings.materialRowHeight
        clip: true
        // Only a list taller than its rows shown scrolls; a shorter one leaves the page to scroll.
        interactive: count > printerSettings.materialRowsShown
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            policy: materialListView.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }
        model: []
        delegate: HomeSectionSettingsPrinterMaterial {
            width: materialListView.width
            height: printerSettings.materialRowHeight
            materialName: modelData
            onRemoveClicked: printerSettings.confirmRemoval(modelData)
        }
    }

    PopupDialog {
        id: deleteMaterialDialog
        property string materialName: ""
        closeOnClickOutside: true
        onClickedConfirm: printerSettings.removeConfirmed()
    }

    PopupDialog {
        id: failedToDeleteDialog
        title: qsTr("Material Could Not Be Deleted.")
        popupWidth: 500
        buttonVisibleCancel: false
        closeOnClickOutside: true
    }
}
