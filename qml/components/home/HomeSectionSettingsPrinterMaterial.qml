import QtQuick 2.15
import QtGraphicalEffects 1.15
import "../.."

// One material installed on the connected printer: bottle, name and a remove cross.
Item {
    id: materialRow

    property string materialName: ""
    readonly property alias removeButton: removeMouseArea

    signal removeClicked()

    height: 100

    Rectangle {
        anchors.top: parent.top
        width: parent.width
        height: 2
        color: Globals.colorNeutral3
    }

    Item {
        id: bottleArea
        anchors.left: parent.left
        anchors.leftMargin: Globals.gridSpacing
        anchors.verticalCenter: parent.verticalCenter
        width: 70
        height: parent.height

        Rectangle {
            anchors.centerIn: parent
            anchors.horizontalCenterOffset: 6
            anchors.verticalCenterOffset: 4
            width: 35
            height: 38
            color: Globals.colorWhite
        }

        Image {
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            width: 60
            height: 60
            sourceSize: Qt.size(60, 60)
            source: "../../images/resin_bottle.svg"
        }
    }

    Text {
        anchors.left: bottleArea.right
        anchors.right: removeArea.left
        anchors.margins: Globals.gridSpacing
        anchors.verticalCenter: parent.verticalCenter
        horizontalAlignment: Text.AlignHCenter
        text: materialRow.materialName
        // Names come from the printer.
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font.pixelSize: 22
        color: Globals.colorWhite
    }

    Item {
        id: removeArea
        anchors.right: parent.right
        anchors.rightMargin: Globals.gridSpacing
        width: 40
        height: parent.height

        Image {
            id: removeIcon
            anchors.centerIn: parent
            width: 20
            height: 20
            sourceSize: Qt.size(20, 20)
            source: "../../images/action_remove.svg"
            visible: false
        }

        ColorOverlay {
            anchors.fill: removeIcon
            source: removeIcon
            color: removeMouseArea.containsMouse ? Globals.colorPrimary1 : Globals.colorWhite
        }

        MouseArea {
            id: removeMouseArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: materialRow.removeClicked()
        }
    }
}
