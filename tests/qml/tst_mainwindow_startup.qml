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

        // Nothing is shown but the splash until the stack is built.
        compare(window.visible, false)
        verify(window.splashWindow.visible)
        compare(window.initialLoadDone, false)

        tryCompare(window, "initialLoadDone", true, 10000)
        var stack = window.screenStack
        compare(stack.screenNameStack, [stack.screenNameForm, stack.screenNameHome])
        verify(stack.isCurrentScreen(stack.screenNameHome))
        compare(window.visible, true)
        compare(window.splashWindow.visible, false)
        compare(ApplicationWindowMediator.splashScreenVisible, false)
        wait(100)
        compare(hiddenSpy.count, 1)
    }
}
