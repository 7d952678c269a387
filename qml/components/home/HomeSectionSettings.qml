import QtQuick 2.15
import QtQuick.Controls 2.15
import QtGraphicalEffects 1.15
import "../.."
import "../field"

// Settings section of Home: the user profile that goes into support requests,
// the group key, the update-prompt preference, the distribution password and the
// printer connection with the printer's materials.
Item {
    id: homeSectionSettings

    property int minimumWidth: 0
    readonly property int maximumPasswordLength: 12

    readonly property alias profileSettingsFirstNameField: profileSettingsFirstNameField
    readonly property alias profileSettingsLastNameField: profileSettingsLastNameField
    readonly property alias profileSettingsEmailField: profileSettingsEmailField
    readonly property alias profileSettingsCompanyField: profileSettingsCompanyField
    readonly property alias profileSettingsGroupKeyField: profileSettingsGroupKeyField
    readonly property alias automaticUpdatePromptEnabled: automaticUpdatePromptEnabled
    readonly property alias distributionPasswordField: distributionPasswordField
    readonly property alias distributionPasswordValidMark: distributionPasswordValidMark
    readonly property alias distributionPasswordInvalidMark: distributionPasswordInvalidMark
    readonly property alias printer: homeSectionSettingsPrinter

    function getUserSettingsValues() {
        profileSettingsFirstNameField.getUserSettingValue()
        profileSettingsLastNameField.getUserSettingValue()
        profileSettingsEmailField.getUserSettingValue()
        profileSettingsCompanyField.getUserSettingValue()
        profileSettingsGroupKeyField.getUserSettingValue()
        automaticUpdatePromptEnabled.isChecked = Globals.settingsUser_GetUpdateAutomaticallyPrompt()
    }

    function distributionPasswordEdited(text) {
        if (text.length > maximumPasswordLength) {
            // Handled again as the next change.
            distributionPasswordField.text = text.substring(0, maximumPasswordLength)
            return
        }
        DistributionMediator.distributionPassword = text
    }

    HomeSectionScroll {
        id: flickable
        minimumWidth: homeSectionSettings.minimumWidth
        margin: Globals.gridSpacing
        innerHeight: content.height

        Column {
            id: content
            x: flickable.margin
            y: flickable.margin
            width: flickable.contentWidth - 2 * flickable.margin
            spacing: Globals.gridSpacing

            readonly property real labelWidth: Globals.fieldWidth(width, 0.15, 4)
            readonly property real inputWidth: Globals.fieldWidth(width, 0.35, 4)

            Text {
                text: qsTr("User Profile")
                font.pixelSize: 31
                font.weight: Font.ExtraLight
                font.family: Globals.fontAssistantRegularName
                color: Globals.colorPrimary1
            }

            Row {
                spacing: Globals.gridSpacing
                HomeSectionSettingsLabel { width: content.labelWidth; text: qsTr("First name") }
                HomeSectionSettingsProfileField {
                    id: profileSettingsFirstNameField
                    width: content.inputWidth
                    settingName: "FirstName"
                }
                HomeSectionSettingsLabel { width: content.labelWidth; text: qsTr("Last name") }
                HomeSectionSettingsProfileField {
                    id: profileSettingsLastNameField
                    width: content.inputWidth
                    settingName: "LastName"
                }
            }

            Row {
                spacing: Globals.gridSpacing
                HomeSectionSettingsLabel { width: content.labelWidth; text: qsTr("Email") }
                HomeSectionSettingsProfileField {
                    id: profileSettingsEmailField
                    width: content.inputWidth
                    settingName: "Email"
                }
                HomeSectionSettingsLabel { width: content.labelWidth; text: qsTr("Company") }
                HomeSectionSettingsProfileField {
                    id: profileSettingsCompanyField
                    width: content.inputWidth
                    settingName: "Company"
                }
            }

            Row {
                spacing: Globals.gridSpacing
                HomeSectionSettingsLabel { width: content.labelWidth; text: qsTr("Group Key") }
                HomeSectionSettingsProfileField {
                    id: profileSettingsGroupKeyField
                    width: content.inputWidth
                    settingName: "GroupKey"
                }
            }

            Rectangle {
                width: content.width
                height: 1
                color: Globals.colorNeutral3
            }

            FieldCheckbox {
                id: automaticUpdatePromptEnabled
                text: qsTr("Automatically prompt for software updates")
                isChecked: Globals.settingsUser_GetUpdateAutomaticallyPrompt()
                onIsCheckedChanged: Globals.settingsUser_SetUpdateAutomaticallyPrompt(isChecked)
            }

            Item {
                id: materialDistributionItem
                width: content.width
                height: 200

                Text {
                    id: distributionTitle
                    anchors.top: parent.top
                    text: qsTr("Distribution Settings")
                    font.pixelSize: 31
                    font.weight: Font.ExtraLight
                    font.family: Globals.fontAssistantRegularName
                    color: Globals.colorPrimary1
                }

                HomeSectionSettingsLabel {
                    id: distributionPasswordLabel
                    anchors.top: distributionTitle.bottom
                    anchors.topMargin: Globals.gridSpacing
                    width: 200
                    text: qsTr("Distribution Password")
                }

                FieldText {
                    id: distributionPasswordField
                    anchors.top: distributionPasswordLabel.top
                    anchors.left: distributionPasswordLabel.right
                    width: content.inputWidth
                    leftPadding: 45
                    Component.onCompleted: text = DistributionMediator.distributionPassword
                    onTextChanged: homeSectionSettings.distributionPasswordEdited(text)

                    Item {
                        id: validityMark
                        anchors.left: parent.left
                        anchors.top: parent.top
                        anchors.bottom: parent.bottom
                        width: 45

                        Image {
                            id: validMarkImage
                            anchors.centerIn: parent
                            width: 30
                            height: 30
                            sourceSize: Qt.size(30, 30)
                            source: "../../images/checkmark.svg"
                            visible: false
                        }
                        ColorOverlay {
                            id: distributionPasswordValidMark
                            anchors.fill: validMarkImage
                            source: validMarkImage
                            color: "#62aa46"
                            visible: DistributionMediator.distributionPasswordValid
                        }

                        Image {
                            id: invalidMarkImage
                            anchors.centerIn: parent
                            width: 20
                            height: 20
                            sourceSize: Qt.size(20, 20)
                            source: "../../images/action_remove.svg"
                            visible: false
                        }
                        ColorOverlay {
                            id: distributionPasswordInvalidMark
                            anchors.fill: invalidMarkImage
                            source: invalidMarkImage
                            color: "#ff0000"
                            visible: !DistributionMediator.distributionPasswordValid
                        }
                    }
                }

                Text {
                    anchors.top: distributionPasswordField.bottom
                    anchors.topMargin: Globals.fieldLabelInlineTopMargin
                    anchors.left: distributionPasswordField.left
                    text: qsTr("8-12 characters long with at least 1 number, 1 capital letter, and 1 symbol")
                    font.pixelSize: 12
                    color: Globals.colorWhite
                }
            }

            HomeSectionSettingsPrinter {
                id: homeSectionSettingsPrinter
                width: content.width
                height: implicitHeight
                labelWidth: content.labelWidth
                inputWidth: content.inputWidth
            }
        }
    }
}
