import QtQuick 2.15
import com.vtr.MaterialDocumentManagementLib 1.0
import "../.."
import "../field"
import "FormFields.js" as FormFields

// One labelled field of the material form, built from its row of the field table.
// It writes its model property only after fill() has run, and fill() itself never
// writes a field back: what was loaded stays as it was loaded.
Item {
    id: formField

    property var field: ({})
    property QtObject target: null
    property bool filled: false
    readonly property alias input: inputLoader.item
    readonly property alias labelText: label.text
    readonly property alias labelImplicitWidth: label.implicitWidth
    readonly property bool isPlaceholder: field.kind === "placeholder"

    visible: !isPlaceholder
    enabled: !isPlaceholder
    // A note under the field that needs more than the gap below it makes the row taller.
    readonly property real noteOverhang: input && input.noteHeight !== undefined
                                         ? Math.max(0, input.noteHeight - Globals.gridSpacing) : 0
    implicitHeight: Globals.fieldLabelHeight + Globals.fieldInputHeight + noteOverhang

    function presentBitValue() {
        var bit = FormFields.presentBit(field)
        if (bit === null)
            return 0
        var types = {
            "BaseMaterialObject": BaseMaterialObject,
            "CycleSetting": CycleSetting,
            "PelluxMaterialDocument": PelluxMaterialDocument
        }
        return types[bit.type][bit.flag]
    }

    function isPresent() {
        var bit = FormFields.presentBit(field)
        if (bit === null || target === null)
            return false
        return (target[bit.word] & presentBitValue()) !== 0
    }

    function fill() {
        filled = false
        if (target === null || isPlaceholder) {
            return
        }
        var kind = field.kind
        if (kind === "text") {
            if (isPresent())
                input.setText(target[field.property])
        } else if (kind === "version") {
            // Shown always, so written always: the file holds the version the form shows.
            if (!isPresent())
                target[field.property] = target[field.property]
            input.setText(target[field.property])
        } else if (kind === "D" || kind === "I" || kind === "Istar") {
            if (isPresent()) {
                // A decimal shows the number the file will hold, which may have fewer digits than the model.
                var value = target[field.property]
                input.setText(kind === "D" && typeof value === "number" && isFinite(value)
                              ? input.fileNumberText(value) : FormFields.valueText(field, value))
            } else if (field.valueWhenAbsent !== undefined) {
                writeText(field.valueWhenAbsent)
                input.setText(field.valueWhenAbsent)
            }
        } else if (kind === "thickness") {
            input.setInitialValue(target.thickness_um)
        } else if (kind === "yesno") {
            input.setInitialValue(target.testingTrim ? "Yes" : "No")
        } else if (kind === "color") {
            var all = PelluxMaterialDocument.PelluxMaterialDocumentFriendlyColorRed
                    | PelluxMaterialDocument.PelluxMaterialDocumentFriendlyColorGreen
                    | PelluxMaterialDocument.PelluxMaterialDocumentFriendlyColorBlue
            if ((target.xmlFlags & all) === all) {
                input.setColor(Qt.rgba(target.friendlyColorRed / 255, target.friendlyColorGreen / 255,
                                       target.friendlyColorBlue / 255, 1))
            }
        }
        filled = true
    }

    // For a field the form always writes and the target lacks: takes the value of the
    // nearest level above that sets it (levels most specific first), so that writing it
    // at the target's level keeps the value the file already gives. When no level sets
    // it, a field with a stated default takes that rather than the model's initial value.
    function takeInheritedValue(levels) {
        if (!FormFields.alwaysWritten(field) || target === null || isPresent())
            return
        var bit = FormFields.presentBit(field)
        for (var i = 0; i < levels.length; ++i) {
            var level = levels[i]
            if (level && (level[bit.word] & presentBitValue()) !== 0) {
                target[field.property] = level[field.property]
                return
            }
        }
        if (field.valueWhenUnset !== undefined)
            writeText(field.valueWhenUnset)
    }

    // Switches the present bit on for fields that are always written.
    function markPresent() {
        if (field.alwaysPresent && target !== null)
            target.UpdateFlag(presentBitValue(), true)
    }

    function writeText(text) {
        var kind = field.kind
        if (kind === "text" || kind === "version") {
            target[field.property] = text
        } else if (kind === "D") {
            target[field.property] = FormFields.parseDecimal(text)
        } else if (kind === "I") {
            target[field.property] = FormFields.parseInteger(text)
        } else if (kind === "Istar") {
            var value = FormFields.parseDecimal(text)
            target[field.property] = isNaN(value) ? FormFields.intNoValue : value
        }
    }

    // For a refused text still in the field: keeps it there, marked, and returns the
    // validation message naming the field and why; otherwise "".
    function holdRefusal() {
        if (!input || input.holdRefusal === undefined)
            return ""
        var reason = input.holdRefusal()
        if (reason === "range") {
            return qsTr("<b>%1</b> is outside the allowed range of %2 to %3.").arg(labelText)
                    .arg(String(parseFloat(field.min))).arg(String(parseFloat(field.max)))
        }
        if (reason === "whole")
            return qsTr("<b>%1</b> takes whole numbers only.").arg(labelText)
        return reason === "" ? "" : qsTr("<b>%1</b> is not a number.").arg(labelText)
    }

    function onUserEdited(text) {
        if (filled && target !== null)
            writeText(text)
    }

    function onSelection(value) {
        if (!filled || target === null)
            return
        if (field.kind === "thickness") {
            target.name = value
            target.thickness_um = parseInt(value, 10)
        } else if (field.kind === "yesno") {
            target.testingTrim = (value === "Yes")
        }
    }

    function applyPreselection() {
        if ((field.kind === "thickness" || field.kind === "yesno") && input.currentIndex >= 0)
            onSelection(input.selected)
    }

    function onColorChosen(chosen) {
        if (!filled || target === null)
            return
        target.friendlyColorRed = Math.round(chosen.r * 255)
        target.friendlyColorGreen = Math.round(chosen.g * 255)
        target.friendlyColorBlue = Math.round(chosen.b * 255)
    }

    FormLabelField {
        id: label
        width: parent.width
        text: formField.field.label !== undefined ? qsTranslate("FormFields", formField.field.label) : ""
        color: formField.field.advanced ? Globals.colorPrimary1 : Globals.colorWhite
    }

    Loader {
        id: inputLoader
        anchors.top: label.bottom
        width: parent.width
        height: Globals.fieldInputHeight
        sourceComponent: {
            switch (formField.field.kind) {
            case "thickness":
            case "yesno":
                return comboComponent
            case "color":
                return colorComponent
            default:
                return textComponent
            }
        }
    }

    Component {
        id: textComponent
        FieldText {
            placeholderText: FormFields.placeholderFor(formField.field, Globals.fieldInputPlaceholderNumberRangeFormat)
            toolTipText: formField.field.tooltip !== undefined ? qsTranslate("FormFields", formField.field.tooltip) : ""
            intMin: FormFields.isInteger(formField.field) ? parseInt(formField.field.min, 10) : -1
            intMax: FormFields.isInteger(formField.field) ? parseInt(formField.field.max, 10) : -1
            doubleMin: (formField.field.kind === "D" || formField.field.kind === "version")
                       ? parseFloat(formField.field.min) : NaN
            doubleMax: (formField.field.kind === "D" || formField.field.kind === "version")
                       ? parseFloat(formField.field.max) : NaN
            fileFormat: formField.field.kind === "D" ? FormFields.fileFormat(formField.field).format : ""
            filePrecision: FormFields.fileFormat(formField.field).precision
            onUserEdited: formField.onUserEdited(text)
        }
    }

    Component {
        id: comboComponent
        FieldComboBox {
            values: formField.field.kind === "thickness" ? FormFields.thicknessValues : FormFields.yesNoValues
            onSelectionChanged: formField.onSelection(selected)
        }
    }

    Component {
        id: colorComponent
        FieldColor {
            onColorChosen: formField.onColorChosen(chosen)
        }
    }
}
