import QtQuick 2.15
import QtGraphicalEffects 1.15
import "../.."

// One entry of the recent-materials list: bottle with the material colour,
// file name over printer model, date, and a remove icon.
Rectangle {
    id: recentRow

    property string fileName: ""
    property string printerModel: ""
    property string lastUpdatedDate: ""
    property color friendlyColor: Globals.colorNeutral5
    readonly property bool hovered: rowMouseArea.containsMouse || removeMouseArea.containsMouse
    readonly property alias removeButton: removeMouseArea

    signal openClicked()
    signal removeClicked()

    height: 100
    color: hovered ? Globals.colorNeutral3 : Globals.colorNeutral4

    Rectangle {
        id: topBorder
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: 2
        color: recentRow.hovered ? Globals.colorPrimary1 : Globals.colorNeutral3
    }

    MouseArea {
        id: rowMouseArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: recentRow.openClicked()
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
            color: recentRow.friendlyColor
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

    Item {
        id: nameArea
        anchors.left: bottleArea.right
        anchors.leftMargin: Globals.gridSpacing
        anchors.right: dateText.left
        anchors.rightMargin: Globals.gridSpacing
        height: parent.height

        Text {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.verticalCenterOffset: -15
            text: recentRow.fileName
            elide: Text.ElideLeft
            font.pointSize: 15
            font.bold: true
            color: Globals.colorWhite
            textFormat: Text.PlainText
        }

        Text {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.verticalCenterOffset: 15
            text: recentRow.printerModel
            elide: Text.ElideRight
            font.pointSize: 15
            color: Globals.colorWhite
            textFormat: Text.PlainText
        }
    }

    Text {
        id: dateText
        anchors.right: removeArea.left
        anchors.rightMargin: Globals.gridSpacing
        anchors.verticalCenter: parent.verticalCenter
        text: recentRow.lastUpdatedDate
        font.pointSize: 15
        color: Globals.colorWhite
        textFormat: Text.PlainText
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
            // The drawing is white; only the hovered colour needs the tint, whose shader
            // is then built when first hovered rather than for the first frame.
            visible: !removeMouseArea.containsMouse
        }

        Loader {
            anchors.fill: removeIcon
            active: removeMouseArea.containsMouse
            sourceComponent: Component {
                ColorOverlay {
                    source: removeIcon
                    color: Globals.colorPrimary1
                }
            }
        }

        MouseArea {
            id: removeMouseArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: recentRow.removeClicked()
        }
    }
}
