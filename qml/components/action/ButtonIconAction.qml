import QtQuick 2.15
import QtGraphicalEffects 1.15
import "../"
import "../../"

// An icon tinted in colorUnfocused, in colorFocused with its tooltip while hovered.
Item {
    id: button

    property url icon
    property int iconWidth: 35
    property int iconHeight: iconWidth
    property color colorUnfocused: Globals.colorNeutral2
    property color colorFocused: Globals.colorWhite
    property string toolTipText: ""
    readonly property bool hovered: mouseArea.containsMouse

    signal clicked()

    implicitWidth: iconWidth
    implicitHeight: iconHeight

    Image {
        id: image
        anchors.centerIn: parent
        width: button.iconWidth
        height: button.iconHeight
        sourceSize.width: button.iconWidth
        sourceSize.height: button.iconHeight
        source: button.icon
        fillMode: Image.PreserveAspectFit
        visible: false
    }

    ColorOverlay {
        anchors.fill: image
        source: image
        color: button.hovered ? button.colorFocused : button.colorUnfocused
    }

    MouseArea {
        id: mouseArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }

    StyledToolTip {
        text: button.toolTipText
        visible: button.hovered && button.toolTipText !== ""
    }
}
