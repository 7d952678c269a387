import QtQuick 2.15
import QtQuick.Dialogs 1.3
import "../.."

// Colour swatch; a click opens the colour dialog. hasColor stays false until a
// colour is loaded or chosen, and the swatch then shows the neutral field colour.
Item {
    id: fieldColor

    property color color: Globals.colorNeutral5
    property bool hasColor: false

    // A colour chosen in the dialog (not one loaded with setColor()).
    signal colorChosen(color chosen)

    implicitWidth: 100
    implicitHeight: Globals.fieldInputHeight

    function setColor(value) {
        color = value
        hasColor = true
    }

    // The dialog's accept, kept apart so that it can be driven without a dialog.
    function chooseColor(value) {
        setColor(value)
        colorChosen(value)
    }

    Rectangle {
        id: swatch
        anchors.fill: parent
        radius: Globals.fieldInputRadius
        color: fieldColor.hasColor ? fieldColor.color : Globals.colorNeutral5
        border.color: Globals.colorFormFieldInputBorderUnfocused
        border.width: Globals.fieldInputBorderWidth
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            // Starts at the colour the swatch shows.
            colorDialog.color = fieldColor.hasColor ? fieldColor.color : Globals.colorNeutral5
            colorDialog.open()
        }
    }

    ColorDialog {
        id: colorDialog
        title: qsTr("Choose a color")
        showAlphaChannel: false
        modality: Qt.WindowModal
        onAccepted: fieldColor.chooseColor(colorDialog.color)
    }
}
