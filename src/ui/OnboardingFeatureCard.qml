import QtQuick

// One card of the feature overview: symbol, title, text and an optional hint.
Rectangle {
    id: card

    property string symbol
    property string title
    property string text
    property string hint
    property color tint: Theme.accentPink

    width: parent ? parent.width : 400
    height: body.implicitHeight + 32
    radius: 20
    color: Qt.rgba(1, 1, 1, 0.06)
    border.color: Qt.rgba(1, 1, 1, 0.06)

    Row {
        x: 16
        y: 16
        width: card.width - 32
        spacing: 14

        Rectangle {
            width: 44
            height: 44
            radius: 12
            color: Qt.rgba(card.tint.r, card.tint.g, card.tint.b, 0.18)
            SymbolIcon { anchors.centerIn: parent; symbol: card.symbol; size: 24; color: card.tint }
        }

        Column {
            id: body
            width: parent.width - 58
            spacing: 6
            Text {
                width: parent.width
                text: card.title
                color: Theme.textPrimary
                font.family: Theme.fontFamily
                font.pixelSize: 20
                font.weight: Font.DemiBold
                wrapMode: Text.WordWrap
            }
            Text {
                width: parent.width
                text: card.text
                color: Qt.rgba(1, 1, 1, 0.7)
                font.family: Theme.fontFamily
                font.pixelSize: 16
                wrapMode: Text.WordWrap
                lineHeight: 1.1
            }
            Row {
                visible: card.hint.length > 0
                width: parent.width
                spacing: 6
                topPadding: 2
                SymbolIcon { symbol: "info.circle.fill"; size: 14; color: Qt.rgba(1, 1, 1, 0.45); y: 1 }
                Text {
                    width: parent.width - 20
                    text: card.hint
                    color: Qt.rgba(1, 1, 1, 0.45)
                    font.family: Theme.fontFamily
                    font.pixelSize: 14
                    wrapMode: Text.WordWrap
                }
            }
        }
    }
}
