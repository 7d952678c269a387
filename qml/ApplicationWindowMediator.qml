pragma Singleton
import QtQuick 2.15
import Qt.labs.settings 1.1

// Window size, minimum size, splash state and the close request, shared by every screen.
Item {
    id: mediator

    width: 1280
    height: 720

    property bool canSetMinimumSize: false
    property int minimumWidth: 1
    property int minimumHeight: 1
    property bool splashScreenVisible: true

    // The screen the window is on, set by the root window; sizes are clamped to it.
    // Until it is known, the first screen is used.
    property var windowScreen: null

    signal closeApplicationSignal(bool force)
    signal splashScreenHiddenSignal()

    onSplashScreenVisibleChanged: {
        if (!splashScreenVisible)
            splashScreenHiddenSignal()
    }

    Settings {
        category: "ApplicationWindow"
        property alias width: mediator.width
        property alias height: mediator.height
    }

    function clampedSize(value, current, screenSize) {
        var result = value === undefined ? current : value
        if (screenSize > 0 && result > screenSize)
            result = screenSize
        return result
    }

    function currentScreen() {
        if (windowScreen && windowScreen.width > 0)
            return windowScreen
        return Qt.application.screens.length > 0 ? Qt.application.screens[0] : null
    }
    function screenWidth() { var s = currentScreen(); return s ? s.width : 0 }
    function screenHeight() { var s = currentScreen(); return s ? s.height : 0 }

    function resize(newWidth, newHeight) {
        var w = clampedSize(newWidth, width, screenWidth())
        var h = clampedSize(newHeight, height, screenHeight())
        width = w
        height = h
    }

    function setMinimumSize(newWidth, newHeight) {
        if (!canSetMinimumSize)
            return
        var w = clampedSize(newWidth, minimumWidth, screenWidth())
        var h = clampedSize(newHeight, minimumHeight, screenHeight())
        minimumWidth = w
        minimumHeight = h
    }

    // force discards unsaved changes (used after launching an update installer).
    function closeApplication(force) {
        closeApplicationSignal(force)
    }
}
