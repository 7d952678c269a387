import QtQuick 2.15
import "../../"

// The material form screen. It stays at the bottom of the stack for the whole run.
Rectangle {
    id: screenForm

    color: Globals.colorNeutral4

    Text {
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: 2 * Globals.gridSpacing
        text: qsTr("Material Form")
        color: Globals.colorPrimary1
        font.family: Globals.fontAssistantRegularName
        font.pointSize: 30
    }
}
