import QtQuick
import QtTest
import Quillmoss

TestCase {
    id: testCase
    name: "Onboarding"
    when: windowShown
    // Mouse events only reach visible items.
    visible: true
    width: 800
    height: 750

    Component { id: onboardingComponent; OnboardingView { width: 800; height: 750 } }

    // A permission request that answers later, as the system prompt does.
    Component {
        id: laterAnswer
        QtObject {
            property int requests: 0
            signal accessibilityPermissionAnswered(bool granted)
            function requestAccessibilityPermission() { ++requests }
        }
    }
    // One that answers before it returns.
    Component {
        id: immediateAnswer
        QtObject {
            property int requests: 0
            function requestAccessibilityPermission() { ++requests }
        }
    }

    function init() {
        testHarness.reset()
    }

    function control(view, name) {
        const found = findChild(view, name)
        verify(found, name)
        return found
    }

    // The flow with a permission request that answers at once, unless the
    // test brings its own.
    function open(properties) {
        const props = properties || {}
        if (!("permissionSource" in props)) props.permissionSource = createTemporaryObject(immediateAnswer, testCase)
        const view = createTemporaryObject(onboardingComponent, testCase, props)
        verify(view)
        return view
    }

    // Walks to the given page through the buttons, then lets the slide settle.
    function walkTo(view, step) {
        const buttons = ["getStartedButton", "featuresContinueButton", "grantPermissionsButton",
                         "distractionsContinueButton"]
        for (let i = view.currentStep; i < step; ++i) {
            control(view, buttons[i]).clicked()
            compare(view.currentStep, i + 1)
        }
        tryCompare(view, "position", step)
    }

    function test_pagesMoveForwardOneAtATime() {
        const view = open()
        compare(view.currentStep, 0)
        mouseClick(control(view, "getStartedButton"))
        compare(view.currentStep, 1)
        walkTo(view, 4)
        verify(control(view, "namePage").visible)
        verify(!control(view, "welcomePage").visible)
        verify(!appSettings.hasCompletedOnboarding)
    }

    function test_permissionPageWaitsForTheAnswerWhateverItIs() {
        const source = createTemporaryObject(laterAnswer, testCase)
        const view = open({ permissionSource: source })
        walkTo(view, 2)
        const grant = control(view, "grantPermissionsButton")
        mouseClick(grant)
        compare(source.requests, 1)
        compare(view.currentStep, 2)
        verify(!grant.enabled)
        view.grantPermissions()
        compare(source.requests, 1)
        source.accessibilityPermissionAnswered(false)
        compare(view.currentStep, 3)
        verify(grant.enabled)
    }

    function test_permissionPageMovesOnWithoutAWaitingRequest() {
        const source = createTemporaryObject(immediateAnswer, testCase)
        let view = open({ permissionSource: source })
        walkTo(view, 3)
        compare(source.requests, 1)
        // Without any way to ask, the page still moves on.
        view = open({ permissionSource: null })
        walkTo(view, 3)
    }

    function test_summaryOnlyForANonEmptySelection() {
        const view = open()
        walkTo(view, 3)
        const summary = control(view, "selectionSummary")
        testHarness.setSelection(["org.gnome.Calculator", "firefox"], ["youtube.com"])
        verify(summary.visible)
        compare(summary.text, "2 apps, 1 sites selected")
        testHarness.setSelection([], [])
        verify(!summary.visible)
    }

    function test_noAllowedAppWarnsBeforeMovingOn() {
        testHarness.setSelection([], ["youtube.com"])
        const view = open()
        walkTo(view, 3)
        const warning = control(view, "selectionWarning")
        mouseClick(control(view, "distractionsContinueButton"))
        tryVerify(() => warning.opened)
        compare(warning.title, "No Selection Made")
        compare(warning.message, "If you don't select any allowed apps, EVERYTHING except basic system apps (Phone, Maps, etc.) and quillmoss will be blocked during sessions.")
        mouseClick(findChild(warning.contentItem, "alertButton:Cancel"))
        tryVerify(() => !warning.visible)
        compare(view.currentStep, 3)
        mouseClick(control(view, "distractionsContinueButton"))
        tryVerify(() => warning.opened)
        mouseClick(findChild(warning.contentItem, "alertButton:Continue Anyway"))
        compare(view.currentStep, 4)
    }

    function test_finishNeedsAName() {
        const view = open()
        walkTo(view, 4)
        const field = control(view, "nameField")
        const finish = control(view, "finishButton")
        tryVerify(() => field.activeFocus)
        verify(!finish.enabled)
        mouseClick(finish)
        keyClick(Qt.Key_Return)
        verify(!appSettings.hasCompletedOnboarding)

        keyClick("A")
        compare(appSettings.userName, "A")
        compare(testHarness.preference("userName"), "A")
        verify(finish.enabled)
        keyClick(Qt.Key_Return)
        verify(appSettings.hasCompletedOnboarding)
    }

    function test_finishButtonWithOneCharacter() {
        const view = open()
        walkTo(view, 4)
        tryVerify(() => control(view, "nameField").activeFocus)
        keyClick("Z")
        mouseClick(control(view, "finishButton"))
        verify(appSettings.hasCompletedOnboarding)
        compare(testHarness.preference("hasCompletedOnboarding"), true)
    }

    function test_selectOpensThePickerSheet() {
        const view = open()
        walkTo(view, 3)
        const sheet = control(view, "pickerSheet")
        mouseClick(control(view, "selectAppsButton"))
        tryVerify(() => sheet.opened)
        keyClick(Qt.Key_Escape)
        tryVerify(() => !sheet.visible)
        compare(view.currentStep, 3)
    }
}
