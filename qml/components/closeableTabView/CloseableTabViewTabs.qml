import QtQuick 2.15
import "../.."
import ".."
import "../action"

// The tab strip drawn over the document tab view: one title per tab with its
// close button, scrolling (arrows, wheel) once the tabs are wider than the strip.
Item {
    id: strip

    property int currentIndex: -1
    property ListModel documentKeys: ListModel {}
    property ListModel tabWidths: ListModel {}
    property ListModel titles: ListModel {}
    property real totalTabWidth: 0
    readonly property int scrollAmount: 120
    readonly property int navigationWidth: Globals.closeableTabHeight
    readonly property bool scrolling: totalTabWidth > width
    readonly property int count: titles.count
    readonly property alias flickable: flickable
    readonly property alias tabNavigation: tabNavigation

    signal tabCloseClicked(int index)
    signal switchToTabByKey(string key)
    signal setTabWidthSignal()

    height: Globals.closeableTabHeight

    function insertTab(index, tabName, component) {
        // The new delegate reports its width as soon as the title is inserted.
        documentKeys.insert(index, { "key": "" })
        tabWidths.insert(index, { "width": 0 })
        titles.insert(index, { "title": tabName, "key": "" })
    }

    function removeTab(index) {
        if (index < 0 || index >= titles.count)
            return
        documentKeys.remove(index)
        tabWidths.remove(index)
        titles.remove(index)
        updateTotalTabWidth()
        if (currentIndex >= titles.count)
            currentIndex = titles.count - 1
    }

    function setTitle(index, title) {
        if (index >= 0 && index < titles.count)
            titles.setProperty(index, "title", title)
    }

    function setDocumentKey(index, key) {
        if (index >= 0 && index < documentKeys.count) {
            documentKeys.setProperty(index, "key", key)
            titles.setProperty(index, "key", key)
        }
    }

    function keyAt(index) {
        return (index >= 0 && index < documentKeys.count) ? documentKeys.get(index).key : ""
    }

    function updateTabWidth(index, width) {
        if (index < 0)
            return
        if (index >= tabWidths.count)
            tabWidths.append({ "width": width })
        else
            tabWidths.setProperty(index, "width", width)
        updateTotalTabWidth()
    }

    function updateParentWidth(width) {
        setTabWidthSignal()
    }

    function updateTotalTabWidth() {
        var sum = 0
        for (var i = 0; i < tabWidths.count; ++i)
            sum += tabWidths.get(i).width
        totalTabWidth = sum
        updateContentWidth()
    }

    function updateContentWidth() {
        var content = totalTabWidth - titles.count + (scrolling ? navigationWidth : 0)
        flickable.contentWidth = Math.max(content, width)
        setContentX(flickable.contentX)
    }

    function setContentX(x) {
        flickable.contentX = Math.max(0, Math.min(x, flickable.contentWidth - flickable.width))
    }

    function scrollBy(amount) {
        if (!scrolling)
            return
        setContentX(flickable.contentX + amount)
    }

    function tabOffset(index) {
        var offset = 0
        for (var i = 0; i < index && i < tabWidths.count; ++i)
            offset += tabWidths.get(i).width
        return offset
    }

    function ensureCurrentVisible() {
        if (currentIndex < 0 || currentIndex >= tabWidths.count)
            return
        var start = tabOffset(currentIndex)
        var end = start + tabWidths.get(currentIndex).width
        var visibleEnd = flickable.contentX + flickable.width - (scrolling ? navigationWidth : 0)
        if (start < flickable.contentX || end > visibleEnd)
            setContentX(start)
    }

    onCurrentIndexChanged: ensureCurrentVisible()
    onScrollingChanged: updateContentWidth()
    onWidthChanged: {
        updateContentWidth()
        setTabWidthSignal()
    }

    Flickable {
        id: flickable
        width: strip.width
        height: Globals.closeableTabHeight
        interactive: strip.scrolling
        boundsBehavior: Flickable.StopAtBounds
        flickableDirection: Flickable.HorizontalFlick
        contentHeight: height
        clip: true

        Row {
            id: tabRow
            spacing: -1

            Repeater {
                id: tabRepeater
                model: strip.titles
                delegate: Rectangle {
                    id: stripTab

                    readonly property bool selected: index === strip.currentIndex
                    readonly property string key: model.key
                    readonly property int maximumTitleWidth: 300

                    height: Globals.closeableTabHeight
                    width: titleText.width + Globals.closeableTabHeight
                    color: selected ? Globals.colorNeutral4 : Globals.colorNeutral5

                    function reportWidth() {
                        strip.updateTabWidth(index, width)
                    }

                    onWidthChanged: reportWidth()
                    Component.onCompleted: reportWidth()

                    Connections {
                        target: strip
                        // Recomputed as a binding, so that a title changed later still gets its own width.
                        function onSetTabWidthSignal() {
                            titleText.width = Qt.binding(function () {
                                return Math.min(titleText.implicitWidth + 1, stripTab.maximumTitleWidth)
                            })
                            stripTab.reportWidth()
                        }
                    }

                    Text {
                        id: titleText
                        x: 10
                        anchors.verticalCenter: parent.verticalCenter
                        width: Math.min(implicitWidth + 1, stripTab.maximumTitleWidth)
                        text: model.title
                        // File names are shown as written, never as markup.
                        textFormat: Text.PlainText
                        font.pointSize: 14
                        color: stripTab.selected ? Globals.colorWhite : Globals.colorNeutral2
                        elide: Text.ElideLeft
                        maximumLineCount: 1
                    }

                    MouseArea {
                        id: tabMouseArea
                        anchors.fill: parent
                        hoverEnabled: true
                        onClicked: strip.switchToTabByKey(strip.keyAt(index))
                    }

                    ButtonIconAction {
                        width: 30
                        height: 30
                        iconWidth: 20
                        iconHeight: 20
                        anchors.right: parent.right
                        anchors.rightMargin: 10
                        anchors.verticalCenter: parent.verticalCenter
                        icon: "../../images/action_remove.svg"
                        toolTipText: qsTr("Close")
                        onClicked: strip.tabCloseClicked(index)
                    }

                    StyledToolTip {
                        text: stripTab.key.indexOf(Globals.filePrefix) === 0
                              ? stripTab.key.substring(Globals.filePrefix.length) : stripTab.key
                        visible: tabMouseArea.containsMouse
                    }
                }
            }
        }
    }

    MouseArea {
        anchors.fill: flickable
        acceptedButtons: Qt.NoButton
        onWheel: {
            if (!strip.scrolling) {
                wheel.accepted = false
                return
            }
            var delta = wheel.angleDelta.x !== 0 ? wheel.angleDelta.x : wheel.angleDelta.y
            strip.scrollBy(wheel.inverted ? delta : -delta)
        }
    }

    Row {
        id: tabNavigation
        anchors.right: parent.right
        height: Globals.closeableTabHeight
        visible: strip.scrolling

        CloseableTabViewScrollNavigationButton {
            id: leftButton
            width: strip.navigationWidth / 2
            height: Globals.closeableTabHeight
            icon: "../../images/arrow_left.svg"
            onButtonClicked: strip.scrollBy(-strip.scrollAmount)
        }
        CloseableTabViewScrollNavigationButton {
            id: rightButton
            width: strip.navigationWidth / 2
            height: Globals.closeableTabHeight
            icon: "../../images/arrow_right.svg"
            onButtonClicked: strip.scrollBy(strip.scrollAmount)
        }
    }

    // Holding an arrow keeps scrolling.
    Timer {
        interval: 100
        repeat: true
        running: leftButton.pressed || rightButton.pressed
        onTriggered: strip.scrollBy(leftButton.pressed ? -strip.scrollAmount : strip.scrollAmount)
    }
}
