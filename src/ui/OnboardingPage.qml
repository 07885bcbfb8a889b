import QtQuick
import QtQuick.Controls

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
    ScrollIndicator.vertical: ScrollIndicator {}

    // A fade at the bottom edge while more of the page lies below it.
    Rectangle {
        parent: page
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
        height: 48
        visible: page.contentY + page.height < page.contentHeight - 1
        gradient: Gradient {
            GradientStop { position: 0; color: "transparent" }
            GradientStop { position: 1; color: Theme.bgGradientEnd }
        }
    }

    Column {
        id: column
        width: Math.min(560, page.width - 48)
        x: (page.width - width) / 2
        y: Math.max(32, (page.height - implicitHeight) / 2)
        spacing: 16
    }
}
