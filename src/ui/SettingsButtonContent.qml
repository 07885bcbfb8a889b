import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One settings entry: a tinted symbol tile, the title over its subtitle and
// a chevron, on a faint rounded card. The whole row is the button.
AbstractButton {
    id: row
    property string title
    property string subtitle
    // The symbol's name (see Symbols) and its tint.
    property string symbol
    property color color: Theme.palette["grey"]

    implicitHeight: 76
    padding: 14
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    Accessible.name: title

    background: Rectangle {
        radius: 16
        color: Qt.rgba(1, 1, 1, row.down ? 0.11 : row.hovered ? 0.08 : 0.05)
        border.width: row.visualFocus ? 2 : 0
        border.color: Qt.rgba(1, 1, 1, 0.5)
    }

    contentItem: RowLayout {
        spacing: 16
        Rectangle {
            Layout.preferredWidth: 48
            Layout.preferredHeight: 48
            radius: 12
            color: Qt.rgba(row.color.r, row.color.g, row.color.b, 0.1)
            SymbolIcon {
                anchors.centerIn: parent
                symbol: row.symbol
                size: 22
                color: row.color
            }
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            QLabel {
                Layout.fillWidth: true
                text: row.title
                font.pixelSize: 17
                font.weight: Font.Medium
                elide: Text.ElideRight
            }
            QLabel {
                Layout.fillWidth: true
                visible: text.length > 0
                text: row.subtitle
                font.pixelSize: 13
                color: Theme.textSecondary
                elide: Text.ElideRight
            }
        }
        SymbolIcon {
            symbol: "chevron.right"
            size: 14
            color: Theme.textSecondary
        }
    }
}
