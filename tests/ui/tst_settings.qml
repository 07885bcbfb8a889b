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
        name: "Settings"
        when: windowShown

        Component {
            id: settingsComponent
            ContentView { width: 400; height: 750 }
        }
        Component {
            id: miscComponent
            MiscSettingsView { width: 400; height: 750 }
        }
        Component {
            id: spyComponent
            SignalSpy {}
        }

        function init() { testHarness.reset() }

        function create(component) {
            const view = createTemporaryObject(component, root)
            verify(view)
            waitForRendering(view)
            return view
        }
        function child(view, name) {
            const found = findChild(view, name)
            verify(found, name)
            return found
        }
        function chooseInAlert(alert, text) {
            verify(alert.visible)
            child(alert.contentItem, "alertButton_" + text).clicked()
            tryCompare(alert, "visible", false)
        }

        // --- the settings list

        function test_appsAndWebsitesCountsFollowTheSelection() {
            const view = create(settingsComponent)
            const row = child(view, "appsAndWebsitesRow")
            compare(row.subtitle, "11 allowed, 11 blocked")
            focusManager.applySelection(["org.gnome.Calculator"], [])
            compare(row.subtitle, "1 allowed, 0 blocked")
        }

        function test_footerShowsVersionAndDeviceId() {
            const view = create(settingsComponent)
            compare(child(view, "versionText").text, "Version 1.0.0")
            compare(deviceIds.deviceID.length, 36)
            compare(child(view, "deviceIdText").text, "Device ID: " + deviceIds.deviceID)
        }

        function test_miscellaneousIsPushedAndComesBack() {
            const view = create(settingsComponent)
            mouseClick(child(view, "miscRow"))
            compare(view.stack.depth, 2)
            const page = view.stack.currentItem
            compare(page.objectName, "miscSettings")
            child(page, "backButton").clicked()
            compare(view.stack.depth, 1)
        }

        function test_escapeStepsBackThenAsksToClose() {
            const view = create(settingsComponent)
            const spy = createTemporaryObject(spyComponent, root, { target: view, signalName: "closeRequested" })
            view.forceActiveFocus()
            child(view, "miscRow").clicked()
            compare(view.stack.depth, 2)
            keyClick(Qt.Key_Escape)
            compare(view.stack.depth, 1)
            compare(spy.count, 0)
            keyClick(Qt.Key_Escape)
            compare(spy.count, 1)
        }

        function test_feedbackAndPrivacyOpenTheirAddresses() {
            testHarness.captureOpenedUrls()
            const view = create(settingsComponent)
            const feedback = statistics.feedbackURL().toString()
            verify(feedback.indexOf("?user_id=" + deviceIds.deviceID) > 0, feedback)
            mouseClick(child(view, "feedbackRow"))
            mouseClick(child(view, "privacyRow"))
            compare(testHarness.openedUrls(), [feedback, "https://quillmoss.app/privacy"])
        }

        function test_appsAndWebsitesOpensThePickerInsideTheWindow() {
            const view = create(settingsComponent)
            const sheet = child(view, "pickerSheet")
            mouseClick(child(view, "appsAndWebsitesRow"))
            verify(sheet.visible)
            compare(sheet.screen.objectName, "pickerView")
            compare(sheet.width, 400)
            compare(sheet.height, 600)
            sheet.screen.cancel()
            tryCompare(sheet, "visible", false)
        }

        function test_dismissButtonAsksToClose() {
            const view = create(settingsComponent)
            const spy = createTemporaryObject(spyComponent, root, { target: view, signalName: "closeRequested" })
            mouseClick(child(view, "settingsDismissButton"))
            compare(spy.count, 1)
        }

        // --- Miscellaneous

        function test_unlockDuringBreaksAsksBeforeTurningOn() {
            const view = create(miscComponent)
            const row = child(view, "unlockDuringBreaksRow")
            const alert = child(view, "breakUnlockAlert")
            compare(alert.title, "Are you sure?")

            mouseClick(row.control)
            verify(alert.visible)
            verify(!row.control.checked)
            chooseInAlert(alert, "Cancel")
            verify(!focusManager.unlockDuringBreak)
            verify(!row.control.checked)
            verify(!testHarness.hasPreference("unlockDuringBreak") || !testHarness.preference("unlockDuringBreak"))

            mouseClick(row.control)
            chooseInAlert(alert, "Enable")
            verify(focusManager.unlockDuringBreak)
            verify(row.control.checked)
            compare(testHarness.preference("unlockDuringBreak"), true)

            // Turning it off does not ask.
            mouseClick(row.control)
            verify(!alert.visible)
            verify(!focusManager.unlockDuringBreak)
            verify(!row.control.checked)
            compare(testHarness.preference("unlockDuringBreak"), false)
        }

        function test_alertKeysChooseCancelAndDefault() {
            const view = create(miscComponent)
            const row = child(view, "unlockDuringBreaksRow")
            const alert = child(view, "breakUnlockAlert")
            row.control.clicked()
            verify(alert.visible)
            keyClick(Qt.Key_Escape)
            tryCompare(alert, "visible", false)
            verify(!focusManager.unlockDuringBreak)

            row.control.clicked()
            verify(alert.visible)
            keyClick(Qt.Key_Return)
            tryCompare(alert, "visible", false)
            verify(focusManager.unlockDuringBreak)
        }

        function test_switchesStoreTheirSettings() {
            const view = create(miscComponent)
            const notifications = child(view, "sessionNotificationsRow")
            const timer = child(view, "showMenuBarTimerRow")
            const hide = child(view, "hideWhenConnectedRow")
            verify(!notifications.control.checked)
            verify(timer.control.checked)
            verify(hide.control.checked)

            mouseClick(notifications.control)
            verify(focusManager.sessionStateNotificationsEnabled)
            compare(testHarness.preference("sessionStateNotificationsEnabled"), true)
            mouseClick(timer.control)
            verify(!appSettings.showMenuBarIcon)
            verify(!timer.control.checked)
            compare(testHarness.preference("showMenuBarIcon"), false)
            mouseClick(hide.control)
            compare(testHarness.preference("hideMenuBarWhenConnected"), false)
            mouseClick(hide.control)
            compare(testHarness.preference("hideMenuBarWhenConnected"), true)
            verify(hide.control.checked)
        }

        function test_previewFocusStartsThePreview() {
            const view = create(miscComponent)
            mouseClick(child(view, "previewFocusRow"))
            verify(focusManager.isPreviewing)
            verify(testHarness.enforcementOn())
        }
    }
}
