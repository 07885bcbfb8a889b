import QtQuick

// Page 3: the allowed apps and blocked sites.
OnboardingPage {
    id: page

    readonly property int appCount: focusManager.allowedApps.length
    readonly property int siteCount: focusManager.blockedSites.length

    signal selectClicked()
    signal continueClicked()

    spacing: 0

    OnboardingText {
        text: "Distractions"
        font.pixelSize: 32
        font.weight: Font.Bold
    }
    Item { width: 1; height: 14 }
    OnboardingText {
        text: "We've enabled sensible defaults for you (Productivity apps allowed, Social Media blocked)."
        color: Qt.rgba(1, 1, 1, 0.75)
        font.pixelSize: 20
    }
    Item { width: 1; height: 10 }
    OnboardingText {
        text: "Click below to customize your selection."
        color: Qt.rgba(1, 1, 1, 0.55)
        font.pixelSize: 16
    }
    Item { width: 1; height: 32 }
    SessionPrimaryButton {
        objectName: "selectAppsButton"
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width, 320)
        text: "Select Apps & Sites"
        symbol: "hand.raised.fill"
        filled: false
        onClicked: page.selectClicked()
    }
    Item { width: 1; height: 14 }
    OnboardingText {
        objectName: "selectionSummary"
        visible: page.appCount > 0 || page.siteCount > 0
        text: qsTr("%1 apps, %2 sites selected").arg(page.appCount).arg(page.siteCount)
        color: Theme.accentPink
        font.pixelSize: 16
    }
    Item { width: 1; height: 6 }
    OnboardingText {
        text: "You can change this later in Settings"
        color: Qt.rgba(1, 1, 1, 0.4)
        font.pixelSize: 14
    }
    Item { width: 1; height: 32 }
    SessionPrimaryButton {
        objectName: "distractionsContinueButton"
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width, 320)
        text: "Continue"
        onClicked: page.continueClicked()
    }
}
