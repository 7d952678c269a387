import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "ApplicationWindowMediator"

    readonly property var screen1600: ({ width: 1600, height: 1000 })
    readonly property var screen800: ({ width: 800, height: 500 })

    function freshMediator(screen) {
        var component = Qt.createComponent("qrc:/ApplicationWindowMediator.qml")
        verify(component.status === Component.Ready, component.errorString())
        var mediator = createTemporaryObject(component, testCase)
        if (screen !== undefined)
            mediator.windowScreen = screen
        return mediator
    }

    function init() {
        testSupport.removeStoredSetting("ApplicationWindow/width")
        testSupport.removeStoredSetting("ApplicationWindow/height")
    }

    // The first start is 1280x720.
    function test_resize_data() {
        return [
            { tag: "within screen", w: 1100, h: 800, screen: screen1600, ew: 1100, eh: 800 },
            { tag: "width undefined keeps width", w: undefined, h: 600, screen: screen1600, ew: 1280, eh: 600 },
            { tag: "height undefined keeps height", w: 1500, h: undefined, screen: screen1600, ew: 1500, eh: 720 },
            { tag: "wider than screen", w: 1601, h: 700, screen: screen1600, ew: 1600, eh: 700 },
            { tag: "taller than screen", w: 900, h: 1001, screen: screen1600, ew: 900, eh: 1000 },
            { tag: "exactly the screen", w: 1600, h: 1000, screen: screen1600, ew: 1600, eh: 1000 },
            { tag: "both beyond a small screen", w: 2000, h: 2000, screen: screen800, ew: 800, eh: 500 }
        ]
    }

    function test_resize(data) {
        var mediator = freshMediator(data.screen)
        mediator.resize(data.w, data.h)
        compare([mediator.width, mediator.height], [data.ew, data.eh])
    }

    function test_minimumSize_data() {
        return [
            { tag: "large screen", screen: screen1600, ew: 1000, eh: 600 },
            { tag: "lowered to a small screen", screen: screen800, ew: 800, eh: 500 }
        ]
    }

    // Only once the window allows it (after its first width change).
    function test_minimumSize(data) {
        var mediator = freshMediator(data.screen)
        mediator.setMinimumSize(1000, 600)
        compare([mediator.minimumWidth, mediator.minimumHeight], [1, 1])
        mediator.canSetMinimumSize = true
        mediator.setMinimumSize(1000, 600)
        compare([mediator.minimumWidth, mediator.minimumHeight], [data.ew, data.eh])
    }
}
