import QtQuick
import QtQuick.Controls

// A round button carrying one symbol (the settings gear, sheet chevrons).
AbstractButton {
    id: button
    property string symbol
    property real symbolSize: 20
    property color symbolColor: "white"
    property color fill: Qt.rgba(1, 1, 1, 0.1)

    implicitWidth: 44
    implicitHeight: 44
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    scale: down ? 0.92 : 1
    Behavior on scale { NumberAnimation { duration: 100 } }

    background: Rectangle {
        radius: width / 2
        color: button.fill
        border.width: button.visualFocus ? 2 : 0
        border.color: Qt.rgba(1, 1, 1, 0.6)
        Rectangle {
            anchors.fill: parent
            radius: parent.radius
            color: "white"
            opacity: button.down ? 0.15 : button.hovered ? 0.08 : 0
        }
    }
    contentItem: Item {
        SymbolIcon {
            anchors.centerIn: parent
            symbol: button.symbol
            size: button.symbolSize
            color: button.symbolColor
        }
    }
}
