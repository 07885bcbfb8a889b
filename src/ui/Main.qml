import QtQuick
import QtQuick.Controls

// The one main window: onboarding until it is finished, then the main view.
ApplicationWindow {
    id: window
    title: "quillmoss"
    // Onboarding lays its pages out for a wider window than the main view.
    readonly property size mainMinimum: Qt.size(400, 750)
    readonly property size onboardingMinimum: Qt.size(800, 600)
    // Set by fitToMode(), so the limits change before the size does.
    minimumWidth: mainMinimum.width
    minimumHeight: mainMinimum.height
    width: mainMinimum.width
    height: mainMinimum.height
    visible: true
    color: Theme.bgGradientEnd
    font.family: Theme.fontFamily
    font.pixelSize: Theme.bodySize

    readonly property bool onboarding: !appSettings.hasCompletedOnboarding

    property bool _widenedForOnboarding: false

    // Brings the window up to the current minimum. When onboarding ends, a
    // window still at onboarding's width goes back to the main view's; one
    // the user made wider keeps its size.
    function fitToMode() {
        const limit = onboarding ? onboardingMinimum : mainMinimum
        minimumWidth = limit.width
        minimumHeight = limit.height
        if (onboarding) {
            _widenedForOnboarding = true
        } else if (_widenedForOnboarding) {
            _widenedForOnboarding = false
            if (width <= onboardingMinimum.width) width = mainMinimum.width
        }
        width = Math.max(width, limit.width)
        height = Math.max(height, limit.height)
    }
    onOnboardingChanged: fitToMode()
    Component.onCompleted: fitToMode()

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
