import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components"

TestCase {
    id: testCase
    name: "PopupDialog"
    width: 1000
    height: 720
    when: windowShown

    readonly property int defaultHeight: 400
    readonly property string longMessage: {
        var text = ""
        for (var i = 0; i < 120; ++i)
            text += "Line " + i + " of a message that is far too long to fit.\n"
        return text
    }

    Component {
        id: dialogComponent
        PopupDialog {}
    }

    SignalSpy { id: confirmSpy; signalName: "clickedConfirm" }
    SignalSpy { id: cancelSpy; signalName: "clickedCancel" }
    SignalSpy { id: openedSpy; signalName: "opened" }

    function makeDialog(properties) {
        var dialog = createTemporaryObject(dialogComponent, testCase, properties || {})
        verify(dialog !== null)
        confirmSpy.clear(); confirmSpy.target = dialog
        cancelSpy.clear(); cancelSpy.target = dialog
        openedSpy.clear(); openedSpy.target = dialog
        return dialog
    }

    // Children of the content item, in the order PopupDialog declares them.
    function titleItem(dialog) { return dialog.contentItem.children[0] }
    function messageItem(dialog) { return dialog.contentItem.children[1].contentItem.children[0].children[0] }
    function confirmButton(dialog) { return dialog.contentItem.children[2] }
    function cancelButton(dialog) { return dialog.contentItem.children[3] }

    function openAndWait(dialog) {
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(openedSpy.count, 1)
    }

    function expectedHeight(dialog, messageHeight) {
        return dialog.topPadding + dialog.bottomPadding + titleItem(dialog).height + messageHeight
                + confirmButton(dialog).height + 5 * 25
    }

    function test_defaults() {
        var dialog = makeDialog()
        compare(dialog.popupWidth, 400)
        compare(dialog.popupHeight, defaultHeight)
        compare(dialog.modal, true)
        compare(dialog.buttonTextConfirm, "OK")
        compare(dialog.buttonTextCancel, "Cancel")
        compare(dialog.buttonVisibleCancel, true)
        compare(dialog.closeOnClickOutside, false)
    }

    function test_heightFollowsShortContent() {
        var dialog = makeDialog({ title: "Open failed.", message: "The file could not be read." })
        openAndWait(dialog)
        compare(dialog.height, expectedHeight(dialog, messageItem(dialog).contentHeight))
        verify(dialog.height < defaultHeight)
    }

    function test_heightIsComputedOnce() {
        var dialog = makeDialog({ title: "Title", message: "Short." })
        openAndWait(dialog)
        var first = dialog.height
        dialog.close()
        tryCompare(dialog, "visible", false)
        dialog.message = "Much longer.\nIt has\nseveral\nlines\nnow."
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(dialog.height, first)
    }

    function test_givenHeightIsKept() {
        var dialog = makeDialog({ title: "Title", message: longMessage, popupHeight: 300 })
        openAndWait(dialog)
        compare(dialog.height, 300)
    }

    function test_setContentHeightSizesMessageArea() {
        var dialog = makeDialog({ title: "Please fix these errors.", message: "" })
        dialog.setContentHeight(140)
        openAndWait(dialog)
        compare(dialog.height, expectedHeight(dialog, 140))
    }

    function test_tallContentLosesTwoHundred() {
        // Just above the window height less 200: the content height less 200 px.
        var dialog = makeDialog({ title: "Title" })
        dialog.setContentHeight(testCase.height - 200 - expectedHeight(dialog, 0) + 50)
        openAndWait(dialog)
        compare(dialog.height, testCase.height - 200 + 50 - 200)
    }

    // Regression: taking 200 px off a very long message left the buttons below the window.
    function test_veryLongMessageStaysInsideWindow() {
        var dialog = makeDialog({ title: "Release notes", message: longMessage })
        openAndWait(dialog)
        compare(dialog.height, testCase.height - 200)
        verify(dialog.y >= 0 && dialog.y + dialog.height <= testCase.height)
    }

    function test_escapeClosesUnlessClickOutsideCloses() {
        var dialog = makeDialog({ title: "Title", message: "Message" })
        openAndWait(dialog)
        keyClick(Qt.Key_Escape)
        tryCompare(dialog, "visible", false)

        var other = makeDialog({ title: "Title", message: "Message", closeOnClickOutside: true })
        openAndWait(other)
        keyClick(Qt.Key_Escape)
        wait(50)
        compare(other.visible, true)
        other.close()
    }

    function test_clickOutside_data() {
        return [
            { tag: "closes with closeOnClickOutside", closeOnClickOutside: true, staysOpen: false },
            { tag: "ignored without closeOnClickOutside", closeOnClickOutside: false, staysOpen: true }
        ]
    }

    function test_clickOutside(data) {
        var dialog = makeDialog({ title: "T", message: "M", closeOnClickOutside: data.closeOnClickOutside })
        openAndWait(dialog)
        mouseClick(testCase, 5, 5)
        wait(50)
        compare(dialog.visible, data.staysOpen)
        dialog.close()
    }

    function test_buttonClosesBeforeSignal_data() {
        return [
            { tag: "confirm", button: "confirm" },
            { tag: "cancel", button: "cancel" }
        ]
    }

    function test_buttonClosesBeforeSignal(data) {
        var dialog = makeDialog({ title: "Delete", message: "Sure?" })
        var openWhenSignalled = null
        var handler = function() { openWhenSignalled = dialog.opened }
        if (data.button === "confirm")
            dialog.clickedConfirm.connect(handler)
        else
            dialog.clickedCancel.connect(handler)
        openAndWait(dialog)
        mouseClick(data.button === "confirm" ? confirmButton(dialog) : cancelButton(dialog))
        compare(openWhenSignalled, false)
        compare(confirmSpy.count, data.button === "confirm" ? 1 : 0)
        compare(cancelSpy.count, data.button === "cancel" ? 1 : 0)
        tryCompare(dialog, "visible", false)
    }

    function test_cancelButtonHidden() {
        var dialog = makeDialog({ title: "T", message: "M", buttonVisibleCancel: false })
        openAndWait(dialog)
        compare(cancelButton(dialog).visible, false)
        compare(confirmButton(dialog).visible, true)
    }

    // Regression: markup in a file or printer name was rendered as rich text.
    function test_textIsShownAsWritten_data() {
        return [
            { tag: "bold tags", text: "<b>material</b>" },
            { tag: "image tag", text: "<img src=\"file:///etc/passwd\">x.zqmat" },
            { tag: "entity", text: "a &amp; b" }
        ]
    }

    function test_textIsShownAsWritten(data) {
        var dialog = makeDialog({ title: data.text, message: data.text })
        openAndWait(dialog)
        compare(messageItem(dialog).length, data.text.length)
        compare(titleItem(dialog).length, data.text.length)
    }

    function test_messageComponentReplacesText() {
        var component = Qt.createQmlObject(
                    'import QtQuick 2.15; Component { Rectangle { implicitHeight: 210; color: "red" } }',
                    testCase)
        var dialog = makeDialog({ title: "List", message: "hidden", messageComponent: component })
        openAndWait(dialog)
        compare(messageItem(dialog).visible, false)
        compare(dialog.height, expectedHeight(dialog, 210))
    }
}
