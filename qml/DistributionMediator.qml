pragma Singleton
import QtQuick 2.15
import Qt.labs.settings 1.1

// The distribution password and whether it meets the rule, and the text naming the
// connected printer in the install dialogs. The password is stored here whenever it
// changes and loaded at start.
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

    // The printer's name followed by its address in parentheses.
    function getPrinterNameAndIP() {
        return NetworkConnectionMediator.getPrinterName(-1) + " (" + NetworkConnectionMediator.getPrinterIP(-1) + ")"
    }

    // The Settings section keeps the password to this length; one stored longer
    // (written by hand) is cut at start as that section would cut it.
    readonly property int maximumPasswordLength: 12

    Component.onCompleted: {
        distributionPassword = passwordSettings.password.substring(0, maximumPasswordLength)
        distributionPasswordValid = distributionPasswordCriteria.test(distributionPassword)
    }
}
