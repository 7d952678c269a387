import QtQuick 2.15
import QtQuick.Controls 2.15
import "../.."
import ".."

// Single-line input with the form's styling. With a decimal range the text is
// checked on every change and an out-of-range value is put back to the last
// accepted text; text filled in by setText() is shown as it is. A number field
// refuses characters no number has, and shows empty once editing finishes on
// text that is not yet a number ("." or "-"), since the document holds none.
Item {
    id: fieldText

    property alias text: input.text
    property int fontSize: Globals.fontSizeFieldInput
    property real leftPadding: 10
    property real rightPadding: 10
    property real topPadding: 0
    property real bottomPadding: 0
    property alias horizontalAlignment: input.horizontalAlignment
    property bool readOnly: false
    property string toolTipText: ""
    property string placeholderText: ""
    property int intMin: -1
    property int intMax: -1
    // NaN = unset; -1 is a real bound (XY Trim starts at -1.0).
    property real doubleMin: NaN
    property real doubleMax: NaN
    property string validatedValue: ""
    readonly property alias inputItem: input
    readonly property bool hovered: hoverArea.containsMouse

    // Set while setText() fills the field: no range check, no userEdited.
    property bool filling: false
    property string filledText: ""

    signal editingFinished()
    // A change of the text that did not come from setText().
    signal userEdited(string text)

    implicitWidth: 200
    implicitHeight: Globals.fieldInputHeight

    readonly property bool hasIntRange: intMin !== -1 || intMax !== -1
    readonly property bool hasDoubleRange: !hasIntRange && (!isNaN(doubleMin) || !isNaN(doubleMax))
    readonly property bool isNumber: hasIntRange || hasDoubleRange
    // What a number field may hold while it is typed; the validators alone let
    // group separators such as ',' through as intermediate text.
    readonly property var partialNumberPattern: hasIntRange ? /^[+-]?\d*$/ : /^[+-]?\d*\.?\d*$/

    function setText(value) {
        filling = true
        input.text = value
        validatedValue = value
        filledText = value
        filling = false
    }

    function setEnabled(enabled) {
        input.readOnly = !enabled || readOnly
        input.enabled = enabled
        Globals.fieldInputOnEnabledChanged(enabled, input.activeFocus, inputBackground)
    }

    // Text that is not a number when editing ends is cleared, as a user would.
    // Text filled in from the document is never cleared: it is what the document holds.
    function finishEditing() {
        if (isNumber && input.text !== "" && input.text !== filledText && isNaN(parseValue(input.text)))
            input.text = ""
    }

    function parseValue(text) {
        if (text === "" || !/^[+-]?(\d+\.?\d*|\.\d+)$/.test(text))
            return NaN
        return parseFloat(text)
    }

    IntValidator {
        id: intValidator
        locale: "C"
        bottom: fieldText.intMin === -1 ? -2147483647 : fieldText.intMin
        top: fieldText.intMax === -1 ? 2147483647 : fieldText.intMax
    }

    DoubleValidator {
        id: doubleValidator
        locale: "C"
        notation: DoubleValidator.StandardNotation
        bottom: isNaN(fieldText.doubleMin) ? -Infinity : fieldText.doubleMin
        top: isNaN(fieldText.doubleMax) ? Infinity : fieldText.doubleMax
    }

    TextField {
        id: input
        anchors.fill: parent
        readOnly: fieldText.readOnly
        color: Globals.colorFormFieldInputFont
        selectionColor: Globals.colorTextSelection
        selectByMouse: true
        font.pixelSize: fieldText.fontSize
        font.italic: text === ""
        leftPadding: fieldText.leftPadding
        rightPadding: fieldText.rightPadding
        topPadding: fieldText.topPadding
        bottomPadding: fieldText.bottomPadding
        verticalAlignment: TextInput.AlignVCenter
        placeholderText: fieldText.placeholderText
        placeholderTextColor: activeFocus ? Globals.colorNeutral2 : Globals.colorNeutral3
        validator: fieldText.hasIntRange ? intValidator : (fieldText.hasDoubleRange ? doubleValidator : null)

        background: Rectangle {
            id: inputBackground
            color: Globals.colorFormFieldInputBackgroundUnfocused
            border.color: Globals.colorFormFieldInputBorderUnfocused
            border.width: Globals.fieldInputBorderWidth
            radius: Globals.fieldInputRadius
        }

        onActiveFocusChanged: {
            Globals.fieldInputOnFocusChanged(activeFocus, inputBackground)
            if (!activeFocus)
                fieldText.finishEditing()
        }
        onEditingFinished: fieldText.editingFinished()
        // Return and Enter end editing only on acceptable text; unfinished numbers are cleared first.
        Keys.onReturnPressed: function (event) {
            fieldText.finishEditing()
            event.accepted = false
        }
        Keys.onEnterPressed: function (event) {
            fieldText.finishEditing()
            event.accepted = false
        }
        // In a decimal field a comma is the decimal point: dropped, or read as a group
        // separator, it would change the size of the number being typed.
        Keys.onPressed: function (event) {
            if (!fieldText.hasDoubleRange || event.text !== "," || readOnly)
                return
            event.accepted = true
            if (selectedText !== "")
                remove(selectionStart, selectionEnd)
            insert(cursorPosition, ".")
        }

        onTextChanged: {
            if (fieldText.filling)
                return
            if (fieldText.hasDoubleRange && text.indexOf(",") >= 0) {
                // Pasted text: its commas are decimal points too. Reassigning checks it again.
                var position = cursorPosition
                text = text.replace(/,/g, ".")
                cursorPosition = Math.min(position, text.length)
                return
            }
            if (fieldText.isNumber && text !== "") {
                var refused = !fieldText.partialNumberPattern.test(text)
                if (!refused && fieldText.hasDoubleRange) {
                    var value = fieldText.parseValue(text)
                    refused = !isNaN(value) && (value < doubleValidator.bottom || value > doubleValidator.top)
                }
                if (refused) {
                    // Reassigning emits textChanged again, which reports the restored text.
                    text = fieldText.validatedValue
                    return
                }
                fieldText.validatedValue = text
            }
            fieldText.userEdited(text)
        }
    }

    MouseArea {
        id: hoverArea
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.NoButton
    }

    StyledToolTip {
        text: fieldText.toolTipText
        visible: fieldText.hovered && fieldText.toolTipText !== ""
    }
}
