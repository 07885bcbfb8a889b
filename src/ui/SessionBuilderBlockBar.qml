import QtQuick

// The plan as one horizontal bar: a segment per block in plan order, each as
// wide as its share of the total, less a 2-pixel gap.
Item {
    id: bar

    property alias model: segments.model
    property real totalDuration: 0

    implicitHeight: 60

    Rectangle {
        anchors.fill: parent
        radius: 14
        color: Qt.rgba(1, 1, 1, 0.05)
        border.color: Qt.rgba(1, 1, 1, 0.06)
    }

    Text {
        anchors.centerIn: parent
        visible: segments.count === 0
        text: "Add a block to begin"
        color: Qt.rgba(1, 1, 1, 0.35)
        font.family: Theme.fontFamily
        font.pixelSize: 14
    }

    Row {
        id: row
        anchors.fill: parent
        spacing: 2

        Repeater {
            id: segments
            delegate: Rectangle {
                id: segment
                required property string type
                required property real duration
                objectName: "blockSegment"
                readonly property real targetWidth: bar.totalDuration > 0
                    ? Math.max(0, duration / bar.totalDuration * bar.width - 2) : 0
                // Grows in from nothing when appended.
                property real grown: 0
                width: targetWidth * grown
                height: row.height
                radius: 10
                color: type === "Study" ? Theme.studyColor : Theme.breakColor
                Behavior on width { NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
                Component.onCompleted: grown = 1

                Text {
                    anchors.centerIn: parent
                    visible: segment.width > implicitWidth + 10
                    text: Math.floor(segment.duration / 60) + "m"
                    color: "white"
                    font.family: Theme.fontFamily
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                }
            }
        }
    }
}
