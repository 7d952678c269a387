import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components"
import "qrc:/components/action"

TestCase {
    id: testCase
    name: "PopupDialog"
    width: 1000; height: 720
    when: windowShown

    readonly property string longMessage: Array.from({ length: 120 }, function (_, i) {
        return "Line " + i + " of a message that is far too long to fit.\n" }).join("")

    Component { id: dialogComponent; PopupDialog {} }
    Component { id: buttonComponent; ButtonAction {} }

    SignalSpy { id: confirmSpy; signalName: "clickedConfirm" }
    SignalSpy { id: cancelSpy; signalName: "clickedCancel" }

    function makeDialog(properties) {
        var dialog = createTemporaryObject(dialogComponent, testCase, properties || {})
        confirmSpy.clear(); confirmSpy.target = dialog
        cancelSpy.clear(); cancelSpy.target = dialog
        return dialog
    }

    // Children of the content, in the order PopupDialog declares them; built at the first opening.
    function content(dialog) { return dialog.contentItem.children[0].item }
    function titleItem(dialog) { return content(dialog).children[0] }
    function messageItem(dialog) { return content(dialog).children[1].contentItem.children[0].children[0] }
    function confirmButton(dialog) { return content(dialog).children[2] }
    function cancelButton(dialog) { return content(dialog).children[3] }

    function openAndWait(dialog) { dialog.open(); tryCompare(dialog, "opened", true) }

    function expectedHeight(dialog, messageHeight) {
        return dialog.topPadding + dialog.bottomPadding + titleItem(dialog).height + messageHeight
                + confirmButton(dialog).height + 5 * 25
    }

    // The height each kind of content gives, computed on the first opening only; the dialog
    // always stays inside the window.
    function test_height_data() {
        var markup = 'import QtQuick 2.15; Component { Rectangle { implicitHeight: 210; color: "red" } }'
        return [
            { tag: "short message", properties: { message: "The file could not be read." },
              expected: function (dialog) { return expectedHeight(dialog, messageItem(dialog).contentHeight) } },
            { tag: "given height is kept", properties: { message: longMessage, popupHeight: 300 },
              expected: function (dialog) { return 300 } },
            // Regression: taking 200 px off a very long message left the buttons below the window.
            { tag: "very long message", properties: { message: longMessage },
              expected: function (dialog) { return testCase.height - 200 } },
            { tag: "message component replaces the text", component: markup,
              expected: function (dialog) { return expectedHeight(dialog, 210) } }
        ]
    }

    function test_height(data) {
        var properties = data.properties || {}
        properties.title = "Title"
        if (data.component)
            properties.messageComponent = Qt.createQmlObject(data.component, testCase)
        var dialog = makeDialog(properties)
        openAndWait(dialog)
        var first = data.expected(dialog)
        compare(dialog.height, first)
        verify(dialog.y >= 0 && dialog.y + dialog.height <= testCase.height)
        compare(messageItem(dialog).visible, !data.component)
        dialog.close()
        tryCompare(dialog, "visible", false)
        dialog.message = "Much longer.\nIt has\nseveral\nlines\nnow."
        openAndWait(dialog)
        compare(dialog.height, first)
    }

    // The content costs nothing until the dialog first opens.
    function test_contentBuiltAtFirstOpening() {
        var dialog = makeDialog({ title: "Title", message: "Message" })
        compare(content(dialog), null)
        openAndWait(dialog)
        compare([titleItem(dialog).text, messageItem(dialog).text], ["Title", "Message"])
    }

    // An item given as message leaves the place it was made in at once, not at the opening.
    function test_messageItemTakenInAtOnce() {
        var item = Qt.createQmlObject('import QtQuick 2.15; Rectangle { implicitHeight: 50 }', testCase)
        var dialog = makeDialog({ messageComponent: item })
        compare(item.parent, content(dialog).children[1].contentItem.children[0])
        openAndWait(dialog)
        compare(messageItem(dialog).visible, false)
    }

    function test_buttonClosesBeforeSignal_data() {
        return [ { tag: "confirm", confirm: true }, { tag: "cancel", confirm: false } ]
    }

    function test_buttonClosesBeforeSignal(data) {
        var dialog = makeDialog({ title: "Delete", message: "Sure?" })
        var openWhenSignalled = null
        var handler = function() { openWhenSignalled = dialog.opened }
        ;(data.confirm ? dialog.clickedConfirm : dialog.clickedCancel).connect(handler)
        openAndWait(dialog)
        mouseClick(data.confirm ? confirmButton(dialog) : cancelButton(dialog))
        compare(openWhenSignalled, false)
        compare([confirmSpy.count, cancelSpy.count], data.confirm ? [1, 0] : [0, 1])
        tryCompare(dialog, "visible", false)
    }

    // Regression: markup in a file or printer name was rendered as rich text.
    function test_textIsShownAsWritten_data() {
        return [
            { tag: "image tag", text: "<img src=\"file:///etc/passwd\">x.zqmat" },
            { tag: "entity", text: "a &amp; b" }
        ]
    }

    function test_textIsShownAsWritten(data) {
        var dialog = makeDialog({ title: data.text, message: data.text })
        openAndWait(dialog)
        compare([messageItem(dialog).length, titleItem(dialog).length], [data.text.length, data.text.length])
        compare(createTemporaryObject(buttonComponent, testCase, { text: data.text }).contentItem.textFormat, Text.PlainText)
    }
}
