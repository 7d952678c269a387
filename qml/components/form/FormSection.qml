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
    // The levels above the edited objects, most specific first: a value the form always
    // writes and the object lacks is taken from the nearest of them that sets it.
    property var inheritedFrom: []

    readonly property var sectionInfo: FormFields.section(sectionKey)
    readonly property var shownFields: FormFields.sectionFields(sectionKey).filter(function (f) {
        return f.kind !== "placeholder"
    })
    readonly property int tableColumns: sectionInfo ? FormFields.rowFields(sectionKey, 1).length : 1
    property var fieldItems: []

    // Rows of the table's width while every label fits; fewer columns (more rows,
    // scrolled vertically) once the section is too narrow, so no field or label is cut.
    // The Material row has fields of their own shares and keeps its one row.
    property real widestLabel: 0
    readonly property int columns: {
        if (!sectionInfo || sectionInfo.share === 0 || widestLabel <= 0)
            return tableColumns
        var fitting = Math.floor((width + Globals.gridSpacing) / (widestLabel + Globals.gridSpacing))
        return Math.max(1, Math.min(tableColumns, fitting))
    }
    readonly property int rowCount: sectionInfo ? (sectionInfo.share === 0 ? sectionInfo.rows
                                                   : Math.ceil(shownFields.length / columns)) : 0

    // Taller by what notes under the fields need beyond the gaps between rows.
    implicitHeight: Math.max(40 + rowCount * (Globals.fieldLabelHeight + Globals.fieldInputHeight)
                             + rowCount * Globals.gridSpacing, 40 + rows.height + Globals.gridSpacing)

    function fieldWidthOf(field) {
        if (field.share !== undefined)
            return Globals.fieldWidth(width, field.share, tableColumns)
        return Globals.fieldWidth(width, 1 / columns, columns)
    }

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

    // The validation messages of the refused texts still in the fields, which stay there.
    function holdRefusedFields() {
        var messages = []
        for (var i = 0; i < fieldItems.length; ++i) {
            var message = fieldItems[i].holdRefusal()
            if (message !== "")
                messages.push(message)
        }
        return messages
    }

    // Fills every field from its model object. The fields that are always written
    // are switched on first, so they show the values the file will get.
    function fill() {
        var i
        for (i = 0; i < fieldItems.length; ++i) {
            var target = targets[fieldItems[i].field.target]
            fieldItems[i].target = target === undefined ? null : target
        }
        for (i = 0; i < fieldItems.length; ++i)
            fieldItems[i].takeInheritedValue(inheritedFrom)
        markAdvancedFieldsPresent()
        for (i = 0; i < fieldItems.length; ++i)
            fieldItems[i].fill()
    }

    // The advanced fields are always written: their present bits are switched on.
    function markAdvancedFieldsPresent() {
        for (var i = 0; i < fieldItems.length; ++i)
            fieldItems[i].markPresent()
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

    Grid {
        id: rows
        anchors.top: sectionLabel.bottom
        width: parent.width
        columns: formSection.columns
        rowSpacing: Globals.gridSpacing
        columnSpacing: Globals.gridSpacing

        Repeater {
            model: formSection.shownFields
            delegate: FormField {
                field: modelData
                width: formSection.fieldWidthOf(modelData)
                height: implicitHeight
                Component.onCompleted: {
                    formSection.registerField(this)
                    formSection.widestLabel = Math.max(formSection.widestLabel, Math.ceil(labelImplicitWidth))
                }
            }
        }
    }
}
