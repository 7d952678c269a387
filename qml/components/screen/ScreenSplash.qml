import QtQuick 2.15
import QtQuick.Window 2.15

// Shown from the moment the root window exists until the screens are built.
Window {
    id: splash

    readonly property int splashSize: 400

    title: "Splash Window"
    width: splashSize
    height: splashSize
    x: (Screen.width - splashSize) / 2
    y: (Screen.height - splashSize) / 2
    color: "transparent"
    flags: Qt.SplashScreen
    modality: Qt.ApplicationModal

    readonly property alias artwork: artwork

    Image {
        id: artwork
        anchors.fill: parent
        // Let go of once the splash has closed: it is not shown again.
        cache: false
        source: splash.visible ? "qrc:/images/splash_screen.png" : ""
        sourceSize.width: splash.splashSize
        sourceSize.height: splash.splashSize
    }

    Component.onCompleted: visible = true
}
