import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    id: testCase
    name: "Tabs"
    when: windowShown
    width: 1400
    height: 900

    WorkspaceTestHarness {
        id: harness
    }

    // A strip title as it should be measured: the file name's own text, one line.
    Text {
        id: referenceTitle
        visible: false
        font.pointSize: 14
        textFormat: Text.PlainText
    }

    function expectedTabWidth(title) {
        referenceTitle.text = title
        return Math.min(referenceTitle.implicitWidth + 1, 300) + Globals.closeableTabHeight
    }

    readonly property var tabView: harness.screen.closeableTabView

    function init() {
        harness.reset()
    }

    function openPaths(names) {
        var keys = []
        names.forEach(function (name) {
            compare(MaterialDocumentMediator.loadDocument(harness.keyOf(harness.newFile(name))), true)
            keys.push(MaterialDocumentMediator.documentKey)
        })
        return keys
    }

    function test_closingATab_data() {
        return [
            { tag: "first of three", close: 0, current: 0, expectedCurrent: 0 },
            { tag: "last of three", close: 2, current: 2, expectedCurrent: 1 },
            { tag: "middle of three", close: 1, current: 1, expectedCurrent: 0 }
        ]
    }

    function test_closingATab(data) {
        var keys = openPaths(["a.zqmat", "b.zqmat", "c.zqmat"])
        tabView.switchToTabByKey(keys[data.current])
        tabView.closeTab(keys[data.close])
        var remaining = keys.filter(function (k, i) { return i !== data.close })
        compare(harness.tabKeys(), remaining)
        compare([tabView.tabView.currentIndex, tabView.fakeTabView.currentIndex], [data.expectedCurrent, data.expectedCurrent])
        compare(MaterialDocumentMediator.documentKey, remaining[data.expectedCurrent])
        compare(harness.currentForm().documentKey, remaining[data.expectedCurrent])
        compare([tabView.fakeTabView.count, tabView.fakeTabView.tabWidths.count], [2, 2])
    }

    function test_closingTheOnlyTab() {
        var keys = openPaths(["only.zqmat"])
        tabView.closeTab(keys[0])
        compare(tabView.getTabCount(), 0)
        compare(tabView.fakeTabView.count, 0)
        compare(MaterialDocumentMediator.documentKey, "")
    }

    function test_insertingAnOpenKeySelectsItsTab() {
        var keys = openPaths(["p.zqmat", "q.zqmat"])
        compare(MaterialDocumentMediator.loadDocument(keys[0]), true)
        compare(harness.tabKeys(), keys)
        compare(tabView.tabView.currentIndex, 0)
        compare(MaterialDocumentMediator.documentKey, keys[0])
    }

    function test_titlesAreMadeUnique() {
        compare(MaterialDocumentMediator.loadDocument("file:///" + harness.dataDir + "x/a.zqmat"), true)
        compare(harness.tabTitles(), ["a.zqmat"])
        compare(MaterialDocumentMediator.loadDocument("file:///" + harness.dataDir + "y/a.zqmat"), true)
        compare(harness.tabTitles(), ["x/a.zqmat", "y/a.zqmat"])
        compare(tabView.fakeTabView.titles.get(1).title, "y/a.zqmat")
        compare(tabView.tabView.getTab(0).title, "x/a.zqmat")
        tabView.closeTab(harness.tabKeys()[1])
        compare(harness.tabTitles(), ["a.zqmat"])
    }

    // Regression: a width change of the tab view froze every title's width, so a
    // title that grew later (a save under a longer name) was cut short.
    function test_titleGrownAfterWidthChangeKeepsItsWidth() {
        verify(MaterialDocumentMediator.createDocument("ORV_2.0_AA"))
        harness.width = 1200
        harness.width = 1400
        var path = harness.tempPath("a longer name than the new one.zqmat")
        compare(MaterialDocumentMediator.saveDocument(harness.keyOf(path)), harness.keyOf(path))
        var title = tabView.fakeTabView.titles.get(0).title
        compare(tabView.fakeTabView.tabWidths.get(0).width, expectedTabWidth(title))
    }

    // File names are shown as written: "<i>" in a name is not markup.
    function test_titleIsPlainText() {
        var keys = openPaths(["<i>slanted<i>.zqmat"])
        var title = tabView.fakeTabView.titles.get(0).title
        verify(title.indexOf("<i>") >= 0)
        compare(tabView.fakeTabView.tabWidths.get(0).width, expectedTabWidth(title))
    }

    function test_twentyLongTabsScroll() {
        var names = []
        for (var i = 0; i < 20; ++i)
            names.push("a rather long material file name number " + i + ".zqmat")
        var keys = openPaths(names)
        var strip = tabView.fakeTabView
        verify(strip.scrolling && strip.tabNavigation.visible && strip.flickable.interactive)
        compare(strip.flickable.contentWidth, strip.totalTabWidth - 20 + strip.navigationWidth)
        // The last tab opened is current and in view.
        verify(strip.flickable.contentX > 0)

        tabView.switchToTabByKey(keys[0])
        compare(strip.flickable.contentX, 0)
        tabView.switchToTabByKey(keys[10])
        compare(strip.flickable.contentX, Math.min(strip.tabOffset(10), strip.flickable.contentWidth - strip.width))

        strip.setContentX(0)
        strip.scrollBy(-1000)
        compare(strip.flickable.contentX, 0)
        strip.scrollBy(1e6)
        compare(strip.flickable.contentX, strip.flickable.contentWidth - strip.width)

        // Every title is elided to at most 300 px.
        for (i = 0; i < strip.tabWidths.count; ++i)
            verify(strip.tabWidths.get(i).width <= 300 + 60)

        keys.slice(0, 19).forEach(function (k) { tabView.closeTab(k) })
        verify(!strip.scrolling && !strip.tabNavigation.visible)
        compare(strip.flickable.contentWidth, strip.width)
    }
}
