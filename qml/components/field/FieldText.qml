import QtQuick 2.15
import QtQuick.Controls 2.15
import "../.."
import ".."

// Single-line input with the form's styling. A number field (one with an integer or
// decimal range) holds exactly what is typed; only text that is a number in range, or
// empty, is reported by userEdited and so reaches the model. Other text is marked at
// the field, and when editing ends it is put back to the value the field had when
// editing began, with the reason left showing. Characters are never dropped one by
// one: a dropped key would join the digits around it into another number. Text
// filled in by setText() is shown as it is, in range or not.
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
    // The last accepted text: what the model holds from this field.
    property string validatedValue: ""
    // Why the field does not hold, or did not keep, what was typed; "" when it does.
    readonly property alias refusal: note.text
    readonly property alias inputItem: input
    readonly property bool hovered: hoverArea.containsMouse

    // Set while the field changes its own text: no check, no userEdited.
    property bool filling: false
    property string filledText: ""
    // The text when editing began, put back when editing ends on a refused text.
    property string editStartText: ""

    signal editingFinished()
    // A change of the text that did not come from setText(), to a text that is accepted.
    signal userEdited(string text)

    implicitWidth: 200
    implicitHeight: Globals.fieldInputHeight

    readonly property bool hasIntRange: intMin !== -1 || intMax !== -1
    readonly property bool hasDoubleRange: !hasIntRange && (!isNaN(doubleMin) || !isNaN(doubleMax))
    readonly property bool isNumber: hasIntRange || hasDoubleRange
    readonly property real rangeBottom: hasIntRange ? (intMin === -1 ? -2147483647 : intMin)
                                               : (isNaN(doubleMin) ? -Infinity : doubleMin)
    readonly property real rangeTop: hasIntRange ? (intMax === -1 ? 2147483647 : intMax)
                                            : (isNaN(doubleMax) ? Infinity : doubleMax)

    function setText(value) {
        filling = true
        input.text = value
        validatedValue = value
        filledText = value
        editStartText = value
        note.text = ""
        filling = false
    }

    function setEnabled(enabled) {
        input.readOnly = !enabled || readOnly
        input.enabled = enabled
        Globals.fieldInputOnEnabledChanged(enabled, input.activeFocus, inputBackground)
    }

    function parseValue(text) {
        if (text === "" || !/^[+-]?(\d+\.?\d*|\.\d+)$/.test(text))
            return NaN
        return parseFloat(text)
    }

    // "" when the text may reach the model; otherwise "unfinished" (the start of a
    // number, such as "-" or "."), "range", "whole" or "number".
    function refusalOf(text) {
        if (!isNumber || text === "")
            return ""
        if (hasIntRange && !/^[+-]?\d+$/.test(text)) {
            if (/^[+-]?$/.test(text))
                return "unfinished"
            return /^[+-]?(\d+[.,]?\d*|[.,]\d+)$/.test(text) ? "whole" : "number"
        }
        // A whole number's text is already checked above.
        var value = hasIntRange ? parseFloat(text) : parseValue(text)
        if (isNaN(value))
            return /^[+-]?\.?$/.test(text) ? "unfinished" : "number"
        return value < rangeBottom || value > rangeTop ? "range" : ""
    }

    function refusalText(reason, typing) {
        if (typing) {
            return reason === "range" ? qsTr("Out of range")
                 : reason === "whole" ? qsTr("Whole numbers only")
                 : reason === "number" ? qsTr("Not a number") : ""
        }
        return reason === "range" ? qsTr("Not kept: out of range")
             : reason === "whole" ? qsTr("Not kept: whole numbers only") : qsTr("Not kept: not a number")
    }

    // A change the user made: marked when refused, reported when accepted.
    function textTyped(value) {
        var reason = refusalOf(value)
        note.text = refusalText(reason, true)
        if (reason !== "")
            return
        validatedValue = value
        userEdited(value)
    }

    function putText(value) {
        filling = true
        input.text = value
        filling = false
    }

    // Ends editing: a refused text gives way to the text editing began with, and the
    // model gets that value back when a keystroke of this edit had changed it. Text
    // filled in from the document stays: it is what the document holds.
    function finishEditing() {
        var reason = refusalOf(input.text)
        if (reason === "") {
            note.text = ""
            return
        }
        if (input.text === filledText && validatedValue === filledText)
            return
        putText(editStartText)
        if (validatedValue !== editStartText) {
            validatedValue = editStartText
            userEdited(editStartText)
        }
        note.text = refusalText(reason, false)
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
        topPadding: fieldText.topPadding
        bottomPadding: fieldText.bottomPadding
        verticalAlignment: TextInput.AlignVCenter
        placeholderText: fieldText.placeholderText
        placeholderTextColor: activeFocus ? Globals.colorNeutral2 : Globals.colorNeutral3
        rightPadding: note.text === "" ? fieldText.rightPadding : fieldText.rightPadding + note.width + 6

        background: Rectangle {
            id: inputBackground
            color: Globals.colorFormFieldInputBackgroundUnfocused
            border.color: Globals.colorFormFieldInputBorderUnfocused
            border.width: Globals.fieldInputBorderWidth
            radius: Globals.fieldInputRadius
        }

        onActiveFocusChanged: {
            Globals.fieldInputOnFocusChanged(activeFocus, inputBackground)
            if (activeFocus)
                fieldText.editStartText = text
            else
                fieldText.finishEditing()
        }
        onEditingFinished: fieldText.editingFinished()
        // Return and Enter end editing; a refused text is put back first.
        Keys.onReturnPressed: function (event) {
            fieldText.finishEditing()
            event.accepted = false
        }
        Keys.onEnterPressed: function (event) {
            fieldText.finishEditing()
            event.accepted = false
        }
        Keys.onPressed: function (event) {
            if (readOnly || (event.text !== "," && event.text !== "."))
                return
            var start = selectionStart
            if (fieldText.hasIntRange && !/\d/.test(text.slice(0, start) + text.slice(selectionEnd))) {
                // A separator with no digit yet is refused outright, selection and all.
                event.accepted = true
                note.text = fieldText.refusalText("whole", true)
            } else if (fieldText.hasDoubleRange && event.text === ",") {
                // In a decimal field a comma is the decimal point.
                event.accepted = true
                text = text.slice(0, start) + "." + text.slice(selectionEnd)
                cursorPosition = start + 1
            }
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
            fieldText.textTyped(text)
        }
    }

    // Marks a refused text and says why, inside the field on the right.
    Rectangle {
        anchors.fill: input
        visible: note.text !== ""
        color: "transparent"
        border.color: Globals.colorPrimary1
        border.width: Globals.fieldInputBorderWidth
        radius: Globals.fieldInputRadius
    }

    Text {
        id: note
        anchors.right: parent.right
        anchors.rightMargin: fieldText.rightPadding
        anchors.verticalCenter: parent.verticalCenter
        width: Math.min(implicitWidth, parent.width / 2)
        visible: text !== ""
        elide: Text.ElideRight
        textFormat: Text.PlainText
        font.family: Globals.fontAssistantRegularName
        font.pixelSize: Globals.fontSizeFieldNote
        font.italic: true
        color: Globals.colorPrimary1
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
