import QtQuick 2.15
import "../.."

Text {
    color: Globals.colorWhite
    font.pixelSize: 20
    height: 40
    verticalAlignment: Text.AlignVCenter
}
