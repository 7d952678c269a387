import QtQuick 2.15
import QtQuick.Window 2.15

// A window whose close logic never lets it close, like a save prompt left unanswered.
Window {
    visible: true
    title: "Gelvantrium"
    onClosing: close.accepted = false
    function openFile(filePath) {}
    function handleQuitApplication() { close() }
    Component.onCompleted: console.info("window shown")
}
