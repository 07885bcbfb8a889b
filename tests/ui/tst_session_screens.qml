import QtQuick
import QtTest
import Quillmoss

TestCase {
    id: testCase
    name: "SessionScreens"
    when: windowShown
    // Mouse events only reach visible items.
    visible: true
    width: 400
    height: 750

    Component { id: activeComponent; ActiveSessionView { width: 400; height: 750 } }
    Component { id: previewComponent; PreviewSessionView { width: 400; height: 750 } }
    Component { id: completedComponent; SessionCompletedView { width: 400; height: 750 } }

    readonly property int minute: 60 * 1000

    function init() {
        testHarness.reset()
    }

    // A screen, laid out before anything is clicked.
    function show(component) {
        const view = createTemporaryObject(component, testCase)
        verify(view)
        waitForRendering(view)
        return view
    }

    function start(blocks, duration) {
        verify(focusManager.startSessionWithBlocks("Math", blocks, duration === undefined ? -1 : duration))
    }

    function textOf(item, name) {
        const found = findChild(item, name)
        verify(found, name)
        return found.text
    }

    function currentChips(view) {
        const chips = findChild(view, "blockChips")
        const labels = []
        for (let i = 0; i < chips.children.length; ++i) {
            const chip = chips.children[i]
            if (chip.objectName === "blockChip") labels.push((chip.isCurrent ? "*" : "") + chip.label)
        }
        return labels.join(" ")
    }

    function test_stageAndTimeAcrossABlockBoundary() {
        start([{ type: "Study", duration: 1500 }, { type: "Break", duration: 300 }, { type: "Study", duration: 1500 }])
        const view = show(activeComponent)
        testHarness.advance(1499 * 1000)
        compare(textOf(view, "stageText"), "Current Stage: Study")
        compare(textOf(view, "timeText"), "00:01")
        compare(currentChips(view), "*Study 25m Break 5m Study 25m")
        testHarness.advance(1000)
        compare(textOf(view, "stageText"), "Current Stage: Break")
        compare(textOf(view, "timeText"), "05:00")
        compare(currentChips(view), "Study 25m *Break 5m Study 25m")
    }

    function test_longBlockShowsMinutesWithoutHours() {
        start([{ type: "Study", duration: 5400 }])
        const view = show(activeComponent)
        testHarness.advance(1000)
        compare(textOf(view, "timeText"), "89:59")
    }

    // A session whose end comes before its plan runs out is ended by this
    // screen's tick (the engine's own tick only ends a finished plan), once.
    function test_reachingTheEndTimeEndsTheSessionOnce() {
        start([{ type: "Study", duration: 1500 }], 120)
        const view = show(activeComponent)
        testHarness.advance(119 * 1000)
        verify(focusManager.isFocusing)
        compare(textOf(view, "timeText"), "23:01")
        testHarness.advance(1000)
        compare(textOf(view, "timeText"), "00:00")
        tryVerify(() => !focusManager.isFocusing)
        testHarness.advance(3000)
        compare(statistics.sessionHistory.length, 1)
        compare(statistics.sessionHistory[0].duration, 120)
    }

    function test_muteButtonTogglesAndShowsTheState() {
        const view = show(activeComponent)
        const header = findChild(view, "sessionHeader")
        verify(focusManager.isMuted)
        compare(header.symbol, "speaker.slash.fill")
        mouseClick(findChild(view, "muteButton"))
        verify(!focusManager.isMuted)
        compare(header.symbol, "speaker.wave.2.fill")
        compare(testHarness.preference("isMuted"), false)
    }

    function test_unlockEndsTheSessionAndIsThenUsedUp() {
        start([{ type: "Study", duration: 1500 }])
        let view = show(activeComponent)
        testHarness.advance(10 * minute)
        mouseClick(findChild(view, "unlockButton"))
        let alert = findChild(view, "unlockAlert")
        tryVerify(() => alert.opened)
        compare(alert.title, "Emergency Unlock")
        compare(alert.message, "You can only use this ONCE a week across all your devices. Are you sure you want to unlock now?")
        compare(alert.buttons.map(b => b.text + "/" + b.role).join(" "), "Cancel/cancel Unlock/destructive")

        // Cancel leaves everything as it was.
        mouseClick(findChild(alert.contentItem, "alertButton:Cancel"))
        tryVerify(() => !alert.visible)
        verify(focusManager.isFocusing)
        verify(!testHarness.hasPreference("emergency_unlock_timestamp"))

        mouseClick(findChild(view, "unlockButton"))
        tryVerify(() => alert.opened)
        const usedAt = appClock.nowMs / 1000
        mouseClick(findChild(alert.contentItem, "alertButton:Unlock"))
        tryVerify(() => !focusManager.isFocusing)
        compare(testHarness.preference("emergency_unlock_timestamp"), usedAt)
        // The history takes the record on the next turn of the queue.
        testHarness.advance(1000)
        compare(statistics.sessionHistory.length, 1)
        tryVerify(() => !alert.visible)
        view.destroy()

        // The next session's dialog only tells when the allowance returns.
        testHarness.advance(minute)
        start([{ type: "Study", duration: 1500 }])
        view = show(activeComponent)
        mouseClick(findChild(view, "unlockButton"))
        alert = findChild(view, "unlockAlert")
        tryVerify(() => alert.opened)
        const reset = new Date((usedAt + 7 * 24 * 3600) * 1000)
        compare(alert.message, "You have already used your emergency unlock this week. It will reset on "
                + formatter.resetDateText(reset) + ".")
        compare(alert.buttons.map(b => b.text + "/" + b.role).join(" "), "OK/cancel")
        mouseClick(findChild(alert.contentItem, "alertButton:OK"))
        tryVerify(() => !alert.visible)
        verify(focusManager.isFocusing)
    }

    // Another device spends the allowance while the dialog is open.
    function test_unlockChecksAgainBeforeSpending() {
        start([{ type: "Study", duration: 1500 }])
        const view = show(activeComponent)
        mouseClick(findChild(view, "unlockButton"))
        const alert = findChild(view, "unlockAlert")
        tryVerify(() => alert.opened)
        unlockManager.useEmergencyUnlock()
        const stored = testHarness.preference("emergency_unlock_timestamp")
        testHarness.advance(1000)
        mouseClick(findChild(alert.contentItem, "alertButton:Unlock"))
        wait(0)
        verify(focusManager.isFocusing)
        compare(testHarness.preference("emergency_unlock_timestamp"), stored)
    }

    function test_exitPreviewEndsItWithoutARecord() {
        focusManager.startPreview()
        const view = show(previewComponent)
        compare(textOf(view, "previewText"),
                "Your blocking settings are active.\nCheck your apps and websites to ensure they are blocked correctly.")
        mouseClick(findChild(view, "exitPreviewButton"))
        tryVerify(() => !focusManager.isPreviewing)
        verify(!focusManager.isFocusing)
        verify(!testHarness.enforcementOn())
        testHarness.advance(1000)
        compare(statistics.sessionHistory.length, 0)
    }

    function completeSession(seconds, subject) {
        verify(focusManager.startSessionWithBlocks(subject, [{ type: "Study", duration: seconds }]))
        testHarness.advance(seconds * 1000)
        tryVerify(() => focusManager.showSessionCompleted)
    }

    function test_completionShowsTheFocusedTime_data() {
        return [
            { tag: "just under an hour", seconds: 3599, text: "59m" },
            { tag: "one hour", seconds: 3600, text: "1h 0m" },
            { tag: "hour and two minutes", seconds: 3725, text: "1h 2m" }
        ]
    }

    function test_completionShowsTheFocusedTime(data) {
        completeSession(data.seconds, "Math")
        const view = show(completedComponent)
        compare(textOf(view, "focusedTimeText"), data.text)
        compare(textOf(view, "subjectText"), "Math")
        verify(findChild(view, "subjectText").visible)
    }

    function test_backToHomeClearsTheCompletion() {
        completeSession(120, "")
        const view = show(completedComponent)
        verify(!findChild(view, "subjectText").visible)
        mouseClick(findChild(view, "backHomeButton"))
        verify(!focusManager.showSessionCompleted)
        compare(focusManager.completedDuration, 0)
    }
}
