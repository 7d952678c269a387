import QtQuick 2.15
import QtQuick.Controls 2.15
import "../.."

// Wrapping multi-line input inside a rounded field background.
Item {
    id: fieldTextMultiline

    property alias text: area.text
    property int fontSize: Globals.fontSizeFieldInput
    property string placeholderText: ""
    property real leftPadding: 10
    property real rightPadding: 10
    property real topPadding: 10
    property real bottomPadding: 10

    signal editingFinished()

    implicitWidth: 300
    implicitHeight: 120

    function setEnabled(enabled) {
        area.readOnly = !enabled
        area.enabled = enabled
        Globals.fieldInputOnEnabledChanged(enabled, area.activeFocus, areaBackground)
    }

    Rectangle {
        id: areaBackground
        anchors.fill: parent
        color: Globals.colorFormFieldInputBackgroundUnfocused
        border.color: Globals.colorFormFieldInputBorderUnfocused
        border.width: Globals.fieldInputBorderWidth
        radius: Globals.fieldInputRadius
    }

    ScrollView {
        anchors.fill: parent
        clip: true
        TextArea {
            id: area
            wrapMode: TextEdit.Wrap
            color: Globals.colorFormFieldInputFont
            selectionColor: Globals.colorTextSelection
            selectByMouse: true
            font.pixelSize: fieldTextMultiline.fontSize
            font.italic: text === ""
            leftPadding: fieldTextMultiline.leftPadding
            rightPadding: fieldTextMultiline.rightPadding
            topPadding: fieldTextMultiline.topPadding
            bottomPadding: fieldTextMultiline.bottomPadding
            placeholderText: fieldTextMultiline.placeholderText
            placeholderTextColor: activeFocus ? Globals.colorNeutral2 : Globals.colorNeutral3
            background: null
            onActiveFocusChanged: Globals.fieldInputOnFocusChanged(activeFocus, areaBackground)
            onEditingFinished: fieldTextMultiline.editingFinished()
        }
    }
}
