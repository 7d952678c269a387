import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"

// The Getting Started section: its page loads in the view, and links the user
// clicks, those that ask for a new window included, go to the desktop's browser.
TestCase {
    id: testCase
    name: "HomeSectionGettingStarted"
    width: 1000
    height: 700
    visible: true // hidden items get no pointer events
    when: windowShown

    Component {
        id: linkOpenerStandIn
        QtObject {
            property var opened: []
            function open(url) { opened = opened.concat([String(url)]) }
        }
    }

    Component { id: sectionComponent; HomeSectionGettingStarted { width: 900; height: 650; minimumWidth: 800 } }

    property var opener: null
    property string configuredDomain: ""

    function initTestCase() { configuredDomain = Qt.application.domain }
    function cleanup() { Qt.application.domain = configuredDomain }

    function makeSection() {
        opener = createTemporaryObject(linkOpenerStandIn, testCase)
        return createTemporaryObject(sectionComponent, testCase, { linkOpener: opener })
    }

    function waitForPage(view, url) {
        tryVerify(function() {
            return String(view.url).indexOf(url) === 0 && !view.loading && view.loadProgress === 100
        }, 20000)
    }

    function runJavaScript(view, script) {
        var result = null
        view.runJavaScript(script, function(value) { result = value })
        tryVerify(function() { return result !== null }, 5000)
        return result
    }

    // Regression: the links pointed at a placeholder host and the page named buttons
    // (Validate, Install) that the application does not have.
    function test_pageLoadsWithTheOrganisationLinksAndTheControlsThatExist() {
        Qt.application.domain = "example.test"
        var section = makeSection()
        waitForPage(section.webView, "qrc:/html/GettingStarted/GettingStarted.html")
        compare(runJavaScript(section.webView, "Array.prototype.map.call(document.querySelectorAll('a'), "
                              + "function (a) { return a.href; }).join(' ')"),
                "https://example.test/gelvantrium/quick-start https://example.test/gelvantrium/faq")
        compare(runJavaScript(section.webView, "Array.prototype.map.call(document.querySelectorAll('strong'), "
                              + "function (s) { return s.textContent; }).join('|')"),
                "Browse...|New|New|Distribute|Save|Help|Home|X")
    }

    function test_clickedLinksGoToTheBrowser_data() {
        return [
            { tag: "same window", id: "plain", url: "https://127.0.0.1/plain" },
            { tag: "new window", id: "blank", url: "https://127.0.0.1/blank" }
        ]
    }

    function test_clickedLinksGoToTheBrowser(data) {
        var page = testSupport.tempPath() + "/links.html"
        verify(testSupport.writeTextFile(page,
            "<html><body style='margin:0'>"
            + "<a id='plain' href='https://127.0.0.1/plain' style='display:block;height:50px'>plain</a>"
            + "<a id='blank' href='https://127.0.0.1/blank' target='_blank' style='display:block;height:50px'>blank</a>"
            + "</body></html>"))
        var section = makeSection()
        var pageUrl = "file://" + page
        section.webView.url = pageUrl
        waitForPage(section.webView, pageUrl)
        // The centre of the link, in view coordinates.
        var centre = runJavaScript(section.webView, "(function() { var r = document.getElementById('" + data.id
                                   + "').getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()")
        mouseClick(section.webView, centre[0], centre[1])
        tryCompare(opener, "opened", [data.url], 5000)
        wait(200)
        compare(String(section.webView.url), pageUrl)
        compare(opener.opened.length, 1)
    }
}
