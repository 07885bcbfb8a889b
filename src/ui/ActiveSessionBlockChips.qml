import QtQuick

// The running plan as a row of chips in plan order ("Study 25m"), the
// current block's chip highlighted. Wraps onto more lines when narrow.
Flow {
    id: chips

    property var blocks: []
    property int currentIndex: -1

    spacing: 8

    // The width of all chips on one line, so a host can centre a short row.
    readonly property real naturalWidth: {
        let sum = 0
        for (let i = 0; i < children.length; ++i)
            if (children[i].objectName === "blockChip") sum += children[i].width + spacing
        return Math.max(0, sum - spacing)
    }

    Repeater {
        model: chips.blocks
        delegate: Rectangle {
            id: chip
            required property var modelData
            required property int index
            readonly property bool isCurrent: index === chips.currentIndex
            readonly property bool isStudy: modelData.type === "Study"
            readonly property color tint: isStudy ? Theme.studyColor : Theme.breakColor
            readonly property string label: modelData.type + " " + Math.floor(modelData.duration / 60) + "m"
            objectName: "blockChip"
            width: chipText.implicitWidth + 28
            height: 34
            radius: 17
            color: isCurrent ? tint : Qt.rgba(1, 1, 1, 0.07)
            border.width: isCurrent ? 0 : 1
            border.color: Qt.rgba(tint.r, tint.g, tint.b, 0.45)
            Behavior on color { ColorAnimation { duration: 250 } }

            Text {
                id: chipText
                anchors.centerIn: parent
                text: chip.label
                color: chip.isCurrent ? "white" : Qt.rgba(1, 1, 1, 0.75)
                font.family: Theme.fontFamily
                font.pixelSize: 14
                font.weight: chip.isCurrent ? Font.DemiBold : Font.Normal
            }
        }
    }
}
