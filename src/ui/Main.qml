import QtQuick
import QtQuick.Controls

// The one main window: onboarding until it is finished, then the main view.
ApplicationWindow {
    id: window
    title: "quillmoss"
    minimumWidth: 400
    minimumHeight: 750
    width: 400
    height: 750
    visible: true
    color: Theme.bgGradientEnd
    font.family: Theme.fontFamily
    font.pixelSize: Theme.bodySize

    readonly property bool onboarding: !appSettings.hasCompletedOnboarding

    Loader {
        id: onboardingLoader
        anchors.fill: parent
        active: opacity > 0
        opacity: window.onboarding ? 1 : 0
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 250 } }
        source: "OnboardingView.qml"
    }
    Loader {
        id: mainLoader
        anchors.fill: parent
        active: opacity > 0
        opacity: window.onboarding ? 0 : 1
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 250 } }
        source: "MainView.qml"
    }
}
