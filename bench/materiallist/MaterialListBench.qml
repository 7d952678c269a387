// Settings with its printer section for bench_materiallist, and the floor's bare list.
import QtQuick 2.15
import QtQuick.Window 2.15
import "qrc:/"
import "qrc:/components/home"

Window {
    width: 1100
    height: 1450
    visible: true

    property int listChanges: 0
    property var floorNames: []

    Connections {
        target: NetworkConnectionMediator
        function onMaterialListChanged() { ++listChanges }
    }

    HomeSectionSettings {
        id: settings
        width: 1100
        height: 1450
        minimumWidth: 800
        visible: !floorList.visible
    }

    ListView {
        id: floorList
        visible: false
        width: 400
        height: 500
        model: floorNames
        delegate: Text { text: modelData; height: 50 }
    }

    function connectTo(address) { listChanges = 0; return settings.printer.connect(address) }
    function shown() { return settings.printer.materialListView.count }
    function disconnectFrom(address) { NetworkConnectionMediator.disconnectFromPrinter(address) }
    function showFloor(on) { floorNames = []; floorList.visible = on }
    function floorShown() { return floorList.count }
}
