import QtQuick 2.15
import QtQuick.Controls 2.15
import "action"
import "../"

// The application's one message dialog. Title and message are plain text: they often
// carry file names, printer names or texts read from files.
Popup {
    id: dialog

    readonly property int defaultPopupHeight: 400
    readonly property real inset: Globals.gridSpacing / 2
    readonly property int buttonHeight: 25
    readonly property int buttonFontSize: 14

    property int popupWidth: 400
    property int popupHeight: defaultPopupHeight
    property string title: ""
    property string message: ""
    // An Item or a Component shown in place of the message text.
    property var messageComponent: null
    property string buttonTextConfirm: qsTr("OK")
    property string buttonTextCancel: qsTr("Cancel")
    property bool buttonVisibleCancel: true
    property int buttonWidthConfirm: 100
    property int buttonWidthCancel: 100
    property bool closeOnClickOutside: false

    // -1 while the message area is as high as its text.
    property real contentHeightOverride: -1
    property bool heightComputed: false
    // The content is built the first time the dialog opens: most dialogs never open.
    property bool contentBuilt: false
    readonly property Item content: contentLoader.item

    signal clickedConfirm()
    signal clickedCancel()

    parent: Overlay.overlay
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    width: popupWidth
    height: popupHeight
    modal: true
    focus: true
    padding: inset
    closePolicy: closeOnClickOutside ? Popup.CloseOnReleaseOutside
                                     : (Popup.CloseOnReleaseOutsideParent | Popup.CloseOnEscape)

    function setContentHeight(height) {
        contentHeightOverride = height
    }

    // The height the content asks for, less 200 px when that would crowd the window.
    function contentBasedHeight() {
        var h = topPadding + bottomPadding + content.titleText.height + messageHeight()
                + content.confirmButton.height + 5 * Globals.gridSpacing
        var windowHeight = dialog.parent ? dialog.parent.height : 0
        if (windowHeight > 0 && h > windowHeight - 200) {
            // Taking 200 px off is not enough for a very long message: never grow past the window.
            h = Math.min(h - 200, windowHeight - 200)
        }
        return h
    }

    function messageHeight() {
        if (contentHeightOverride >= 0)
            return contentHeightOverride
        if (!content)
            return 0
        return content.messageLoader.item ? content.messageLoader.height : content.messageText.contentHeight
    }

    onAboutToShow: {
        contentBuilt = true
        if (!heightComputed && popupHeight === defaultPopupHeight) {
            heightComputed = true
            popupHeight = contentBasedHeight()
        }
    }

    // An item is taken into the dialog at once, so it never shows where it was made.
    onMessageComponentChanged: {
        if (messageComponent instanceof Item)
            contentBuilt = true
        placeMessageComponent()
    }

    function placeMessageComponent() {
        if (!content)
            return
        if (messageComponent instanceof Item) {
            content.messageLoader.sourceComponent = undefined
            messageComponent.parent = content.messageColumn
        } else {
            content.messageLoader.sourceComponent = messageComponent
        }
    }

    background: Rectangle {
        color: Globals.colorNeutral5
        radius: 5
    }

    contentItem: Item {
        Loader {
            id: contentLoader
            anchors.fill: parent
            active: dialog.contentBuilt
            sourceComponent: dialogContent
            onLoaded: dialog.placeMessageComponent()
        }
    }

    Component {
        id: dialogContent

        Item {
            readonly property alias titleText: titleText
            readonly property alias messageText: messageText
            readonly property alias messageLoader: messageLoader
            readonly property alias messageColumn: messageColumn
            readonly property alias confirmButton: confirmButton

            TextEdit {
                id: titleText
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.right: parent.right
                text: dialog.title
                textFormat: TextEdit.PlainText
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.Wrap
                color: Globals.colorWhite
                selectionColor: Globals.colorTextSelection
                font.family: Globals.fontAssistantRegularName
                font.pointSize: 20
            }

            Flickable {
                id: messageArea
                anchors.top: titleText.bottom
                anchors.topMargin: Globals.gridSpacing
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: confirmButton.top
                anchors.bottomMargin: Globals.gridSpacing
                clip: true
                contentWidth: width
                contentHeight: dialog.messageHeight()
                flickableDirection: Flickable.VerticalFlick
                boundsBehavior: Flickable.StopAtBounds

                ScrollBar.vertical: ScrollBar {
                    policy: messageArea.contentHeight > messageArea.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                }

                Item {
                    id: messageColumn
                    width: dialog.width - 2 * Globals.gridSpacing
                    height: messageArea.contentHeight

                    TextEdit {
                        id: messageText
                        width: parent.width
                        height: dialog.contentHeightOverride >= 0 ? dialog.contentHeightOverride : contentHeight
                        visible: dialog.messageComponent === null
                        text: dialog.message
                        textFormat: TextEdit.PlainText
                        readOnly: true
                        selectByMouse: true
                        wrapMode: TextEdit.Wrap
                        color: Globals.colorWhite
                        selectionColor: Globals.colorTextSelection
                        font.family: Globals.fontAssistantRegularName
                        font.pointSize: 14
                    }

                    Loader {
                        id: messageLoader
                        width: parent.width
                        height: dialog.contentHeightOverride >= 0 ? dialog.contentHeightOverride
                                                                  : (item ? item.implicitHeight : 0)
                    }
                }
            }

            ButtonAction {
                id: confirmButton
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                width: dialog.buttonWidthConfirm
                height: dialog.buttonHeight
                fontSize: dialog.buttonFontSize
                text: dialog.buttonTextConfirm
                onClicked: {
                    dialog.close()
                    dialog.clickedConfirm()
                }
            }

            ButtonAction {
                id: cancelButton
                anchors.right: confirmButton.left
                anchors.rightMargin: dialog.inset
                anchors.bottom: parent.bottom
                width: dialog.buttonWidthCancel
                height: dialog.buttonHeight
                fontSize: dialog.buttonFontSize
                text: dialog.buttonTextCancel
                visible: dialog.buttonVisibleCancel
                backgroundColor: Globals.colorButtonActionBackground
                backgroundColorHovered: Globals.colorButtonActionBackgroundHovered
                onClicked: {
                    dialog.close()
                    dialog.clickedCancel()
                }
            }
        }
    }
}
