import QtQuick 2.15
import QtGraphicalEffects 1.15
import "../.."

Rectangle {
    id: navigationButton

    property url icon
    readonly property bool hovered: mouseArea.containsMouse
    readonly property bool pressed: mouseArea.pressed

    signal buttonClicked()

    color: hovered ? Globals.colorNeutral3 : Globals.colorNeutral5

    Image {
        id: iconImage
        anchors.centerIn: parent
        width: navigationButton.width - 15
        height: width * 1.5
        sourceSize.width: width
        sourceSize.height: height
        source: navigationButton.icon
        fillMode: Image.PreserveAspectFit
        visible: false
    }

    ColorOverlay {
        anchors.fill: iconImage
        source: iconImage
        color: navigationButton.hovered ? Globals.colorWhite : Globals.colorNeutral3
    }

    MouseArea {
        id: mouseArea
        anchors.fill: parent
        hoverEnabled: true
        onPressed: navigationButton.buttonClicked()
    }
}
