import QtQuick 2.15
import QtQuick.Window 2.15
import QtWebEngine 1.10

// Shows one web page, as the help pages do, and says when it has loaded.
Window {
    visible: true
    width: 200
    height: 100
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
