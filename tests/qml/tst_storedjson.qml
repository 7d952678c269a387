import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

// Unreadable JSON in the stored recent-materials list: the list starts empty with a
// warning instead of throwing, and the user's text is not replaced on exit.
TestCase {
    id: testCase
    name: "StoredRecentMaterials"

    function freshMediator() {
        var component = Qt.createComponent("qrc:/MaterialDocumentMediator.qml")
        verify(component.status === Component.Ready, component.errorString())
        var mediator = component.createObject(testCase)
        verify(mediator !== null)
        return mediator
    }

    function test_unreadableListFallsBackToEmpty_data() {
        return [
            { tag: "cut short", stored: "[{\"fileName\": \"a.zqmat\", \"path\": \"file:////tmp/a", warning: /not valid JSON/ },
            { tag: "object, not list", stored: "{\"fileName\": \"a.zqmat\"}", warning: /wrong JSON type/ },
            { tag: "number", stored: "7", warning: /wrong JSON type/ }
        ]
    }

    function test_unreadableListFallsBackToEmpty(data) {
        testSupport.setStoredSetting("Document/datastore", data.stored)
        ignoreWarning(data.warning)
        var mediator = freshMediator()
        compare(mediator.recentFiles.count, 0)
        mediator.destroy()
        wait(0)
        compare(testSupport.storedSetting("Document/datastore"), data.stored)
    }

    function test_entriesWithoutPathAreSkipped() {
        testSupport.setStoredSetting("Document/datastore",
                                     "[{\"fileName\": \"no path\"}, 5, null, {\"fileName\": \"b.zqmat\", \"path\": \"file:////tmp/b.zqmat\"}]")
        var mediator = freshMediator()
        compare(mediator.recentFiles.count, 1)
        compare(mediator.recentFiles.get(0).fileName, "b.zqmat")
        mediator.destroy()
    }
}
