import QtQuick

// A plan drawn as one bar: each block a segment, in plan order, as wide as
// its share of the plan's length; study in the accent colour, breaks green.
Item {
    id: strip
    // SessionBlock values (isStudy, duration).
    property var blocks: []
    property real gap: 3
    readonly property real total: {
        let sum = 0
        for (let i = 0; i < blocks.length; ++i) sum += Math.max(0, blocks[i].duration)
        return sum
    }

    implicitHeight: 12

    Row {
        anchors.fill: parent
        spacing: strip.gap
        Repeater {
            model: strip.blocks
            delegate: Rectangle {
                required property var modelData
                readonly property real share: strip.total > 0 ? Math.max(0, modelData.duration) / strip.total
                                                               : 1 / strip.blocks.length
                width: Math.max(2, share * (strip.width - strip.gap * (strip.blocks.length - 1)))
                height: strip.height
                radius: Math.min(height / 2, width / 2)
                color: modelData.isStudy ? Theme.studyColor : Theme.breakColor
            }
        }
    }
}
