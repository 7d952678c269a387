import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components"
import "qrc:/components/action"

TestCase {
    id: testCase
    name: "Components"
    width: 600
    height: 400
    visible: true // TestCase hides itself, and hidden items get no pointer events
    when: windowShown

    Component { id: buttonComponent; ButtonAction { width: 150; height: 50; text: "<b>Browse...</b>" } }
    Component { id: iconComponent; ButtonIconAction { x: 100; y: 100; icon: "qrc:/images/home.svg" } }
    Component { id: toolTipComponent; StyledToolTip { text: "Close" } }

    SignalSpy { id: clickSpy; signalName: "clicked" }

    function hover(button, on) {
        mouseMove(on ? button : testCase, on ? 10 : 590, on ? 10 : 390)
        tryCompare(button, "hovered", on)
    }

    function test_actionButton() {
        var button = createTemporaryObject(buttonComponent, testCase)
        // A label is shown as written.
        compare(button.contentItem.textFormat, Text.PlainText)
        // A pending request shows by switching both colours; it applies at once while hovered.
        hover(button, true)
        button.backgroundColor = button.backgroundColorHovered = Globals.colorTransparent
        compare(button.background.color, Globals.colorTransparent)
    }

    // The tint follows the hover, and the tool tip shows only when there is a text.
    function test_iconButton_data() {
        return [ { tag: "with tool tip", toolTipText: "Home" }, { tag: "without", toolTipText: "" } ]
    }

    function test_iconButton(data) {
        var button = createTemporaryObject(iconComponent, testCase, { toolTipText: data.toolTipText })
        var overlay = button.children[1]
        var toolTip = Array.prototype.filter.call(button.data, function (item) { return item.timeout !== undefined })[0]
        hover(button, true)
        compare(overlay.color, Globals.colorWhite)
        wait(1200)
        compare(toolTip.opened, data.toolTipText !== "")
        clickSpy.target = button
        clickSpy.clear()
        mouseClick(button)
        compare(clickSpy.count, 1)
        hover(button, false)
        compare(overlay.color, Globals.colorNeutral2)
    }

    function test_toolTipWaitsThenTimesOut() {
        var tip = createTemporaryObject(toolTipComponent, testCase)
        tip.visible = true
        wait(500)
        compare(tip.opened, false)
        tryCompare(tip, "opened", true, 1500)
        // Gone after three seconds even though nothing asked it to close.
        wait(2000)
        compare(tip.opened, true)
        tryCompare(tip, "visible", false, 2000)
    }
}
