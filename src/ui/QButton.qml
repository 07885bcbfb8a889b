import QtQuick
import QtQuick.Controls

// A pill-shaped text button; `prominent` fills it with the accent colour.
AbstractButton {
    id: button
    property bool prominent: false

    implicitWidth: Math.max(64, label.implicitWidth + leftPadding + rightPadding)
    implicitHeight: 36
    leftPadding: 16
    rightPadding: 16
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    opacity: enabled ? 1 : 0.4

    background: Rectangle {
        radius: height / 2
        color: button.prominent ? Theme.accentPink : Qt.rgba(1, 1, 1, 0.1)
        border.width: button.visualFocus ? 2 : 0
        border.color: Qt.rgba(1, 1, 1, 0.6)
        Rectangle {
            anchors.fill: parent
            radius: parent.radius
            color: "white"
            opacity: button.down ? 0.15 : button.hovered ? 0.07 : 0
        }
    }
    contentItem: QLabel {
        id: label
        text: button.text
        font.pixelSize: 15
        font.weight: button.prominent ? Font.DemiBold : Font.Normal
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
}
