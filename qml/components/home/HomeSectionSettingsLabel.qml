import QtQuick 2.15
import "../.."

// A field label of the Settings rows, vertically centred on the field beside it.
Text {
    height: Globals.fieldInputHeight
    verticalAlignment: Text.AlignVCenter
    font.pixelSize: Globals.fontSizeFieldLabel
    color: Globals.colorWhite
    elide: Text.ElideRight
}
