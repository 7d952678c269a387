import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "Workspace"
    when: windowShown
    width: 1400
    height: 900

    WorkspaceTestHarness {
        id: harness
    }

    function init() {
        harness.reset()
    }

    function test_newDocumentsAreNumberedAndNumbersAreNotReused() {
        var first = MaterialDocumentMediator.numberOfNewMaterials
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        compare(harness.tabKeys(), ["NewMaterial" + (first + 1), "NewMaterial" + (first + 2)])
        harness.screen.closeableTabView.closeTab("NewMaterial" + (first + 1))
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_BB"))
        compare(MaterialDocumentMediator.documentKey, "NewMaterial" + (first + 3))
        compare(harness.screen.formHeader.machineModelName, "Orvo B")
    }
}
