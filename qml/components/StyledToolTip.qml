import QtQuick 2.15
import QtQuick.Controls 2.15
import "../"

// Shown a second after it is made visible, gone three seconds later even while hovered.
ToolTip {
    id: toolTip

    delay: 1000
    timeout: 3000
    padding: 10

    contentItem: Text {
        text: toolTip.text
        textFormat: Text.PlainText
        font.family: Globals.fontAssistantRegularName
        font.pixelSize: 14
        color: Globals.colorNeutral5
        wrapMode: Text.Wrap
    }

    background: Rectangle {
        color: Globals.colorNeutral1
        radius: 5
    }
}
