import QtQuick
import QtQuick.Controls

// The one big call to action of a screen: a rounded pill in a strong colour,
// optionally with a symbol before its label. Dimmed while disabled.
Button {
    id: button

    property color tint: Theme.accentPink
    property color labelColor: "white"
    property string symbol: ""
    property bool filled: true

    implicitHeight: 56
    implicitWidth: Math.max(200, row.implicitWidth + 48)
    font.family: Theme.fontFamily
    font.pixelSize: 18
    font.weight: Font.DemiBold
    opacity: enabled ? 1 : 0.4

    contentItem: Item {
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 10
            SymbolIcon {
                anchors.verticalCenter: parent.verticalCenter
                visible: button.symbol.length > 0
                symbol: button.symbol
                size: 18
                color: button.labelColor
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: button.text
                font: button.font
                color: button.labelColor
            }
        }
    }

    background: Rectangle {
        radius: height / 2
        color: button.filled ? (button.down ? Qt.darker(button.tint, 1.2) : button.tint)
                             : Qt.rgba(1, 1, 1, button.down ? 0.16 : 0.1)
        border.width: button.visualFocus ? 2 : 0
        border.color: "white"
        Behavior on color { ColorAnimation { duration: 120 } }
    }
}
