import QtQuick 2.15
import QtQuick.Controls 2.15
import com.vtr.Gelvantrium 1.0
import "../.."
import "../action"
import "../field"

// Support section of Home: a message to the service desk, with the user's profile attached.
Item {
    id: homeSectionSupport

    property int minimumWidth: 0
    // The support-request service. Tests hand in a stand-in with the same members.
    property QtObject utility: Utilities {}
    property string userEmail: Globals.settingsUser_GetEmail()

    readonly property alias supportMessageField: supportMessageField
    readonly property alias supportMessageSubmitButton: supportMessageSubmitButton
    readonly property alias supportMessageSubmitStatus: supportMessageSubmitStatus

    // The profile may have been edited in Settings since this section was built.
    onVisibleChanged: {
        if (visible)
            userEmail = Globals.settingsUser_GetEmail()
    }

    Connections {
        target: homeSectionSupport.utility
        function onSupportRequestFail(errorString) { homeSectionSupport.supportRequestFail(errorString) }
        function onSupportRequestSuccess() { homeSectionSupport.supportRequestSuccess() }
    }

    // The service desk's JSON body; key order and separators matter to the desk.
    function supportRequestBody(message) {
        var fullName = Globals.settingsUser_GetFullName()
        var email = Globals.settingsUser_GetEmail()
        var company = Globals.settingsUser_GetCompany()
        var body = {
            "serviceDeskId": "3",
            "requestTypeId": "42",
            "requestFieldValues": {
                "summary": company + " \u2013 " + fullName,
                "description": message
                               + "\n\nName: " + fullName + "\n"
                               + "Email: " + email + "\n"
                               + "Company: " + company + "\n\n"
                               + "Application version: " + Qt.application.version + "\n"
                               + "Operating system: " + Qt.platform.os + "\n"
            }
        }
        return JSON.stringify(body)
    }

    function supportRequestFail(errorString) {
        supportMessageSubmitStatus.showMessage(
                    qsTr("Failed to submit. Please check your connection and try again.\n(") + errorString + ")")
        supportMessageSubmitButton.isEnabled = true
        supportMessageField.setEnabled(true)
    }

    function supportRequestSuccess() {
        supportMessageField.setEnabled(true)
        supportMessageField.text = ""
        supportMessageSubmitButton.isEnabled = true
        supportMessageSubmitStatus.showMessage(qsTr("Your support request has been submitted."))
    }

    HomeSectionScroll {
        id: flickable
        minimumWidth: homeSectionSupport.minimumWidth
        margin: Globals.gridSpacing
        innerHeight: content.height

        Item {
            id: content
            readonly property int maximumHeight: 500
            x: Globals.gridSpacing
            y: Math.max(Globals.gridSpacing, (flickable.height - height) / 2)
            width: flickable.contentWidth - 2 * Globals.gridSpacing
            height: Math.min(maximumHeight, supportMessageSubmitButton.y + supportMessageSubmitButton.height)

            Text {
                id: introduction
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.right: parent.right
                wrapMode: Text.Wrap
                textFormat: Text.PlainText
                font.pointSize: 14
                color: Globals.colorFormFieldInputFont
                text: qsTr("To contact Support with an inquiry, enter a message below. A reply will be sent to %1, which is the email address associated with your account.").arg(homeSectionSupport.userEmail)
            }

            FieldTextMultiline {
                id: supportMessageField
                anchors.top: introduction.bottom
                anchors.topMargin: Globals.gridSpacing
                anchors.left: parent.left
                anchors.right: parent.right
                height: 200
                onTextChanged: supportMessageSubmitStatus.hideMessage()
            }

            Text {
                id: supportMessageSubmitStatus
                anchors.top: supportMessageField.bottom
                anchors.topMargin: Globals.gridSpacing + 16
                anchors.right: supportMessageSubmitButton.left
                anchors.rightMargin: Globals.gridSpacing
                visible: false
                textFormat: Text.PlainText
                font.pointSize: 12
                color: Globals.colorSecondary1

                function showMessage(message) {
                    text = message
                    visible = true
                }

                function hideMessage() {
                    visible = false
                }
            }

            ButtonAction {
                id: supportMessageSubmitButton

                // False while a request is pending.
                property bool isEnabled: true

                anchors.top: supportMessageField.bottom
                anchors.topMargin: Globals.gridSpacing
                anchors.right: parent.right
                width: 150
                height: Globals.actionButtonHeight
                text: qsTr("Submit")
                enabled: supportMessageField.text.length > 0
                onClicked: sendHTTPRequest()

                // The message field is read-only while pending, so that nothing typed
                // meanwhile is cleared by the success.
                function sendHTTPRequest() {
                    if (!isEnabled || supportMessageField.text.length === 0)
                        return false
                    isEnabled = false
                    supportMessageField.setEnabled(false)
                    supportMessageSubmitStatus.showMessage(qsTr("Submitting..."))
                    homeSectionSupport.utility.submitSupportRequest(
                                homeSectionSupport.supportRequestBody(supportMessageField.text))
                    return true
                }
            }
        }
    }
}
