import QtQuick

// Page 1: what the app can do.
OnboardingPage {
    id: page

    signal continueClicked()

    spacing: 12

    OnboardingText {
        text: "What's Possible"
        font.pixelSize: 32
        font.weight: Font.Bold
        bottomPadding: 4
    }
    OnboardingFeatureCard {
        symbol: "laptopcomputer.and.iphone"
        title: "Device Sync"
        text: "Once linked, starting a session on your Mac, iPhone, or iPad locks the other devices automatically."
        hint: "Go to Settings > Link Device"
        tint: Theme.palette.blue
    }
    OnboardingFeatureCard {
        symbol: "person.3.fill"
        title: "Group Sessions"
        text: "Create a lobby with friends, study together, and when one person starts a session, everyone locks in."
        hint: "Click 'Join' to scan a QR code, or use the QR button in the session builder to host."
        tint: Theme.palette.purple
    }
    OnboardingFeatureCard {
        symbol: "slider.horizontal.3"
        title: "Custom Sessions"
        text: "Build your perfect flow & choose apps to block.\nDesign your own intervals, track your stats over time, block distracting websites, and whitelist only the apps you need."
        tint: Theme.accentPink
    }
    OnboardingText {
        text: "...and much more to come!"
        color: Qt.rgba(1, 1, 1, 0.55)
        font.pixelSize: 16
        topPadding: 4
    }
    SessionPrimaryButton {
        objectName: "featuresContinueButton"
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width, 320)
        text: "Continue"
        onClicked: page.continueClicked()
    }
}
