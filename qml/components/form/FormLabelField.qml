import QtQuick 2.15
import "../.."

Text {
    color: Globals.colorWhite
    font.pixelSize: Globals.fontSizeFieldLabel
    height: Globals.fieldLabelHeight
    verticalAlignment: Text.AlignVCenter
    elide: Text.ElideRight
}
