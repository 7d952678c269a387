import QtQuick 2.15
import QtQuick.Controls 2.15
import QtWebEngine 1.10
import "../.."

// Getting Started section of Home: the introductory help page. Links the user
// clicks open in the desktop's browser; the view stays on the page.
Item {
    id: homeSectionGettingStarted

    property int minimumWidth: 0
    // Opens addresses in the desktop's browser. Tests hand in a stand-in with open(url).
    property QtObject linkOpener: QtObject {
        function open(url) { Qt.openUrlExternally(url) }
    }
    readonly property alias webView: webView

    // True for navigations to hand to the desktop's browser instead of the view.
    function isUserNavigation(navigationType) {
        return navigationType === WebEngineNavigationRequest.LinkClickedNavigation
    }

    HomeSectionScroll {
        id: flickable
        flickableDirection: Flickable.HorizontalFlick
        minimumWidth: homeSectionGettingStarted.minimumWidth

        WebEngineView {
            id: webView
            width: flickable.contentWidth
            height: flickable.height
            backgroundColor: Globals.colorNeutral4
            // The page's links follow the organisation domain, as the EULA link does.
            url: Qt.resolvedUrl("../../html/GettingStarted/GettingStarted.html") + "?domain="
                 + encodeURIComponent(Qt.application.domain)

            onNavigationRequested: function(request) {
                if (homeSectionGettingStarted.isUserNavigation(request.navigationType)) {
                    request.action = WebEngineNavigationRequest.IgnoreRequest
                    homeSectionGettingStarted.linkOpener.open(request.url)
                }
            }

            // Links with a target of their own (target=_blank) would otherwise go nowhere.
            onNewViewRequested: function(request) {
                homeSectionGettingStarted.linkOpener.open(request.requestedUrl)
            }
        }
    }
}
