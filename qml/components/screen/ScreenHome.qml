import QtQuick 2.15
import "../../"

// The home screen. Its sidebar and sections are added to this frame as they are built.
Rectangle {
    id: screenHome

    readonly property int layoutMinimumWidth: 1100
    readonly property int layoutMinimumHeight: 500

    color: Globals.colorNeutral4

    Text {
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: 2 * Globals.gridSpacing
        text: qsTr("Home")
        color: Globals.colorPrimary1
        font.family: Globals.fontAssistantRegularName
        font.pointSize: 30
    }
}
