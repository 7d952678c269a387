import QtQuick 2.15

// Cycle fields of the quality level's cycle setting plus two motion limits of the
// quality level; the fill runs when the cycle setting (assigned second) arrives.
FormSection {
    property QtObject qualityLevel: null
    property QtObject cycleSetting: null

    sectionKey: "cycle"
    title: qsTr("Cycle")

    onCycleSettingChanged: {
        if (cycleSetting === null || qualityLevel === null)
            return
        targets = { "qualityLevel": qualityLevel, "cycleSetting": cycleSetting }
        fill()
    }
}
