pragma Singleton
import QtQuick 2.15
import Qt.labs.settings 1.1

// The distribution password and whether it meets the rule. The Settings section
// edits and stores the same key; the stored value is loaded at start.
Item {
    id: distributionMediator

    // 8 to 12 characters with a digit, a lower-case letter, a capital and a symbol.
    readonly property var distributionPasswordCriteria: /^(?=.*\d)(?=.*[a-z])(?=.*[A-Z])(?=.*[^\w\s]).{8,12}$/
    property string distributionPassword: ""
    property bool distributionPasswordValid: false

    onDistributionPasswordChanged: distributionPasswordValid = distributionPasswordCriteria.test(distributionPassword)

    Settings {
        id: passwordSettings
        category: "distributionPassword"
        property string password: ""
    }

    Component.onCompleted: {
        distributionPassword = passwordSettings.password
        distributionPasswordValid = distributionPasswordCriteria.test(distributionPassword)
    }
}
