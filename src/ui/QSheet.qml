import QtQuick
import QtQuick.Controls

// A modal sheet that slides up over the window and shows the screen file
// `source`. The screen is created when the sheet opens and destroyed when it
// closes, so each opening starts from the live state. A screen closes its
// sheet by emitting a `closeRequested()` signal; Escape closes it too unless
// the screen takes the key itself.
Popup {
    id: sheet
    property url source
    // The sheet's size when the window has room; it shrinks to the window.
    property real preferredWidth: parent ? parent.width : 0
    property real preferredHeight: parent ? parent.height : 0
    readonly property Item screen: loader.item

    parent: Overlay.overlay
    width: parent ? Math.min(preferredWidth, parent.width) : 0
    height: parent ? Math.min(preferredHeight, parent.height) : 0
    x: parent ? Math.round((parent.width - width) / 2) : 0
    // A sheet narrower or lower than the window floats in the middle.
    readonly property real restingY: parent ? (height < parent.height ? Math.round((parent.height - height) / 2) : 0) : 0
    y: restingY
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose
    padding: 0

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.6) }

    enter: Transition {
        NumberAnimation { property: "y"; from: sheet.parent ? sheet.parent.height : 0; to: sheet.restingY; duration: 260; easing.type: Easing.OutCubic }
    }
    exit: Transition {
        NumberAnimation { property: "y"; from: sheet.restingY; to: sheet.parent ? sheet.parent.height : 0; duration: 200; easing.type: Easing.InCubic }
    }

    background: Item {}
    contentItem: Loader {
        id: loader
        focus: true
        active: sheet.visible
        source: sheet.source
        Keys.onEscapePressed: sheet.close()
        onLoaded: {
            if (item.closeRequested) item.closeRequested.connect(sheet.close)
            item.forceActiveFocus()
        }
    }
}
