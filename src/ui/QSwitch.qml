import QtQuick
import QtQuick.Controls

// A switch tinted with the accent colour. It does not flip itself: it shows
// `checked` as bound and reports a press through clicked(), so the owner
// decides (and may ask first).
Switch {
    id: control
    checkable: false
    focusPolicy: Qt.StrongFocus
    implicitWidth: 51
    implicitHeight: 31
    padding: 0

    indicator: Rectangle {
        implicitWidth: 51
        implicitHeight: 31
        x: control.leftPadding
        y: parent.height / 2 - height / 2
        radius: height / 2
        color: control.checked ? Theme.accentPink : Qt.rgba(1, 1, 1, 0.16)
        border.width: control.visualFocus ? 2 : 0
        border.color: Qt.rgba(1, 1, 1, 0.6)
        Behavior on color { ColorAnimation { duration: 150 } }

        Rectangle {
            width: 27
            height: 27
            radius: height / 2
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: control.down ? "#e6e6e6" : "white"
            Behavior on x { NumberAnimation { duration: 150; easing.type: Easing.OutCubic } }
        }
    }
    contentItem: Item {}
}
