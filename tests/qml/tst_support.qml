import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"

// The support form: the exact JSON body it sends and its pending, failure and
// success states, with a stand-in of Utilities in place of the service desk.
TestCase {
    id: testCase
    name: "HomeSectionSupport"
    width: 1000
    height: 700
    visible: true // hidden items get no pointer events
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

    Component { id: supportComponent; HomeSectionSupport { width: 800; height: 650; minimumWidth: 700 } }

    property var service: null

    function makeSupport() {
        service = createTemporaryObject(utilitiesStandIn, testCase)
        return createTemporaryObject(supportComponent, testCase, { utility: service })
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

    // The exact body: key order, separators, escapes, and the platform named as "linux".
    function test_bodyIsExact_data() {
        var head = "{\"serviceDeskId\":\"3\",\"requestTypeId\":\"42\",\"requestFieldValues\":{\"summary\":\""
        var tail = "\\n\\nApplication version: 1.0.0\\nOperating system: linux\\n\"}}"
        return [
            {
                tag: "typical",
                first: "Ada", last: "Lovelace", email: "ada@example.invalid", company: "Veltrisan Labs",
                message: "The vat leaks.",
                expected: head + "Veltrisan Labs \u2013 Ada Lovelace\",\"description\":\"The vat leaks.\\n\\n"
                          + "Name: Ada Lovelace\\nEmail: ada@example.invalid\\nCompany: Veltrisan Labs" + tail
            },
            {
                tag: "quotes, line breaks, markers and non-ASCII",
                first: "Zoë", last: "O\"Neil", email: "z@example.invalid", company: "Ünïon %1",
                message: "Line 1\nLine \"2\"\t%1 \\ end",
                expected: head + "Ünïon %1 \u2013 Zoë O\\\"Neil\",\"description\":\"Line 1\\nLine \\\"2\\\"\\t%1 \\\\ end"
                          + "\\n\\nName: Zoë O\\\"Neil\\nEmail: z@example.invalid\\nCompany: Ünïon %1" + tail
            }
        ]
    }

    function test_bodyIsExact(data) {
        setProfile(data.first, data.last, data.email, data.company)
        var support = makeSupport()
        support.supportMessageField.text = data.message
        mouseClick(support.supportMessageSubmitButton)
        compare(service.bodies, [data.expected])
        // The desk reads it as JSON with the message intact.
        compare(JSON.parse(service.bodies[0]).requestFieldValues.description.indexOf(data.message), 0)
    }

    // Regression: a second click while the first request was pending sent it twice.
    function test_doubleSubmitSendsOneRequest() {
        var support = makeSupport()
        mouseClick(support.supportMessageSubmitButton)
        compare(service.bodies.length, 0) // nothing to send yet
        support.supportMessageField.text = "Please call me."
        mouseClick(support.supportMessageSubmitButton)
        mouseClick(support.supportMessageSubmitButton)
        support.supportMessageSubmitButton.sendHTTPRequest()
        compare(service.bodies.length, 1)
        compare(support.supportMessageSubmitStatus.text, "Submitting...")
    }

    // Regression: a failed request must leave the user's text for another try. The text
    // is read-only while pending, so that a success cannot wipe out anything typed meanwhile.
    function test_answer_data() {
        return [
            { tag: "failure keeps the text", success: false, text: "Firstx",
              status: "Failed to submit. Please check your connection and try again.\n(Host 127.0.0.9 not found)" },
            { tag: "success clears it", success: true, text: "x", status: "Your support request has been submitted." }
        ]
    }

    function test_answer(data) {
        var support = makeSupport()
        support.supportMessageField.text = "First"
        mouseClick(support.supportMessageSubmitButton)
        mouseClick(support.supportMessageField)
        keyClick(Qt.Key_X)
        compare(support.supportMessageField.text, "First")
        if (data.success)
            service.supportRequestSuccess()
        else
            service.supportRequestFail("Host 127.0.0.9 not found")
        compare(support.supportMessageSubmitStatus.text, data.status)
        mouseClick(support.supportMessageField)
        keyClick(Qt.Key_End, Qt.ControlModifier)
        keyClick(Qt.Key_X)
        compare(support.supportMessageField.text, data.text)
        // Typing again hides the status; the same request can be sent again.
        verify(!support.supportMessageSubmitStatus.visible)
        mouseClick(support.supportMessageSubmitButton)
        compare(service.bodies.length, 2)
    }
}
