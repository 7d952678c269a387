import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "ApplicationWindowMediator"

    readonly property var screen1600: ({ width: 1600, height: 1000 })
    readonly property var screen800: ({ width: 800, height: 500 })

    SignalSpy { id: hiddenSpy; signalName: "splashScreenHiddenSignal" }
    SignalSpy { id: closeSpy; signalName: "closeApplicationSignal" }

    function freshMediator(screen) {
        var component = Qt.createComponent("qrc:/ApplicationWindowMediator.qml")
        verify(component.status === Component.Ready, component.errorString())
        var mediator = createTemporaryObject(component, testCase)
        verify(mediator !== null)
        if (screen !== undefined)
            mediator.windowScreen = screen
        return mediator
    }

    function init() {
        testSupport.removeStoredSetting("ApplicationWindow/width")
        testSupport.removeStoredSetting("ApplicationWindow/height")
        hiddenSpy.clear()
        closeSpy.clear()
    }

    function test_firstStartSize() {
        var mediator = freshMediator()
        compare(mediator.width, 1280)
        compare(mediator.height, 720)
        compare(mediator.minimumWidth, 1)
        compare(mediator.minimumHeight, 1)
        compare(mediator.canSetMinimumSize, false)
        compare(mediator.splashScreenVisible, true)
    }

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
        compare(mediator.width, data.ew)
        compare(mediator.height, data.eh)
    }

    function test_setMinimumSizeWaitsForPermission() {
        var mediator = freshMediator(screen1600)
        mediator.setMinimumSize(1000, 600)
        compare(mediator.minimumWidth, 1)
        compare(mediator.minimumHeight, 1)
        mediator.canSetMinimumSize = true
        mediator.setMinimumSize(1000, 600)
        compare(mediator.minimumWidth, 1000)
        compare(mediator.minimumHeight, 600)
    }

    function test_minimumSizeLoweredToSmallScreen() {
        var mediator = freshMediator(screen800)
        mediator.canSetMinimumSize = true
        mediator.setMinimumSize(1000, 600)
        compare(mediator.minimumWidth, 800)
        compare(mediator.minimumHeight, 500)
    }

    function test_splashHiddenSignalsOnce() {
        var mediator = freshMediator()
        hiddenSpy.target = mediator
        mediator.splashScreenVisible = false
        compare(hiddenSpy.count, 1)
        mediator.splashScreenVisible = false
        compare(hiddenSpy.count, 1)
    }

    function test_closeApplicationForwardsForce_data() {
        return [ { tag: "forced", force: true }, { tag: "normal", force: false } ]
    }

    function test_closeApplicationForwardsForce(data) {
        var mediator = freshMediator()
        closeSpy.target = mediator
        mediator.closeApplication(data.force)
        compare(closeSpy.count, 1)
        compare(closeSpy.signalArguments[0][0], data.force)
    }

    function test_sizePersists() {
        var mediator = freshMediator(screen1600)
        mediator.resize(1440, 810)
        mediator.destroy()
        wait(0)
        compare(Number(testSupport.storedSetting("ApplicationWindow/width")), 1440)
        compare(Number(testSupport.storedSetting("ApplicationWindow/height")), 810)
        var again = freshMediator()
        compare(again.width, 1440)
        compare(again.height, 810)
    }
}
