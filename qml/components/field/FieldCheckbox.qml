import QtQuick 2.15
import "../.."

// A square box with a check mark and its label to the right; a click or Return toggles it.
Item {
    id: fieldCheckbox

    property string text: ""
    property bool isChecked: false

    implicitWidth: box.width + label.implicitWidth + 10
    implicitHeight: 30
    activeFocusOnTab: true

    Keys.onReturnPressed: isChecked = !isChecked

    Rectangle {
        id: box
        width: 30
        height: 30
        anchors.verticalCenter: parent.verticalCenter
        radius: Globals.fieldInputRadius
        color: fieldCheckbox.activeFocus ? Globals.colorFormFieldInputBackgroundFocused
                                         : Globals.colorFormFieldInputBackgroundUnfocused
        border.color: fieldCheckbox.activeFocus ? Globals.colorFormFieldInputBorderFocused
                                                : Globals.colorFormFieldInputBorderUnfocused
        border.width: Globals.fieldInputBorderWidth

        Canvas {
            id: checkMark
            anchors.fill: parent
            anchors.margins: 7
            visible: fieldCheckbox.isChecked
            onPaint: {
                var ctx = getContext("2d")
                ctx.reset()
                ctx.strokeStyle = Globals.colorWhite
                ctx.lineWidth = 3
                ctx.beginPath()
                ctx.moveTo(0, height * 0.55)
                ctx.lineTo(width * 0.4, height)
                ctx.lineTo(width, 0)
                ctx.stroke()
            }
        }
    }

    Text {
        id: label
        anchors.left: box.right
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        text: fieldCheckbox.text
        color: Globals.colorWhite
        font.pixelSize: Globals.fontSizeFieldLabel
    }

    MouseArea {
        anchors.fill: parent
        onClicked: {
            fieldCheckbox.forceActiveFocus()
            fieldCheckbox.isChecked = !fieldCheckbox.isChecked
        }
    }
}
