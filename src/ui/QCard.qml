import QtQuick
import QtQuick.Controls

// A pressable rounded card. Put the card's content in `contentItem`.
AbstractButton {
    id: card
    property color fill: Qt.rgba(1, 1, 1, 0.1)
    // Set to run the fill into this colour from left to right.
    property color fillEnd: fill
    property real radius: 30

    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    padding: 16
    scale: down ? 0.97 : 1
    Behavior on scale { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }

    background: Rectangle {
        radius: card.radius
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: card.fill }
            GradientStop { position: 1; color: card.fillEnd }
        }
        border.width: card.visualFocus ? 2 : 1
        border.color: card.visualFocus ? Qt.rgba(1, 1, 1, 0.6) : Qt.rgba(1, 1, 1, card.hovered ? 0.18 : 0.07)
        // Press and hover feedback over any fill colour.
        Rectangle {
            anchors.fill: parent
            radius: parent.radius
            color: "white"
            opacity: card.down ? 0.1 : card.hovered ? 0.05 : 0
            Behavior on opacity { NumberAnimation { duration: 120 } }
        }
    }
}
