import QtQuick

// Page 2: the permission that blocking needs.
OnboardingPage {
    id: page

    property bool busy: false
    signal grantClicked()

    spacing: 0

    OnboardingText {
        text: "quillmoss"
        color: Theme.accentPink
        font.pixelSize: 24
        font.weight: Font.DemiBold
    }
    OnboardingText {
        text: "Focus, Locked In."
        font.pixelSize: 36
        font.weight: Font.Bold
        topPadding: 4
    }

    // The lock, ringed by the kinds of distraction it keeps away.
    Item {
        id: emblem
        anchors.horizontalCenter: parent.horizontalCenter
        readonly property real side: Math.min(320, parent.width)
        readonly property real orbit: side / 2 - 20
        width: side
        height: side

        Rectangle {
            anchors.centerIn: parent
            width: 200 * emblem.side / 320
            height: width
            radius: width / 2
            color: Qt.rgba(1, 1, 1, 0.05)
            SymbolIcon { anchors.centerIn: parent; symbol: "lock.fill"; size: 80; color: "white" }
        }

        Repeater {
            model: ["bubble.left.and.bubble.right.fill", "person.2.fill", "eye.fill",
                    "laptopcomputer.and.iphone", "hand.raised.fill"]
            delegate: SymbolIcon {
                required property string modelData
                required property int index
                readonly property real angle: 2 * Math.PI * index / 5
                symbol: modelData
                size: 28
                color: Qt.rgba(0.56, 0.56, 0.58, 0.5)
                x: emblem.side / 2 + emblem.orbit * Math.cos(angle) - size / 2
                y: emblem.side / 2 + emblem.orbit * Math.sin(angle) - size / 2
            }
        }
    }

    OnboardingText {
        text: "We need permission to block distracting apps during your session."
        color: Qt.rgba(1, 1, 1, 0.7)
        font.pixelSize: 17
    }
    Item { width: 1; height: 32 }
    SessionPrimaryButton {
        objectName: "grantPermissionsButton"
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width, 320)
        text: "Grant Permissions"
        enabled: !page.busy
        onClicked: page.grantClicked()
    }
}
