import QtQuick
import QtTest
import Quillmoss

TestCase {
    id: testCase
    name: "SessionBuilder"
    when: windowShown
    // Mouse events only reach visible items.
    visible: true
    width: 400
    height: 750

    Component {
        id: builderComponent
        SessionBuilderView { width: 400; height: 750 }
    }
    Component {
        id: spyComponent
        SignalSpy { signalName: "closeRequested" }
    }

    // The fake peers outlive a reset: count setup messages from here on.
    property int setupBaseline: 0

    function init() {
        testHarness.reset()
        setupBaseline = testHarness.setupStatusCount()
    }

    function setupMessages() {
        return testHarness.setupStatusCount() - setupBaseline
    }

    function openBuilder() {
        const builder = createTemporaryObject(builderComponent, testCase)
        verify(builder)
        // Laid out before anything is clicked.
        waitForRendering(builder)
        return builder
    }

    // Closing the sheet destroys the view.
    function closeBuilder(builder) {
        builder.destroy()
        wait(0)
    }

    function plan(builder) {
        const list = []
        for (let i = 0; i < builder.blockModel.count; ++i) {
            const b = builder.blockModel.get(i)
            list.push(b.type + " " + b.duration)
        }
        return list.join(", ")
    }

    function button(builder, name) {
        const found = findChild(builder, name)
        verify(found, name)
        return found
    }

    function typeText(text) {
        for (const ch of text) keyClick(ch)
    }

    function test_opensWithDefaultsAndAnnouncesSetup() {
        const builder = openBuilder()
        compare(plan(builder), "Study 1500, Break 300, Study 1500")
        compare(button(builder, "subjectField").text, "Study Session")
        compare(setupMessages(), 1)
        verify(testHarness.lastSetupStatus())
    }

    function test_addClicksAppendDefaultsAndMinusRemovesTheLast() {
        const builder = openBuilder()
        mouseClick(button(builder, "addBreakButton"))
        compare(plan(builder), "Study 1500, Break 300, Study 1500, Break 300")
        mouseClick(button(builder, "addStudyButton"))
        compare(plan(builder), "Study 1500, Break 300, Study 1500, Break 300, Study 1500")
        const minus = button(builder, "removeButton")
        mouseClick(minus)
        mouseClick(minus)
        compare(plan(builder), "Study 1500, Break 300, Study 1500")
        for (let i = 0; i < 3; ++i) mouseClick(minus)
        compare(builder.blockModel.count, 0)
        // Nothing left to remove, and nothing to start.
        verify(!minus.enabled)
        verify(!button(builder, "startButton").enabled)
    }

    function test_holdingOpensTheCustomDurationMenus() {
        const builder = openBuilder()
        const studyMenu = button(builder, "studyDurationMenu")
        button(builder, "addStudyButton").pressAndHold()
        verify(studyMenu.opened || studyMenu.visible)
        compare(studyMenu.minuteChoices.length, 11)
        compare(findChild(studyMenu.contentItem, "durationMenuTitle").text, "Custom Duration")
        const fiftyFive = findChild(studyMenu.contentItem, "durationItem:55")
        compare(fiftyFive.text, "55 min")
        verify(!findChild(studyMenu.contentItem, "durationItem:60"))
        mouseClick(fiftyFive)
        compare(plan(builder), "Study 1500, Break 300, Study 1500, Study 3300")
        tryVerify(() => !studyMenu.visible)

        const breakMenu = button(builder, "breakDurationMenu")
        button(builder, "addBreakButton").pressAndHold()
        verify(breakMenu.visible)
        const labels = []
        for (const m of breakMenu.minuteChoices) labels.push(findChild(breakMenu.contentItem, "durationItem:" + m).text)
        compare(labels.join("|"), "5 min|10 min|15 min|20 min|25 min")
        mouseClick(findChild(breakMenu.contentItem, "durationItem:10"))
        compare(plan(builder), "Study 1500, Break 300, Study 1500, Study 3300, Break 600")
    }

    function test_firstStartAsksThenLaterStartsGoStraightIn() {
        let builder = openBuilder()
        const dismissed = createTemporaryObject(spyComponent, testCase, { target: builder })
        const field = button(builder, "subjectField")
        field.forceActiveFocus()
        field.selectAll()
        typeText("  Math ")
        mouseClick(button(builder, "startButton"))
        const alert = button(builder, "firstSessionAlert")
        tryVerify(() => alert.opened)
        compare(alert.title, "First Session?")
        compare(alert.message, "Would you like to preview your blocking settings to make sure everything is set up correctly? You can exit preview mode at any time.")
        verify(!focusManager.isFocusing)

        mouseClick(findChild(alert.contentItem, "alertButton:Start Session"))
        verify(focusManager.isFocusing)
        verify(!focusManager.isPreviewing)
        compare(focusManager.currentSubject, "  Math ")
        compare(focusManager.currentBlocks.length, 3)
        verify(appSettings.hasStartedFirstSession)
        compare(dismissed.count, 1)
        // Closing because a session starts leaves lobby guests waiting.
        closeBuilder(builder)
        verify(testHarness.lastSetupStatus())
        compare(setupMessages(), 1)

        focusManager.endSession()
        builder = openBuilder()
        compare(button(builder, "subjectField").text, "  Math ")
        mouseClick(button(builder, "startButton"))
        verify(!button(builder, "firstSessionAlert").visible)
        verify(focusManager.isFocusing)
    }

    function test_previewFirstStartsAPreviewAndAsksForTheBuilderBack() {
        const builder = openBuilder()
        mouseClick(button(builder, "addBreakButton"))
        mouseClick(button(builder, "startButton"))
        const alert = button(builder, "firstSessionAlert")
        tryVerify(() => alert.opened)
        mouseClick(findChild(alert.contentItem, "alertButton:Preview Blocking First"))
        verify(focusManager.isPreviewing)
        verify(focusManager.shouldRestoreBuilder)
        verify(appSettings.hasStartedFirstSession)
        compare(focusManager.builderBlocks.length, 4)
        verify(testHarness.enforcementOn())
    }

    function test_everyCloseSavesTheDraftAndEndsSetup() {
        let builder = openBuilder()
        mouseClick(button(builder, "addBreakButton"))
        builder.subject = "Essay"
        mouseClick(button(builder, "dismissButton"))
        closeBuilder(builder)
        compare(setupMessages(), 2)
        verify(!testHarness.lastSetupStatus())
        verify(!focusManager.isFocusing)

        builder = openBuilder()
        compare(plan(builder), "Study 1500, Break 300, Study 1500, Break 300")
        compare(builder.subject, "Essay")
        verify(testHarness.lastSetupStatus())

        // An empty plan is stored as such and comes back empty.
        while (builder.blockModel.count > 0) mouseClick(button(builder, "removeButton"))
        closeBuilder(builder)
        verify(testHarness.hasPreference("BuilderState"))
        builder = openBuilder()
        compare(builder.blockModel.count, 0)
        compare(focusManager.builderBlocks.length, 0)
        verify(!button(builder, "startButton").enabled)
    }

    function test_emptyPlanCannotStart() {
        const builder = openBuilder()
        appSettings.hasStartedFirstSession = true
        while (builder.blockModel.count > 0) builder.removeLastBlock()
        const start = button(builder, "startButton")
        verify(!start.enabled)
        mouseClick(start)
        builder.requestStart()
        builder.start()
        verify(!focusManager.isFocusing)
        verify(!testHarness.hasPreference("CurrentSessionState"))
    }
}
