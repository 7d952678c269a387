import QtQuick 2.15
import "../.."

// One link of the Home sidebar. A selected link ignores hover and clicks.
Rectangle {
    id: navOption

    property string text: ""
    property color backgroundColor: "transparent"
    property color backgroundColorHovered: Globals.colorNeutral5
    property color backgroundColorSelected: Globals.colorNeutral2
    property color textColor: Globals.colorPrimary1
    property color textColorHovered: Globals.colorWhite
    property color textColorSelected: Globals.colorWhite
    property int fontSize: 17
    property bool selected: false
    readonly property bool hovered: mouseArea.containsMouse

    signal clicked(string text)

    color: selected ? backgroundColorSelected : (hovered ? backgroundColorHovered : backgroundColor)

    Text {
        id: label
        anchors.left: parent.left
        anchors.leftMargin: Globals.gridSpacing
        anchors.verticalCenter: parent.verticalCenter
        text: navOption.text
        font.pointSize: navOption.fontSize
        font.weight: Font.ExtraLight
        color: navOption.selected ? navOption.textColorSelected
                                  : (navOption.hovered ? navOption.textColorHovered : navOption.textColor)
    }

    MouseArea {
        id: mouseArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: navOption.activate()
    }

    // The sidebar deselects every link on clicked(); this link then selects itself.
    function activate() {
        if (selected)
            return
        navOption.clicked(text)
        selected = true
    }
}
