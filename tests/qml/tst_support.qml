import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"

// The support form: the exact JSON body it sends and its pending, failure and
// success states, with a stand-in of Utilities in place of the service desk.
Item {
    id: root
    width: 1000
    height: 700

    TestCase {
        id: testCase
        name: "HomeSectionSupport"
        when: windowShown

        Component {
            id: utilitiesStandIn
            QtObject {
                property var bodies: []
                signal supportRequestFail(string errorString)
                signal supportRequestSuccess()
                function submitSupportRequest(body) { bodies = bodies.concat([body]) }
            }
        }

        Component {
            id: supportComponent
            HomeSectionSupport {
                width: 800
                height: 650
                minimumWidth: 700
            }
        }

        property var service: null

        function makeSupport() {
            service = createTemporaryObject(utilitiesStandIn, root)
            var support = createTemporaryObject(supportComponent, root, { utility: service })
            verify(support !== null)
            return support
        }

        function setProfile(first, last, email, company) {
            Globals.settingsUser_SetFirstName(first)
            Globals.settingsUser_SetLastName(last)
            Globals.settingsUser_SetEmail(email)
            Globals.settingsUser_SetCompany(company)
        }

        function init() {
            setProfile("Ada", "Lovelace", "ada@example.invalid", "Veltrisan Labs")
        }

        function cleanupTestCase() {
            setProfile("", "", "", "")
        }

        function test_bodyIsExact_data() {
            var tail = "Application version: 1.0.0\\nOperating system: linux\\n\"}}"
            return [
                {
                    tag: "typical",
                    first: "Ada", last: "Lovelace", email: "ada@example.invalid", company: "Veltrisan Labs",
                    message: "The vat leaks.",
                    expected: "{\"serviceDeskId\":\"3\",\"requestTypeId\":\"42\",\"requestFieldValues\":{"
                              + "\"summary\":\"Veltrisan Labs \u2013 Ada Lovelace\","
                              + "\"description\":\"The vat leaks.\\n\\nName: Ada Lovelace\\n"
                              + "Email: ada@example.invalid\\nCompany: Veltrisan Labs\\n\\n" + tail
                },
                {
                    tag: "empty company",
                    first: "Ada", last: "Lovelace", email: "ada@example.invalid", company: "",
                    message: "Hi",
                    expected: "{\"serviceDeskId\":\"3\",\"requestTypeId\":\"42\",\"requestFieldValues\":{"
                              + "\"summary\":\" \u2013 Ada Lovelace\","
                              + "\"description\":\"Hi\\n\\nName: Ada Lovelace\\n"
                              + "Email: ada@example.invalid\\nCompany: \\n\\n" + tail
                },
                {
                    tag: "empty profile",
                    first: "", last: "", email: "", company: "",
                    message: "x",
                    expected: "{\"serviceDeskId\":\"3\",\"requestTypeId\":\"42\",\"requestFieldValues\":{"
                              + "\"summary\":\" \u2013  \","
                              + "\"description\":\"x\\n\\nName:  \\nEmail: \\nCompany: \\n\\n" + tail
                },
                {
                    tag: "quotes, line breaks, markers and non-ASCII",
                    first: "Zoë", last: "O\"Neil", email: "z@example.invalid", company: "Ünïon %1",
                    message: "Line 1\nLine \"2\"\t%1 \\ end",
                    expected: "{\"serviceDeskId\":\"3\",\"requestTypeId\":\"42\",\"requestFieldValues\":{"
                              + "\"summary\":\"Ünïon %1 \u2013 Zoë O\\\"Neil\","
                              + "\"description\":\"Line 1\\nLine \\\"2\\\"\\t%1 \\\\ end\\n\\nName: Zoë O\\\"Neil\\n"
                              + "Email: z@example.invalid\\nCompany: Ünïon %1\\n\\n" + tail
                }
            ]
        }

        function test_bodyIsExact(data) {
            compare(Qt.application.version, "1.0.0")
            compare(Qt.platform.os, "linux")
            setProfile(data.first, data.last, data.email, data.company)
            var support = makeSupport()
            support.supportMessageField.text = data.message
            mouseClick(support.supportMessageSubmitButton)
            compare(service.bodies.length, 1)
            compare(service.bodies[0], data.expected)
            // The desk reads it as JSON with the message intact.
            compare(JSON.parse(service.bodies[0]).requestFieldValues.description.indexOf(data.message), 0)
        }

        function test_introductionNamesTheUsersEmail() {
            var support = makeSupport()
            Globals.settingsUser_SetEmail("new@example.invalid")
            support.visible = false
            support.visible = true
            compare(support.userEmail, "new@example.invalid")
        }

        function test_submitIsDisabledWhileMessageIsEmpty() {
            var support = makeSupport()
            verify(!support.supportMessageSubmitButton.enabled)
            mouseClick(support.supportMessageSubmitButton)
            compare(service.bodies.length, 0)
            support.supportMessageField.text = "help"
            verify(support.supportMessageSubmitButton.enabled)
        }

        // Regression: a second click while the first request was pending sent it twice.
        function test_doubleSubmitSendsOneRequest() {
            var support = makeSupport()
            support.supportMessageField.text = "Please call me."
            mouseClick(support.supportMessageSubmitButton)
            mouseClick(support.supportMessageSubmitButton)
            support.supportMessageSubmitButton.sendHTTPRequest()
            compare(service.bodies.length, 1)
            verify(!support.supportMessageSubmitButton.isEnabled)
            verify(support.supportMessageSubmitStatus.visible)
            compare(support.supportMessageSubmitStatus.text, "Submitting...")
        }

        // Regression: a failed request must leave the user's text for another try.
        function test_failureKeepsTheMessage() {
            var support = makeSupport()
            support.supportMessageField.text = "My long report."
            mouseClick(support.supportMessageSubmitButton)
            service.supportRequestFail("Host 127.0.0.9 not found")
            compare(support.supportMessageField.text, "My long report.")
            verify(support.supportMessageSubmitButton.isEnabled)
            compare(support.supportMessageSubmitStatus.text,
                    "Failed to submit. Please check your connection and try again.\n(Host 127.0.0.9 not found)")
            verify(support.supportMessageSubmitStatus.visible)

            mouseClick(support.supportMessageSubmitButton)
            compare(service.bodies.length, 2)
            compare(service.bodies[1], service.bodies[0])
        }

        function test_successClearsTheMessage() {
            var support = makeSupport()
            support.supportMessageField.text = "Thanks!"
            mouseClick(support.supportMessageSubmitButton)
            service.supportRequestSuccess()
            compare(support.supportMessageField.text, "")
            verify(support.supportMessageSubmitButton.isEnabled)
            verify(support.supportMessageSubmitStatus.visible)
            compare(support.supportMessageSubmitStatus.text, "Your support request has been submitted.")

            // Typing again hides the status.
            support.supportMessageField.text = "One more thing"
            verify(!support.supportMessageSubmitStatus.visible)
        }

        // Nothing typed while the request is pending can be wiped out by its success.
        function test_messageIsReadOnlyWhilePending() {
            var support = makeSupport()
            support.supportMessageField.text = "First"
            mouseClick(support.supportMessageSubmitButton)
            mouseClick(support.supportMessageField)
            keyClick(Qt.Key_X)
            compare(support.supportMessageField.text, "First")
            service.supportRequestFail("timeout")
            mouseClick(support.supportMessageField)
            keyClick(Qt.Key_End, Qt.ControlModifier)
            keyClick(Qt.Key_X)
            compare(support.supportMessageField.text, "Firstx")
        }
    }
}
