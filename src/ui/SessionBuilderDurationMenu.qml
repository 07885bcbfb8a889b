import QtQuick
import QtQuick.Controls

// "Custom Duration": the lengths a held add button offers, in steps of five
// minutes up to `maxMinutes`.
Popup {
    id: menu

    property string blockType: "Study"
    property int maxMinutes: 55
    property color tint: Theme.accentPink

    signal chosen(int minutes)

    readonly property var minuteChoices: {
        const list = []
        for (let m = 5; m <= maxMinutes; m += 5) list.push(m)
        return list
    }

    modal: true
    focus: true
    padding: 16
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    font.family: Theme.fontFamily

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.4) }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 140 }
        NumberAnimation { property: "scale"; from: 0.92; to: 1; duration: 140; easing.type: Easing.OutQuad }
    }
    exit: Transition { NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 100 } }

    background: Rectangle {
        radius: 20
        color: "#1f1f26"
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    contentItem: Column {
        spacing: 12
        Text {
            objectName: "durationMenuTitle"
            text: "Custom Duration"
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
            font.weight: Font.Medium
        }
        Grid {
            id: grid
            columns: 4
            spacing: 8
            readonly property real cell: (parent.width - spacing * (columns - 1)) / columns
            Repeater {
                model: menu.minuteChoices
                delegate: Button {
                    id: item
                    required property int modelData
                    objectName: "durationItem:" + modelData
                    text: modelData + " min"
                    width: grid.cell
                    height: 40
                    font.family: Theme.fontFamily
                    font.pixelSize: 15
                    onClicked: {
                        menu.close()
                        menu.chosen(modelData)
                    }
                    contentItem: Text {
                        text: item.text
                        font: item.font
                        color: "white"
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle {
                        radius: 12
                        color: item.down ? Qt.darker(menu.tint, 1.3) : Qt.rgba(menu.tint.r, menu.tint.g, menu.tint.b, 0.22)
                        border.color: Qt.rgba(menu.tint.r, menu.tint.g, menu.tint.b, 0.5)
                    }
                }
            }
        }
    }
}
