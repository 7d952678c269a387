import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls 1.4 as Controls1
import Qt.labs.settings 1.1
import com.vtr.Gelvantrium 1.0
import "."
import "components"
import "components/screen"

ApplicationWindow {
    id: applicationWindow

    visible: false
    width: ApplicationWindowMediator.width
    height: ApplicationWindowMediator.height
    minimumWidth: ApplicationWindowMediator.minimumWidth
    minimumHeight: ApplicationWindowMediator.minimumHeight
    title: Qt.application.name
    color: Globals.colorNeutral4
    font.family: Globals.fontAssistantRegularName

    property bool applicationCanClose: false
    property bool firstResize: false
    // A url from an open-file event, kept until start-up has finished.
    property var macInitialLoadFilePath: ""
    // openFilePath is percent-encoded URL text; read as a url it names the file exactly.
    property url startupFileUrl
    property bool initialLoadDone: false
    property ScreenSplash splashWindow: ScreenSplash {}
    // The loaded screen stack, for code outside this file; null until start-up has built it.
    readonly property var screenStack: stackLoader.item ? stackLoader.item.stackView : null

    signal closeApplicationSignal()
    signal openFileSignal(var filePath)
    // The screens are built and the window is about to be shown.
    signal screensBuilt()

    Settings {
        category: "ApplicationWindow"
        property alias x: applicationWindow.x
        property alias y: applicationWindow.y
    }

    // Texts from files, printers and users are shown as written, never as markup.
    PopupDialog {
        id: popupFileOpen
        title: qsTr("Open failed.")
        buttonVisibleCancel: false
    }

    // Ends at the window's first frame, or after a while should no frame come.
    Timer {
        id: firstFrameWait
        interval: 2000
        onTriggered: ApplicationWindowMediator.splashScreenVisible = false
    }
    property bool firstFrameDrawn: false
    onFrameSwapped: {
        if (firstFrameDrawn || !visible)
            return
        firstFrameDrawn = true
        if (firstFrameWait.running) {
            firstFrameWait.stop()
            ApplicationWindowMediator.splashScreenVisible = false
        }
    }

    Loader {
        id: stackLoader
        anchors.fill: parent
        asynchronous: true
        sourceComponent: Component {
            Item {
                property alias stackView: stackView

                Controls1.StackView {
                    id: stackView
                    anchors.fill: parent

                    readonly property string screenNameHome: "components/screen/ScreenHome.qml"
                    readonly property string screenNameForm: "components/screen/ScreenForm.qml"
                    property var screenNameStack: []

                    delegate: Controls1.StackViewDelegate {
                        pushTransition: Controls1.StackViewTransition {}
                    }

                    Logger {}

                    function isValidScreenName(name) {
                        return name === screenNameHome || name === screenNameForm
                    }

                    function isCurrentScreen(name) {
                        return screenNameStack.length > 0 && screenNameStack[screenNameStack.length - 1] === name
                    }

                    function pushScreen(name) {
                        if (!isValidScreenName(name) || isCurrentScreen(name))
                            return
                        // The component is made here, so its screens see this file's ids
                        // (stackView, popupFileOpen, applicationWindow).
                        var component = Qt.createComponent(Qt.resolvedUrl(name))
                        if (component.status !== Component.Ready) {
                            console.warn("Cannot load screen " + name + ": " + component.errorString())
                            return
                        }
                        push({ item: component, destroyOnPop: true, immediate: true })
                        screenNameStack = screenNameStack.concat([name])
                    }

                    function popScreen() {
                        if (depth <= 1)
                            return
                        pop({ immediate: true })
                        screenNameStack = screenNameStack.slice(0, screenNameStack.length - 1)
                    }

                    function openFile(filePath) {
                        var result = MaterialDocumentMediator.loadDocument(filePath)
                        if (result !== true) {
                            var text = String(filePath)
                            var extension = Globals.materialFileDistributableExtension
                            if (text.length >= extension.length
                                    && text.substring(text.length - extension.length) === extension) {
                                popupFileOpen.message = qsTr("This file is a finalized ") + extension
                                        + qsTr(" file and is meant to be installed on a printer. To edit material properties, please open a ")
                                        + Globals.materialFileExtension + qsTr(" file.")
                            } else {
                                popupFileOpen.message = result === undefined ? "" : String(result)
                            }
                            popupFileOpen.open()
                            return
                        }
                        if (!isCurrentScreen(screenNameForm))
                            popScreen()
                    }

                    function closeApplication() {
                        if (isCurrentScreen(screenNameHome))
                            popScreen()
                        if (MaterialDocumentMediator.closeAllDocuments() === true) {
                            applicationWindow.applicationCanClose = true
                            applicationWindow.close()
                        }
                    }

                    function hideSplashScreen() {
                        applicationWindow.visible = true
                        // Closed rather than only hidden: its native window goes, so the splash
                        // is not drawn once more (and its renderer kept) after start-up.
                        splashWindow.close()
                        // What waits for the splash (the update check) starts once the window
                        // has drawn, so it does not hold up the first frame.
                        firstFrameWait.start()
                    }
                }
            }
        }

        onLoaded: {
            var stack = item.stackView
            applicationWindow.openFileSignal.connect(stack.openFile)
            applicationWindow.closeApplicationSignal.connect(stack.closeApplication)
            ApplicationWindowMediator.closeApplicationSignal.connect(applicationWindow.closeApplicationSlot)

            stack.pushScreen(stack.screenNameForm)
            stack.pushScreen(stack.screenNameHome)

            if (typeof openFilePath !== "undefined" && openFilePath !== "") {
                applicationWindow.startupFileUrl = openFilePath
                applicationWindow.openFile(applicationWindow.startupFileUrl)
            }

            applicationWindow.screensBuilt()
            stack.hideSplashScreen()
            applicationWindow.initialLoadDone = true

            if (applicationWindow.macInitialLoadFilePath !== "") {
                var path = applicationWindow.macInitialLoadFilePath
                applicationWindow.openFile(path)
                applicationWindow.macInitialLoadFilePath = ""
            }
        }
    }

    // Open-file events before start-up has finished share one slot; the last one wins.
    function openFile(filePath) {
        if (!initialLoadDone) {
            macInitialLoadFilePath = filePath
            return
        }
        openFileSignal(filePath)
    }

    function handleQuitApplication() {
        applicationWindow.close()
    }

    function closeApplicationSlot(force) {
        applicationCanClose = force
        applicationWindow.close()
    }

    onClosing: {
        close.accepted = applicationCanClose
        if (!applicationCanClose)
            closeApplicationSignal()
    }

    // A position restored from another screen layout must not leave the window out of reach.
    function placeOnScreen() {
        var screens = Qt.application.screens
        if (screens.length === 0)
            return
        var onScreen = null
        for (var i = 0; i < screens.length; ++i) {
            var s = screens[i]
            if (x < s.virtualX + s.width && x + width > s.virtualX
                    && y < s.virtualY + s.height && y >= s.virtualY - titleBarAllowance) {
                onScreen = s
                break
            }
        }
        if (onScreen !== null)
            return
        var primary = screens[0]
        if (y > primary.virtualY + primary.height)
            y = primary.virtualY + primary.height / 2
        else
            y = Math.max(primary.virtualY, Math.min(y, primary.virtualY + primary.height - titleBarAllowance))
        x = Math.max(primary.virtualX, Math.min(x, primary.virtualX + primary.width - Math.min(width, primary.width)))
    }
    // How far the top edge may sit above a screen while the title bar stays reachable.
    readonly property int titleBarAllowance: 40

    Component.onCompleted: {
        ApplicationWindowMediator.windowScreen = screen
        placeOnScreen()
    }

    onScreenChanged: ApplicationWindowMediator.windowScreen = screen

    // The singletons outlive the window (tests create several in one engine).
    Component.onDestruction: {
        ApplicationWindowMediator.closeApplicationSignal.disconnect(closeApplicationSlot)
        ApplicationWindowMediator.windowScreen = null
    }

    onWidthChanged: {
        ApplicationWindowMediator.width = width
        if (!firstResize) {
            firstResize = true
            ApplicationWindowMediator.canSetMinimumSize = true
            ApplicationWindowMediator.setMinimumSize(Globals.windowMinimumWidth, Globals.windowMinimumHeight)
        }
    }

    onHeightChanged: ApplicationWindowMediator.height = height
}
