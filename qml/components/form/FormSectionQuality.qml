import QtQuick 2.15

FormSection {
    property QtObject qualityLevel: null

    sectionKey: "quality"
    title: qsTr("Quality")

    onQualityLevelChanged: {
        if (qualityLevel === null)
            return
        targets = { "qualityLevel": qualityLevel }
        fill()
    }
}
