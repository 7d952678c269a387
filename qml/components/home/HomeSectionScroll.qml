import QtQuick 2.15
import QtQuick.Controls 2.15
import "../.."

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
    contentWidth: Globals.flickableScroll_ContentWidth(width, minimumWidth, margin, margin)
    contentHeight: Globals.flickableScroll_ContentHeight(innerHeight, margin, margin)
    ScrollBar.horizontal: ScrollBar { policy: Globals.flickableScroll_ScrollBar_Horizontal_Policy(flickable) }
    ScrollBar.vertical: ScrollBar { policy: Globals.flickableScroll_ScrollBar_Vertical_Policy(flickable) }
}
