import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15
import "../.."

// The editor of one document tab: Material, Quality and Cycle stacked, scrolling
// vertically; sideways only in a tab narrower than the form's minimum width.
Item {
    id: formSectionForm

    property QtObject document: null
    property QtObject machine: null
    property QtObject qualityLevel: null
    property QtObject cycleSetting: null
    property string documentKey: ""

    readonly property alias materialSection: sectionMaterial
    readonly property alias qualitySection: sectionQuality
    readonly property alias cycleSection: sectionCycle
    readonly property alias scrollArea: flickable
    // Below this the Material row's narrow fields would cut their labels; wider forms
    // reflow their fields into more rows instead of scrolling sideways.
    readonly property int minimumFormWidth: 640

    function setDocumentProperties() {
        document = MaterialDocumentMediator.document
        machine = MaterialDocumentMediator.machine
        qualityLevel = MaterialDocumentMediator.qualityLevel
        cycleSetting = MaterialDocumentMediator.cycleSetting
        documentKey = MaterialDocumentMediator.documentKey
    }

    // The field of any section by its label.
    function fieldByLabel(label) {
        return sectionMaterial.fieldByLabel(label) || sectionQuality.fieldByLabel(label)
                || sectionCycle.fieldByLabel(label)
    }

    // The validation messages of the refused texts still in the fields, which stay there.
    function holdRefusedFields() {
        return sectionMaterial.holdRefusedFields().concat(sectionQuality.holdRefusedFields(),
                                                          sectionCycle.holdRefusedFields())
    }

    // Hidden (another tab or screen shown), the form gives up the keyboard: keys typed
    // there must not edit this document. Its field ends editing as if left.
    onVisibleChanged: {
        if (visible)
            return
        var focused = Window.activeFocusItem
        for (var item = focused; item; item = item.parent) {
            if (item === formSectionForm) {
                focused.focus = false
                return
            }
        }
    }

    Component.onCompleted: {
        setDocumentProperties()
        sectionMaterial.document = document
        sectionQuality.inheritedFrom = [machine, document]
        sectionQuality.qualityLevel = qualityLevel
        sectionCycle.qualityLevel = qualityLevel
        sectionCycle.cycleSetting = cycleSetting
        // A new document takes what its comboboxes preselect (the thickness gives the level its name).
        if (MaterialDocumentMediator.formFilled(documentKey))
            sectionQuality.applyPreselections()
    }

    Flickable {
        id: flickable
        anchors.fill: parent
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        contentWidth: Math.max(formSectionForm.minimumFormWidth, width)
        contentHeight: sections.implicitHeight + 2 * Globals.gridSpacing

        ScrollBar.horizontal: ScrollBar {
            policy: flickable.contentWidth > flickable.width ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }
        ScrollBar.vertical: ScrollBar {
            policy: flickable.contentHeight > flickable.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        Column {
            id: sections
            x: Globals.gridSpacing
            y: Globals.gridSpacing
            width: flickable.contentWidth - 2 * Globals.gridSpacing
            spacing: Globals.gridSpacing

            FormSectionMaterial {
                id: sectionMaterial
                width: parent.width
                height: implicitHeight
            }
            FormSectionQuality {
                id: sectionQuality
                width: parent.width
                height: implicitHeight
            }
            FormSectionCycle {
                id: sectionCycle
                width: parent.width
                height: implicitHeight
            }
        }
    }
}
