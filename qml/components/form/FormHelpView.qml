import QtWebEngine 1.10

// The field reference page; it follows only addresses inside the resources.
WebEngineView {
    url: "qrc:/html/formfieldreference/formfieldreference.html"
    backgroundColor: "#1d1e1e"

    onNavigationRequested: {
        if (request.url.toString().indexOf("qrc:/") !== 0)
            request.action = WebEngineNavigationRequest.IgnoreRequest
    }
}
