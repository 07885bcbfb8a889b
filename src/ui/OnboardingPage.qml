import QtQuick

// One page of onboarding: a centred column that scrolls when the window is
// too short for it.
Flickable {
    id: page

    default property alias content: column.data
    property alias spacing: column.spacing
    readonly property real columnWidth: column.width

    contentWidth: width
    contentHeight: Math.max(height, column.implicitHeight + 64)
    boundsBehavior: Flickable.StopAtBounds
    clip: true

    Column {
        id: column
        width: Math.min(560, page.width - 48)
        x: (page.width - width) / 2
        y: Math.max(32, (page.height - implicitHeight) / 2)
        spacing: 16
    }
}
