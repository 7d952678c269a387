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

    Component { id: buttonComponent; ButtonAction { width: 150; height: 50; text: "Browse..." } }
    Component { id: iconComponent; ButtonIconAction { x: 100; y: 100; icon: "qrc:/images/home.svg"; toolTipText: "Home" } }
    Component { id: toolTipComponent; StyledToolTip { text: "Close" } }

    SignalSpy { id: clickSpy; signalName: "clicked" }

    function background(button) { return button.background }

    function toolTipOf(button) {
        for (var i = 0; i < button.data.length; ++i) {
            if (button.data[i].timeout !== undefined)
                return button.data[i]
        }
        return null
    }

    function test_actionButtonColoursFollowHover() {
        var button = createTemporaryObject(buttonComponent, testCase)
        compare(background(button).color, Globals.colorPrimary1)
        mouseMove(button, 10, 10)
        tryCompare(button, "hovered", true)
        compare(background(button).color, Globals.colorPrimary2)
        // A pending request shows by switching both colours; it applies at once while hovered.
        button.backgroundColor = Globals.colorTransparent
        button.backgroundColorHovered = Globals.colorTransparent
        compare(background(button).color, Globals.colorTransparent)
        mouseMove(testCase, 590, 390)
        tryCompare(button, "hovered", false)
        compare(background(button).color, Globals.colorTransparent)
        button.backgroundColor = Globals.colorPrimary1
        compare(background(button).color, Globals.colorPrimary1)
    }

    function test_actionButtonFocusShowsHoverColour() {
        var button = createTemporaryObject(buttonComponent, testCase)
        button.forceActiveFocus()
        compare(background(button).color, Globals.colorPrimary2)
    }

    function test_actionButtonClicks() {
        var button = createTemporaryObject(buttonComponent, testCase)
        clickSpy.target = button
        clickSpy.clear()
        mouseClick(button)
        compare(clickSpy.count, 1)
        compare(button.contentItem.textFormat, Text.PlainText)
    }

    function test_iconButtonTintAndToolTip() {
        var button = createTemporaryObject(iconComponent, testCase)
        compare(button.width, 35)
        compare(button.height, 35)
        var overlay = button.children[1]
        compare(overlay.color, Globals.colorNeutral2)
        mouseMove(button, 10, 10)
        tryCompare(button, "hovered", true)
        compare(overlay.color, Globals.colorWhite)
        tryCompare(toolTipOf(button), "opened", true, 2000)
        compare(toolTipOf(button).text, "Home")
        clickSpy.target = button
        clickSpy.clear()
        mouseClick(button)
        compare(clickSpy.count, 1)
        mouseMove(testCase, 590, 390)
        tryCompare(button, "hovered", false)
        compare(overlay.color, Globals.colorNeutral2)
    }

    function test_toolTipWaitsThenTimesOut() {
        var tip = createTemporaryObject(toolTipComponent, testCase)
        compare(tip.delay, 1000)
        compare(tip.timeout, 3000)
        tip.visible = true
        wait(500)
        compare(tip.opened, false)
        tryCompare(tip, "opened", true, 1500)
        // Gone after three seconds even though nothing asked it to close.
        wait(2000)
        compare(tip.opened, true)
        tryCompare(tip, "visible", false, 2000)
        compare(tip.background.color, Globals.colorNeutral1)
        compare(tip.background.radius, 5)
        compare(tip.contentItem.font.pixelSize, 14)
        compare(tip.leftPadding, 10)
        compare(tip.topPadding, 10)
    }

    function test_iconButtonWithoutTextShowsNoToolTip() {
        var button = createTemporaryObject(iconComponent, testCase, { toolTipText: "" })
        mouseMove(button, 10, 10)
        tryCompare(button, "hovered", true)
        wait(1200)
        compare(toolTipOf(button).opened, false)
    }
}
