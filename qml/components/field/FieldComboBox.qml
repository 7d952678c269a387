import QtQuick 2.15
import QtQuick.Controls 2.15
import "../.."

// Drop-down with the form's styling. values is a list of texts or a list model
// (whose entries' "model" role is the value).
ComboBox {
    id: fieldComboBox

    property var values: []
    property var selected: undefined
    // Shown while no entry is selected.
    property string textWhenNoneSelected: ""

    signal selectionChanged()
    signal popupClosed()

    implicitHeight: Globals.fieldInputHeight
    model: values
    font.pixelSize: Globals.fontSizeFieldInput

    function valueAt(index) {
        if (index < 0 || values === undefined || values === null)
            return undefined
        if (Array.isArray(values))
            return index < values.length ? values[index] : undefined
        if (values.get !== undefined)
            return index < values.count ? values.get(index).model : undefined
        return undefined
    }

    function indexOfValue(value) {
        var count = Array.isArray(values) ? values.length : (values && values.count !== undefined ? values.count : 0)
        for (var i = 0; i < count; ++i) {
            if (String(valueAt(i)) === String(value))
                return i
        }
        return -1
    }

    function open() {
        popup.open()
    }

    // Selects the entry equal to value; no entry is selected when none matches.
    function setInitialValue(value) {
        currentIndex = indexOfValue(value)
    }

    Component.onCompleted: {
        if (Array.isArray(values) && values.length > 0 && currentIndex < 0)
            currentIndex = 0
    }

    onCurrentIndexChanged: {
        var value = valueAt(currentIndex)
        if (value === undefined)
            return
        selected = value
        selectionChanged()
    }

    contentItem: Text {
        leftPadding: 10
        rightPadding: fieldComboBox.indicator.width + 10
        text: fieldComboBox.currentIndex < 0 ? fieldComboBox.textWhenNoneSelected : fieldComboBox.displayText
        // Entries can come from stored settings: shown as written, never as markup.
        textFormat: Text.PlainText
        font: fieldComboBox.font
        color: Globals.colorFormFieldInputFont
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    // A picture rather than a Canvas: the same triangle without a 2D context per box.
    indicator: Image {
        id: triangle
        x: fieldComboBox.width - width - 12
        y: (fieldComboBox.height - height) / 2
        width: 12
        height: 8
        sourceSize: Qt.size(12, 8)
        source: "../../images/combobox_indicator.png"
    }

    background: Rectangle {
        id: comboBackground
        color: fieldComboBox.activeFocus ? Globals.colorFormFieldInputBackgroundFocused
                                         : Globals.colorFormFieldInputBackgroundUnfocused
        border.color: fieldComboBox.activeFocus ? Globals.colorFormFieldInputBorderFocused
                                                : Globals.colorFormFieldInputBorderUnfocused
        border.width: Globals.fieldInputBorderWidth
        radius: Globals.fieldInputRadius
    }

    delegate: ItemDelegate {
        width: fieldComboBox.width
        highlighted: fieldComboBox.highlightedIndex === index
        contentItem: Text {
            text: Array.isArray(fieldComboBox.values) ? modelData : model.model
            textFormat: Text.PlainText
            color: Globals.colorFormFieldInputFont
            font: fieldComboBox.font
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            color: highlighted ? Globals.colorNeutral3 : Globals.colorNeutral5
        }
    }

    popup: Popup {
        y: fieldComboBox.height
        width: fieldComboBox.width
        implicitHeight: contentItem.implicitHeight
        padding: 1
        onClosed: fieldComboBox.popupClosed()
        contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: fieldComboBox.popup.visible ? fieldComboBox.delegateModel : null
            currentIndex: fieldComboBox.highlightedIndex
            ScrollIndicator.vertical: ScrollIndicator {}
        }
        background: Rectangle {
            color: Globals.colorNeutral5
            border.color: Globals.colorNeutral2
            radius: Globals.fieldInputRadius
        }
    }
}
