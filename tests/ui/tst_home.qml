import QtQuick
import QtTest
import Quillmoss

// The test items live in a visible window-sized root: a TestCase itself is
// invisible, and so would be anything parented to it.
Item {
    id: root
    width: 400
    height: 750

    TestCase {
        id: testCase
        name: "Home"
        when: windowShown

        Component {
            id: mainViewComponent
            MainView { width: 400; height: 750 }
        }

        function init() { testHarness.reset() }

        function createMain() {
            const view = createTemporaryObject(mainViewComponent, root)
            verify(view)
            verify(view.home)
            waitForRendering(view)
            return view
        }
        function sheet(view, name) {
            const found = findChild(view.home, name)
            verify(found, name)
            return found
        }
        // A session of the default plan that ends at once: it leaves the plan
        // as the last session and shows no completion screen.
        function runShortSession() {
            testHarness.startDefaultPlan()
            testHarness.advance(1000)
            focusManager.endSession()
            testHarness.advance(0)
        }

        function test_screenFollowsTheEngineInOrder() {
            const view = createMain()
            compare(view.currentScreen, "home")

            // A preview is also focusing; the preview screen wins.
            focusManager.startPreview()
            verify(focusManager.isFocusing)
            compare(view.currentScreen, "preview")
            focusManager.endSession()
            compare(view.currentScreen, "home")

            testHarness.startDefaultPlan()
            compare(view.currentScreen, "active")
            testHarness.advance(61 * 1000)
            focusManager.endSession()
            testHarness.advance(0)
            verify(focusManager.showSessionCompleted)
            compare(view.currentScreen, "completed")

            focusManager.showSessionCompleted = false
            compare(view.currentScreen, "home")
            verify(view.home)
        }

        function test_completionFlagWithoutInformationShowsHome() {
            const view = createMain()
            focusManager.showSessionCompleted = true
            verify(!focusManager.hasCompletionInfo)
            compare(view.currentScreen, "home")
        }

        function test_greetingByHour_data() {
            return [
                { tag: "11:59", hour: 11, minute: 59, greeting: "Good morning" },
                { tag: "12:00", hour: 12, minute: 0, greeting: "Good afternoon" },
                { tag: "16:59", hour: 16, minute: 59, greeting: "Good afternoon" },
                { tag: "17:00", hour: 17, minute: 0, greeting: "Good evening" },
            ]
        }
        function test_greetingByHour(data) {
            testHarness.setLocalTime(data.hour, data.minute)
            const view = createMain()
            compare(findChild(view, "greetingText").text, data.greeting + ", User")
        }

        function test_greetingFollowsTheClockAndTheName() {
            testHarness.setLocalTime(11, 59)
            const view = createMain()
            const greeting = findChild(view, "greetingText")
            compare(greeting.text, "Good morning, User")
            testHarness.advance(60 * 1000)
            compare(greeting.text, "Good afternoon, User")
            appSettings.userName = "Ada"
            compare(greeting.text, "Good afternoon, Ada")
        }

        function test_repeatCardAppearsAfterASessionAndRepeatsIt() {
            const view = createMain()
            verify(!findChild(view.home, "repeatCard").visible)

            runShortSession()
            // The home screen may have been rebuilt while the session ran.
            const card = findChild(view.home, "repeatCard")
            verify(card.visible)
            compare(findChild(view.home, "repeatTotalText").text, "55m")

            card.clicked()
            verify(focusManager.isFocusing)
            compare(focusManager.currentSubject, "Study Session")
            compare(focusManager.currentBlocks.length, 3)
            compare(focusManager.sessionStartTime.getTime() + 55 * 60 * 1000, focusManager.sessionEndTime.getTime())
            compare(view.currentScreen, "active")
        }

        function test_startCardAndGearOpenTheirSheets() {
            const view = createMain()
            const builder = sheet(view, "builderSheet")
            const settings = sheet(view, "settingsSheet")
            mouseClick(findChild(view, "startCard"))
            verify(builder.visible)
            builder.close()
            tryCompare(builder, "visible", false)

            mouseClick(findChild(view, "settingsButton"))
            verify(settings.visible)
            compare(settings.screen.objectName, "settingsView")
            // The settings' own dismiss closes the sheet; so does Escape.
            settings.screen.closeRequested()
            tryCompare(settings, "visible", false)
            view.home.showSettings()
            verify(settings.screen.activeFocus)
            keyClick(Qt.Key_Escape)
            tryCompare(settings, "visible", false)
        }

        function test_sheetsCloseWhenASessionStarts() {
            const view = createMain()
            const settings = sheet(view, "settingsSheet")
            view.home.showSettings()
            verify(settings.visible)
            focusManager.startPreview()
            // Closed, or gone with the home screen.
            tryVerify(() => !settings.visible)
        }

        function test_builderReopensAfterAPreviewItAskedFor() {
            const view = createMain()
            const builder = sheet(view, "builderSheet")
            focusManager.shouldRestoreBuilder = true
            focusManager.startPreview()
            focusManager.endSession()
            verify(!focusManager.shouldRestoreBuilder)
            testHarness.advance(99)
            verify(!builder.visible)
            testHarness.advance(1)
            verify(builder.visible)
        }

        function test_previewWithoutTheRequestLeavesTheBuilderShut() {
            const view = createMain()
            const builder = sheet(view, "builderSheet")
            focusManager.startPreview()
            focusManager.endSession()
            testHarness.advance(1000)
            verify(!builder.visible)
        }

        function test_surveyOfferNotNowOpensNothing() {
            testHarness.captureOpenedUrls()
            const view = createMain()
            const alert = sheet(view, "surveyAlert")
            verify(!alert.visible)
            focusManager.showSurveyOnHome = true
            verify(alert.visible)
            compare(alert.title, "Enjoying quillmoss?")
            findChild(alert.contentItem, "alertButton_Not Now").clicked()
            verify(!focusManager.showSurveyOnHome)
            compare(testHarness.openedUrls().length, 0)
        }

        function test_surveyAfterTheThirdSessionOpensItsForm() {
            testHarness.captureOpenedUrls()
            const view = createMain()
            const alert = sheet(view, "surveyAlert")
            runShortSession()
            runShortSession()
            runShortSession()
            testHarness.advance(499)
            verify(!alert.visible)
            testHarness.advance(1)
            verify(focusManager.showSurveyOnHome)
            verify(alert.visible)
            const url = focusManager.currentSurveyURL.toString()
            verify(url.indexOf("?user_id=" + deviceIds.deviceID) > 0, url)

            findChild(alert.contentItem, "alertButton_Give Feedback").clicked()
            verify(!focusManager.showSurveyOnHome)
            compare(testHarness.openedUrls(), [url])
        }

        function test_surveyPendingBeforeHomeAppearsIsOffered() {
            focusManager.showSurveyOnHome = true
            const view = createMain()
            const alert = sheet(view, "surveyAlert")
            tryCompare(alert, "visible", true)
        }
    }
}
