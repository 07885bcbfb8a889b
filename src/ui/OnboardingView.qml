import QtQuick
import QtQuick.Controls

// The first-run flow: welcome, features, the accessibility permission, the
// blocking selection and the user's name. Finishing sets
// appSettings.hasCompletedOnboarding, after which the window shows the main
// view. Pages only move forward, one per button, sliding in from the
// trailing edge.
Item {
    id: onboarding

    // 0 welcome, 1 features, 2 permissions, 3 distractions, 4 name.
    property int currentStep: 0
    readonly property int pageCount: 5
    // Where the accessibility request goes; the engine, or a stand-in in tests.
    property var permissionSource: focusManager
    // The permission request is under way.
    property bool awaitingPermission: false

    // Animated towards currentStep; the pages are laid out around it.
    property real position: currentStep
    Behavior on position { NumberAnimation { duration: 400; easing.type: Easing.InOutQuad } }

    function advance(step) {
        if (step > currentStep && step < pageCount) currentStep = step
    }

    function finish() {
        appSettings.hasCompletedOnboarding = true
    }

    // Moves on once the request has come back, whatever the answer. A source
    // that answers later announces it with accessibilityPermissionAnswered().
    function grantPermissions() {
        if (awaitingPermission || currentStep !== 2) return
        const source = permissionSource
        if (!source || typeof source.requestAccessibilityPermission !== "function") {
            advance(3)
            return
        }
        const answered = source.accessibilityPermissionAnswered
        if (answered && typeof answered.connect === "function") {
            awaitingPermission = true
            const onAnswer = function() {
                answered.disconnect(onAnswer)
                awaitingPermission = false
                advance(3)
            }
            answered.connect(onAnswer)
            source.requestAccessibilityPermission()
        } else {
            source.requestAccessibilityPermission()
            advance(3)
        }
    }

    // With nothing allowed, everything but the system's basics is blocked:
    // make sure that is meant.
    function continueFromDistractions() {
        if (focusManager.allowedApps.length === 0) selectionWarning.open()
        else advance(4)
    }

    onCurrentStepChanged: if (currentStep === 4) namePage.nameField.forceActiveFocus()

    SessionBackground {}

    Item {
        id: track
        anchors { left: parent.left; right: parent.right; top: parent.top; bottom: dots.top; bottomMargin: 8 }
        clip: true
        // Leading and trailing swap in right-to-left layouts.
        readonly property real direction: LayoutMirroring.enabled ? -1 : 1

        OnboardingWelcomePage {
            id: welcomePage
            readonly property int step: 0
            objectName: "welcomePage"
            width: track.width; height: track.height
            x: (step - onboarding.position) * track.width * track.direction
            visible: Math.abs(step - onboarding.position) < 1
            onGetStarted: onboarding.advance(1)
        }
        OnboardingFeaturesPage {
            readonly property int step: 1
            objectName: "featuresPage"
            width: track.width; height: track.height
            x: (step - onboarding.position) * track.width * track.direction
            visible: Math.abs(step - onboarding.position) < 1
            onContinueClicked: onboarding.advance(2)
        }
        OnboardingPermissionsPage {
            readonly property int step: 2
            objectName: "permissionsPage"
            width: track.width; height: track.height
            x: (step - onboarding.position) * track.width * track.direction
            visible: Math.abs(step - onboarding.position) < 1
            busy: onboarding.awaitingPermission
            onGrantClicked: onboarding.grantPermissions()
        }
        OnboardingDistractionsPage {
            readonly property int step: 3
            objectName: "distractionsPage"
            width: track.width; height: track.height
            x: (step - onboarding.position) * track.width * track.direction
            visible: Math.abs(step - onboarding.position) < 1
            onSelectClicked: pickerSheet.open()
            onContinueClicked: onboarding.continueFromDistractions()
        }
        OnboardingNamePage {
            id: namePage
            readonly property int step: 4
            objectName: "namePage"
            width: track.width; height: track.height
            x: (step - onboarding.position) * track.width * track.direction
            visible: Math.abs(step - onboarding.position) < 1
            onFinishClicked: onboarding.finish()
        }
    }

    // Page dots.
    Row {
        id: dots
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 18
        spacing: 8
        Repeater {
            model: onboarding.pageCount
            delegate: Rectangle {
                required property int index
                width: index === onboarding.currentStep ? 22 : 8
                height: 8
                radius: 4
                color: index === onboarding.currentStep ? Theme.accentPink : Qt.rgba(1, 1, 1, 0.2)
                Behavior on width { NumberAnimation { duration: 250 } }
            }
        }
    }

    OnboardingPickerSheet {
        id: pickerSheet
        objectName: "pickerSheet"
    }

    SessionAlert {
        id: selectionWarning
        objectName: "selectionWarning"
        title: "No Selection Made"
        message: "If you don't select any allowed apps, EVERYTHING except basic system apps (Phone, Maps, etc.) and quillmoss will be blocked during sessions."
        buttons: [{ text: "Cancel", role: "cancel" }, { text: "Continue Anyway", role: "destructive" }]
        onButtonClicked: text => { if (text === "Continue Anyway") onboarding.advance(4) }
    }
}
