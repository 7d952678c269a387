pragma Singleton
import QtQuick 2.15
import Qt.labs.settings 1.1

// The distribution password and whether it meets the rule. It is stored here
// whenever it changes and loaded at start.
Item {
    id: distributionMediator

    // 8 to 12 characters with a digit, a lower-case letter, a capital and a symbol.
    readonly property var distributionPasswordCriteria: /^(?=.*\d)(?=.*[a-z])(?=.*[A-Z])(?=.*[^\w\s]).{8,12}$/
    property string distributionPassword: ""
    property bool distributionPasswordValid: false

    onDistributionPasswordChanged: {
        distributionPasswordValid = distributionPasswordCriteria.test(distributionPassword)
        passwordSettings.password = distributionPassword
    }

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
