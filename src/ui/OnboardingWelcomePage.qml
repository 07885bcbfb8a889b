import QtQuick

// Page 0: who we are.
OnboardingPage {
    id: page

    signal getStarted()

    spacing: 0

    Rectangle {
        anchors.horizontalCenter: parent.horizontalCenter
        width: 120
        height: 120
        radius: 36
        color: Qt.rgba(Theme.accentPink.r, Theme.accentPink.g, Theme.accentPink.b, 0.15)
        SymbolIcon { anchors.centerIn: parent; symbol: "logo"; size: 64; color: Theme.accentPink }
    }
    Item { width: 1; height: 28 }
    OnboardingText {
        text: "Welcome to"
        color: Qt.rgba(1, 1, 1, 0.7)
        font.pixelSize: 26
    }
    OnboardingText {
        text: "quillmoss"
        color: Theme.accentPink
        font.pixelSize: 52
        font.weight: Font.Bold
    }
    Item { width: 1; height: 14 }
    OnboardingText {
        text: "Structure your study, lock out distractions, and achieve your goals"
        color: Qt.rgba(1, 1, 1, 0.7)
        font.pixelSize: 18
    }
    Item { width: 1; height: 40 }
    SessionPrimaryButton {
        objectName: "getStartedButton"
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width, 320)
        text: "Get Started"
        onClicked: page.getStarted()
    }
    Item { width: 1; height: 18 }
    Text {
        objectName: "privacyLink"
        anchors.horizontalCenter: parent.horizontalCenter
        text: "Privacy Policy"
        color: Qt.rgba(1, 1, 1, privacyArea.containsMouse ? 0.85 : 0.5)
        font.family: Theme.fontFamily
        font.pixelSize: 14
        font.underline: true
        MouseArea {
            id: privacyArea
            anchors.fill: parent
            anchors.margins: -6
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: Qt.openUrlExternally("https://quillmoss.app/privacy")
        }
    }
}
