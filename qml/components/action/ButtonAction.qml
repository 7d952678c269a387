import QtQuick 2.15
import QtQuick.Controls 2.15
import "../../"

// A text button in the action colours; a request in flight shows by switching both
// background colours to transparent.
Button {
    id: button

    property color textColor: Globals.colorFormFieldInputFont
    property color backgroundColor: Globals.colorPrimary1
    property color backgroundColorHovered: Globals.colorPrimary2
    property real fontSize: 17

    hoverEnabled: true
    padding: 0

    contentItem: Text {
        text: button.text
        textFormat: Text.PlainText
        color: button.textColor
        font.family: Globals.fontAssistantRegularName
        font.pointSize: button.fontSize
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        radius: Globals.fieldInputRadius
        color: button.hovered || button.activeFocus ? button.backgroundColorHovered : button.backgroundColor
    }
}
