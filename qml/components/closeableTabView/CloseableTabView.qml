import QtQuick 2.15
import QtQuick.Controls 1.4 as Controls1
import QtQuick.Controls.Styles 1.4 as Styles1
import com.vtr.Gelvantrium 1.0
import "../.."

// The document tabs of the form screen: one form per document key, under a
// scrollable strip of closeable titles made unique with parent folders.
Item {
    id: closeableTabView

    property alias tabView: tabView
    property alias fakeTabView: fakeTabView
    property ListModel tabNames: ListModel {}
    property alias utility: utility

    // The close button of a tab, or the mediator's request while quitting; the screen decides.
    signal closeClicked(string key)

    Utilities {
        id: utility
    }

    Component {
        id: removeFix
        CloseableTabViewRemoveFix {}
    }

    Controls1.TabView {
        id: tabView
        anchors.fill: parent
        frameVisible: false
        style: Styles1.TabViewStyle {
            frameOverlap: 0
            tab: Rectangle {
                implicitWidth: 10
                implicitHeight: Globals.closeableTabHeight
                color: Globals.colorNeutral5
            }
            tabBar: Rectangle {
                color: Globals.colorNeutral5
            }
            frame: Rectangle {
                color: Globals.colorNeutral5
            }
        }
    }

    CloseableTabViewTabs {
        id: fakeTabView
        width: parent.width
        height: Globals.closeableTabHeight
        z: 1

        onTabCloseClicked: closeableTabView.closeClicked(keyAt(index))
        onSwitchToTabByKey: closeableTabView.switchToTabByKey(key)
    }

    onWidthChanged: fakeTabView.updateParentWidth(width)

    function getTabCount() {
        return tabView.count
    }

    function getTabIndexByKey(key) {
        for (var i = 0; i < tabNames.count; ++i) {
            if (tabNames.get(i).filePath === key)
                return i
        }
        return -1
    }

    function getTabByKey(key) {
        var index = getTabIndexByKey(key)
        return index < 0 ? null : tabView.getTab(index)
    }

    function currentKey() {
        var index = tabView.currentIndex
        return (index >= 0 && index < tabNames.count) ? tabNames.get(index).filePath : ""
    }

    function selectIndex(index) {
        tabView.currentIndex = index
        fakeTabView.currentIndex = index
    }

    function insertTab(key, component, index) {
        if (index === undefined || index < 0 || index > tabView.count)
            index = tabView.count
        var title = utility.fileNameFromPath(key)
        if (getTabIndexByKey(key) >= 0) {
            switchToTabByKey(key)
            return
        }
        var tab = tabView.insertTab(index, title, component)
        fakeTabView.insertTab(index, title, removeFix)
        if (index === tabNames.count) {
            insertTabName(title, key)
        } else {
            tabNames.insert(index, { "tabName": title, "filePath": key })
            verifyTabNames()
        }
        tab.active = true
        if (tab.item)
            tab.item.documentKey = key
        fakeTabView.setDocumentKey(index, key)
        switchToTabByKey(key)
    }

    function switchToTabByKey(key) {
        var index = getTabIndexByKey(key)
        if (index < 0)
            return
        selectIndex(index)
        MaterialDocumentMediator.switchDocument(key)
    }

    // Records a tab added at the end and makes the titles unique again.
    function insertTabName(tabName, key) {
        tabNames.append({ "tabName": tabName, "filePath": key })
        verifyTabNames()
    }

    function closeTab(key, skipClosingDocument) {
        var index = getTabIndexByKey(key)
        if (index < 0)
            return
        var closingCurrent = index === tabView.currentIndex
        var keptKey = closingCurrent ? "" : currentKey()

        var tab = tabView.getTab(index)
        if (tab)
            tab.sourceComponent = removeFix
        tabView.removeTab(index)
        tabNames.remove(index)
        fakeTabView.removeTab(index)

        if (!skipClosingDocument)
            MaterialDocumentMediator.closeDocument(key)

        if (tabView.count === 0) {
            MaterialDocumentMediator.verifyRecentFiles()
            if (typeof stackView !== "undefined" && stackView)
                stackView.pushScreen(stackView.screenNameHome)
            return
        }
        if (closingCurrent) {
            var neighbour = Math.max(0, index - 1)
            var neighbourTab = tabView.getTab(neighbour)
            if (neighbourTab)
                neighbourTab.active = true
            switchToTabByKey(tabNames.get(neighbour).filePath)
        } else {
            // A background tab closed: the current document and tab stay.
            selectIndex(getTabIndexByKey(keptKey))
        }
        verifyTabNames()
    }

    function closeTabSlot(key) {
        switchToTabByKey(key)
        closeClicked(key)
    }

    function tabKeyChangedSlot(oldKey, newKey) {
        if (getTabIndexByKey(oldKey) < 0)
            return
        // Another tab showed the file that was just overwritten; its entry is already replaced.
        if (getTabIndexByKey(newKey) >= 0)
            closeTab(newKey, true)
        var index = getTabIndexByKey(oldKey)
        var tab = tabView.getTab(index)
        if (tab && tab.item)
            tab.item.documentKey = newKey
        fakeTabView.setDocumentKey(index, newKey)
        var title = utility.fileNameFromPath(newKey)
        tab.title = title
        fakeTabView.setTitle(index, title)
        tabNames.set(index, { "tabName": title, "filePath": newKey })
        switchToTabByKey(newKey)
        verifyTabNames()
    }

    function verifyTabNames() {
        var files = []
        var indexes = []
        var extension = Globals.materialFileExtension
        for (var i = 0; i < tabNames.count; ++i) {
            var entry = tabNames.get(i)
            var key = entry.filePath
            if (key.length >= extension.length && key.lastIndexOf(extension) === key.length - extension.length) {
                files.push(MaterialDocumentMediator.getShortFilenameObject(entry.tabName, key))
                indexes.push(i)
            }
        }
        MaterialDocumentMediator.makeShortFilenamesUnique(files)
        for (var j = 0; j < files.length; ++j) {
            var index = indexes[j]
            var tab = tabView.getTab(index)
            if (tab)
                tab.title = files[j].filename
            fakeTabView.setTitle(index, files[j].filename)
            tabNames.setProperty(index, "tabName", files[j].filename)
        }
    }
}
