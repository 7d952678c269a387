import QtQuick 2.15
import "../.."
import ".."

// Lists the current document's validation messages (their bold markup rendered).
PopupDialog {
    id: validationDialog

    readonly property var messages: MaterialDocumentMediator.formValidationErrorMessages
    readonly property int rowHeight: Globals.validationErrorMessageDelegateHeight

    popupWidth: 600
    buttonVisibleCancel: false
    title: messages.length === 0 ? qsTr("Validation successful.") : qsTr("Please fix these errors.")

    function heightFor(count) {
        var windowHeight = validationDialog.parent ? validationDialog.parent.height : 0
        var wanted = 180 + rowHeight * count
        return windowHeight > 0 ? Math.min(wanted, windowHeight - 50) : wanted
    }

    onAboutToShow: {
        popupHeight = heightFor(messages.length)
        setContentHeight(rowHeight * messages.length)
    }

    messageComponent: Component {
        Column {
            width: validationDialog.width - 2 * Globals.gridSpacing

            Repeater {
                model: validationDialog.messages
                delegate: Item {
                    width: parent.width
                    height: validationDialog.rowHeight

                    Rectangle {
                        width: parent.width
                        height: 1
                        color: Globals.colorNeutral2
                    }

                    Text {
                        anchors.fill: parent
                        anchors.topMargin: 1
                        text: modelData
                        textFormat: Text.StyledText
                        wrapMode: Text.Wrap
                        verticalAlignment: Text.AlignVCenter
                        color: Globals.colorWhite
                        font.family: Globals.fontAssistantRegularName
                        font.pointSize: 14
                    }
                }
            }
        }
    }
}
