import QtQuick 2.15
import "../.."
import "FormFields.js" as FormFields

// A titled block of field rows, laid out from the field table.
Item {
    id: formSection

    property string sectionKey: ""
    property string title: ""
    // The model objects the section's fields edit, by the table's target names.
    property var targets: ({})

    readonly property var sectionInfo: FormFields.section(sectionKey)
    readonly property int rowCount: sectionInfo ? sectionInfo.rows : 0
    property var fieldItems: []

    implicitHeight: 40 + rowCount * (Globals.fieldLabelHeight + Globals.fieldInputHeight)
                    + rowCount * Globals.gridSpacing

    function registerField(item) {
        var items = fieldItems
        items.push(item)
        fieldItems = items
    }

    function fieldByLabel(label) {
        for (var i = 0; i < fieldItems.length; ++i) {
            if (fieldItems[i].field.label === label)
                return fieldItems[i]
        }
        return null
    }

    // Fills every field from its model object. The fields that are always written
    // are switched on first, so they show the values the file will get.
    function fill() {
        for (var i = 0; i < fieldItems.length; ++i) {
            var item = fieldItems[i]
            var target = targets[item.field.target]
            item.target = target === undefined ? null : target
            item.markPresent()
            item.fill()
        }
    }

    // Writes what the comboboxes show into the model, as a selection would.
    function applyPreselections() {
        for (var i = 0; i < fieldItems.length; ++i)
            fieldItems[i].applyPreselection()
    }

    FormLabelSection {
        id: sectionLabel
        text: formSection.title
    }

    Column {
        id: rows
        anchors.top: sectionLabel.bottom
        width: parent.width
        spacing: Globals.gridSpacing

        Repeater {
            model: formSection.rowCount
            delegate: Row {
                id: fieldRow
                readonly property var rowFields: FormFields.rowFields(formSection.sectionKey, index + 1)
                width: rows.width
                spacing: Globals.gridSpacing

                Repeater {
                    model: fieldRow.rowFields
                    delegate: FormField {
                        field: modelData
                        width: Globals.fieldWidth(fieldRow.width,
                                                  modelData.share !== undefined ? modelData.share
                                                                                : formSection.sectionInfo.share,
                                                  fieldRow.rowFields.length)
                        height: implicitHeight
                        Component.onCompleted: formSection.registerField(this)
                    }
                }
            }
        }
    }
}
