import QtQuick 2.15
import QtQuick.Window 2.15
import QtWebEngine 1.10

// A window whose close logic never lets it close, like a save prompt left
// unanswered, showing one web page as the help pages do.
Window {
    visible: true
    width: 200
    height: 100
    onClosing: close.accepted = false
    function openFile(filePath) {}
    function handleQuitApplication() { close() }
    WebEngineView {
        anchors.fill: parent
        url: "data:text/html,<p>help</p>"
        onLoadingChanged: {
            if (loadRequest.status === WebEngineView.LoadSucceededStatus)
                console.info("page loaded")
        }
    }
}
