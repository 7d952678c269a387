import QtQuick 2.15
import QtQuick.Controls 2.15
import "../.."
import ".."

// Single-line input with the form's styling. A number field (one with an integer or
// decimal range) holds exactly what is typed; only text that is a number in range, or
// empty, is reported by userEdited and so reaches the model, as the number the file
// will hold. Other text is marked at the field, and when editing ends it is put back
// to the value the field had when editing began, with a note under the field naming
// the text not kept. When editing ends on an accepted number, the field shows the
// number the file will hold. Characters are never dropped one by one: a dropped key
// would join the digits around it into another number. Text filled in by setText()
// is shown as it is, in range or not.
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
    // How the file writes a decimal (QString::number's format and precision); "" keeps
    // the text itself.
    property string fileFormat: "g"
    property int filePrecision: 6
    // The last accepted text: what the model holds from this field.
    property string validatedValue: ""
    // Why the field does not hold, or did not keep, what was typed; "" when it does.
    readonly property alias refusal: note.text
    readonly property alias inputItem: input
    readonly property alias noteItem: note
    readonly property bool hovered: hoverArea.containsMouse

    // Set while the field changes its own text: no check, no userEdited.
    property bool filling: false
    property string filledText: ""
    // The text when editing began, put back when editing ends on a refused text.
    property string editStartText: ""
    // Set by holdRefusal(): a refused text stays, marked, when the field loses focus.
    property bool keepRefused: false
    // How far the note reaches below the field; 0 without a note.
    readonly property real noteHeight: note.visible ? note.anchors.topMargin + note.height : 0

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
        input.cursorPosition = 0
        validatedValue = value
        filledText = value
        editStartText = value
        keepRefused = false
        note.text = ""
        filling = false
    }

    function setEnabled(enabled) {
        input.readOnly = !enabled || readOnly
        input.enabled = enabled
        Globals.fieldInputOnEnabledChanged(enabled, input.activeFocus, inputBackground)
    }

    // Spaces around a number are not part of it.
    function parseValue(text) {
        text = text.trim()
        if (text === "" || !/^[+-]?(\d+\.?\d*|\.\d+)$/.test(text))
            return NaN
        return parseFloat(text)
    }

    // A number in plain notation, as few digits as give it back exactly.
    function plainNumber(value) {
        var shortest = String(value)
        var exponent = /^(-?)(\d)(?:\.(\d+))?e([+-]\d+)$/.exec(shortest)
        if (!exponent)
            return shortest
        var digits = exponent[2] + (exponent[3] || "")
        var point = 1 + parseInt(exponent[4], 10)
        if (point <= 0)
            digits = "0." + new Array(1 - point).join("0") + digits
        else if (point >= digits.length)
            digits = digits + new Array(point - digits.length + 1).join("0")
        else
            digits = digits.slice(0, point) + "." + digits.slice(point)
        return exponent[1] + digits
    }

    // The text of the number the file will hold for an accepted text.
    function keptText(text) {
        if (!isNumber)
            return text
        text = text.trim()
        if (text === "")
            return ""
        if (hasIntRange)
            return String(parseInt(text, 10))
        if (fileFormat === "")
            return text
        return fileNumberText(parseValue(text))
    }

    // A decimal as the file will hold it, in plain notation (the field refuses exponents).
    function fileNumberText(value) {
        return plainNumber(Number(value.toLocaleString(Qt.locale("C"), fileFormat, filePrecision)))
    }

    // "" when the text may reach the model; otherwise "unfinished" (the start of a
    // number, such as "-" or "."), "range", "whole" or "number".
    function refusalOf(text) {
        if (!isNumber)
            return ""
        text = text.trim()
        if (text === "")
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
        if (value < rangeBottom || value > rangeTop)
            return "range"
        // A number that rounds outside the range in the file is out of range too.
        value = parseFloat(keptText(text))
        return value < rangeBottom || value > rangeTop ? "range" : ""
    }

    // The note for a refused text; once it has been put back, the note names it.
    function refusalText(reason, typing, refused) {
        if (typing) {
            return reason === "range" ? qsTr("Out of range")
                 : reason === "whole" ? qsTr("Whole numbers only")
                 : reason === "number" ? qsTr("Not a number") : ""
        }
        return (reason === "range" ? qsTr("%1 not kept: out of range")
              : reason === "whole" ? qsTr("%1 not kept: whole numbers only") : qsTr("%1 not kept: not a number"))
               .arg(refused)
    }

    // Why the text in the field would not be saved ("" when it would): a refused text
    // still being edited, or one kept by holdRefusal(). A text filled in from the
    // document is what the document holds; its own validation reports it.
    function pendingRefusal() {
        var reason = refusalOf(input.text)
        if (reason === "" || (input.text === filledText && validatedValue === filledText))
            return ""
        return reason === "unfinished" ? "number" : reason
    }

    // Keeps a pending refused text, marked, until the user edits the field again, so
    // that a Save refused because of it leaves it there to be corrected.
    function holdRefusal() {
        var reason = pendingRefusal()
        if (reason !== "") {
            keepRefused = true
            note.text = refusalText(reason, true)
        }
        return reason
    }

    // A change the user made: marked when refused, reported when accepted.
    function textTyped(value) {
        var reason = refusalOf(value)
        note.text = refusalText(reason, true)
        if (reason !== "")
            return
        validatedValue = value
        userEdited(keptText(value))
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
            var kept = keptText(input.text)
            if (kept !== input.text) {
                putText(kept)
                validatedValue = kept
            }
            // Enter ends editing with the focus kept: a refused text typed next gives way to this.
            editStartText = kept
            return
        }
        if (keepRefused || (input.text === filledText && validatedValue === filledText))
            return
        var refused = input.text
        putText(editStartText)
        if (validatedValue !== editStartText) {
            validatedValue = editStartText
            userEdited(keptText(editStartText))
        }
        note.text = refusalText(reason, false, refused)
    }

    TextField {
        id: input
        anchors.fill: parent
        readOnly: fieldText.readOnly
        color: Globals.colorFormFieldInputFont
        selectionColor: Globals.colorTextSelection
        selectByMouse: true
        // A value too long for a narrow field is drawn smaller once editing ends, down to
        // the note's size, so that all of it stays in view; past that it shows from its start.
        font.pixelSize: {
            var room = width - leftPadding - rightPadding
            if (activeFocus || room <= 0 || fullWidth.advanceWidth <= room)
                return fieldText.fontSize
            return Math.max(Globals.fontSizeFieldNote, Math.floor(fieldText.fontSize * room / fullWidth.advanceWidth))
        }
        font.italic: text === ""
        leftPadding: fieldText.leftPadding
        topPadding: fieldText.topPadding
        bottomPadding: fieldText.bottomPadding
        verticalAlignment: TextInput.AlignVCenter
        placeholderText: fieldText.placeholderText
        placeholderTextColor: activeFocus ? Globals.colorNeutral2 : Globals.colorNeutral3
        rightPadding: fieldText.rightPadding

        background: Rectangle {
            id: inputBackground
            color: Globals.colorFormFieldInputBackgroundUnfocused
            border.color: Globals.colorFormFieldInputBorderUnfocused
            border.width: Globals.fieldInputBorderWidth
            radius: Globals.fieldInputRadius
        }

        onActiveFocusChanged: {
            Globals.fieldInputOnFocusChanged(activeFocus, inputBackground)
            if (activeFocus) {
                // A held refused text is edited again: leaving puts back what was there before it.
                if (!fieldText.keepRefused)
                    fieldText.editStartText = text
                fieldText.keepRefused = false
            } else {
                fieldText.finishEditing()
                cursorPosition = 0
            }
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

    TextMetrics {
        id: fullWidth
        font.family: input.font.family
        font.pixelSize: fieldText.fontSize
        text: input.text
    }

    // Marks a refused text; the note under the field says why, wrapped to the field's width.
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
        anchors.top: input.bottom
        anchors.topMargin: 2
        anchors.left: parent.left
        anchors.right: parent.right
        visible: text !== ""
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
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
