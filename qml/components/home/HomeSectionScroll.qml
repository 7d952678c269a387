import QtQuick 2.15
import QtQuick.Controls 2.15

// The scrolling page of a Home section: at least minimumWidth wide plus margins,
// as tall as its content plus margins, with scroll bars only when needed.
Flickable {
    id: flickable

    property real minimumWidth: 0
    property real margin: 0
    property real innerHeight: height - 2 * margin

    anchors.fill: parent
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    contentWidth: Math.max(width, minimumWidth + 2 * margin)
    contentHeight: innerHeight + 2 * margin
    ScrollBar.horizontal: ScrollBar { policy: flickable.contentWidth > flickable.width ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff }
    ScrollBar.vertical: ScrollBar { policy: flickable.contentHeight > flickable.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff }
}
