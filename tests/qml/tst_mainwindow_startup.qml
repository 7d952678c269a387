import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

// The first root window of this engine: the splash starts visible here only.
TestCase {
    id: testCase
    name: "MainWindowStartUp"
    when: windowShown

    SignalSpy { id: hiddenSpy; target: ApplicationWindowMediator; signalName: "splashScreenHiddenSignal" }

    function test_startUpBuildsStackAndHidesSplash() {
        testSupport.setRootContextProperty("openFilePath", "")
        compare(ApplicationWindowMediator.splashScreenVisible, true)
        var component = Qt.createComponent("qrc:/main.qml")
        verify(component.status === Component.Ready, component.errorString())
        var window = createTemporaryObject(component, null)
        var visibleWhenBuilt = null, drawnWhenHidden = null
        window.screensBuilt.connect(function () { visibleWhenBuilt = window.visible })
        var onHidden = function () { drawnWhenHidden = window.firstFrameDrawn }
        ApplicationWindowMediator.splashScreenHiddenSignal.connect(onHidden)

        // Nothing is shown but the splash until the stack is built.
        compare([window.visible, window.splashWindow.visible, window.initialLoadDone], [false, true, false])
        compare(window.splashWindow.artwork.status, Image.Ready)

        tryCompare(window, "initialLoadDone", true, 10000)
        var stack = window.screenStack
        compare(stack.screenNameStack, [stack.screenNameForm, stack.screenNameHome])
        verify(stack.isCurrentScreen(stack.screenNameHome))
        // The form under Home waits with its content until it is first shown.
        compare(stack.get(0).formHeader, null)
        // The first frame is rendered ahead while the window is still hidden.
        compare([window.visible, window.splashWindow.visible, visibleWhenBuilt], [true, false, false])
        // The closed splash keeps no decoded artwork.
        compare(window.splashWindow.artwork.status, Image.Null)
        // Regression: work waiting for the splash (the update check) held up the first frame,
        // leaving the shown window black; it starts once a frame is on screen.
        tryCompare(ApplicationWindowMediator, "splashScreenVisible", false, 20000)
        ApplicationWindowMediator.splashScreenHiddenSignal.disconnect(onHidden)
        compare(drawnWhenHidden, true, "the update check started before the first frame")
        wait(100)
        compare(hiddenSpy.count, 1)
    }
}
