import QtQuick
import QtQuick.Controls

// An add button of the builder: a click appends a block of the default
// length, holding it offers the custom lengths.
Button {
    id: button

    property color tint: Theme.accentPink
    property string symbol: "plus"

    implicitHeight: 64
    font.family: Theme.fontFamily
    font.pixelSize: 15
    font.weight: Font.Medium

    contentItem: Item {
        implicitWidth: label.implicitWidth
        Column {
            anchors.centerIn: parent
            width: parent.width
            spacing: 4
            SymbolIcon {
                anchors.horizontalCenter: parent.horizontalCenter
                symbol: button.symbol
                size: 18
                color: button.tint
            }
            Text {
                id: label
                width: parent.width
                text: button.text
                font: button.font
                color: "white"
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideRight
            }
        }
    }

    background: Rectangle {
        radius: 16
        color: Qt.rgba(button.tint.r, button.tint.g, button.tint.b, button.down ? 0.32 : 0.16)
        border.color: Qt.rgba(button.tint.r, button.tint.g, button.tint.b, 0.45)
        border.width: 1
        Behavior on color { ColorAnimation { duration: 120 } }
    }
}
