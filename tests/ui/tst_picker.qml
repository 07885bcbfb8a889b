import QtQuick
import QtTest
import Quillmoss

// The test items live in a visible window-sized root: a TestCase itself is
// invisible, and so would be anything parented to it.
Item {
    id: root
    width: 700
    height: 600

    TestCase {
        id: testCase
        name: "Picker"
        when: windowShown

        Component {
            id: pickerComponent
            FamilyActivityPickerView { width: 700; height: 600 }
        }
        Component {
            id: spyComponent
            SignalSpy {}
        }

        function init() { testHarness.reset() }

        function createPicker(properties) {
            const picker = createTemporaryObject(pickerComponent, root, properties || {})
            verify(picker)
            waitForRendering(picker)
            return picker
        }
        function child(view, name) {
            const found = findChild(view, name)
            verify(found, name)
            return found
        }
        function list(values) {
            const out = []
            for (let i = 0; i < values.length; ++i) out.push(values[i])
            return out
        }
        function storedSelection() {
            const stored = testHarness.preference("FocusSelection")
            const member = Object.keys(stored)[0]
            return JSON.parse(Qt.atob(stored[member]))
        }
        function closeSpy(picker) {
            return createTemporaryObject(spyComponent, root, { target: picker, signalName: "closeRequested" })
        }

        function test_startsFromTheLiveSelection() {
            focusManager.applySelection(["a", "b"], ["x.com"])
            const picker = createPicker()
            compare(picker.appEntries(), ["a", "b"])
            compare(picker.siteEntries(), ["x.com"])
            compare(picker.appField.placeholderText, "Bundle ID (e.g., com.apple.Safari)")
            compare(picker.siteField.placeholderText, "Domain (e.g., youtube.com)")
        }

        function test_addKeepsTextAsTyped() {
            focusManager.applySelection([], [])
            const picker = createPicker()
            picker.appField.text = " com.example.App"
            mouseClick(child(picker, "appAddButton"))
            compare(picker.appField.text, "")
            picker.appField.text = " com.example.App"
            mouseClick(child(picker, "appAddButton"))
            // An empty field adds nothing.
            child(picker, "appAddButton").clicked()
            compare(picker.appEntries(), [" com.example.App", " com.example.App"])

            picker.siteField.text = "YouTube.com "
            mouseClick(child(picker, "siteAddButton"))
            child(picker, "siteAddButton").clicked()
            compare(picker.siteEntries(), ["YouTube.com "])
            compare(picker.siteField.text, "")
        }

        function test_removeTakesTheRowAtItsPosition() {
            focusManager.applySelection(["a", "b", "c"], ["x", "y"])
            const picker = createPicker()
            mouseClick(child(picker, "appRemove_1"))
            compare(picker.appEntries(), ["a", "c"])
            mouseClick(child(picker, "siteRemove_0"))
            compare(picker.siteEntries(), ["y"])
            compare(list(focusManager.allowedApps), ["a", "b", "c"])
        }

        function test_cancelWritesNothing() {
            const before = JSON.stringify(testHarness.preference("FocusSelection"))
            const apps = list(focusManager.allowedApps)
            const picker = createPicker()
            const spy = closeSpy(picker)
            picker.appField.text = "new.app"
            child(picker, "appAddButton").clicked()
            child(picker, "siteRemove_0").clicked()
            mouseClick(child(picker, "cancelButton"))
            compare(spy.count, 1)
            compare(list(focusManager.allowedApps), apps)
            compare(JSON.stringify(testHarness.preference("FocusSelection")), before)
            // Opened again, it shows the old lists.
            compare(createPicker().appEntries(), apps)
        }

        function test_saveStoresBothListsInOrder() {
            focusManager.applySelection(["a", "b"], ["x"])
            const picker = createPicker()
            const spy = closeSpy(picker)
            picker.appField.text = "a"
            child(picker, "appAddButton").clicked()
            child(picker, "appRemove_0").clicked()
            picker.siteField.text = "y"
            child(picker, "siteAddButton").clicked()
            mouseClick(child(picker, "saveButton"))
            compare(spy.count, 1)
            compare(list(focusManager.allowedApps), ["b", "a"])
            compare(list(focusManager.blockedSites), ["x", "y"])
            const stored = storedSelection()
            compare(stored.appBundleIDs, ["b", "a"])
            compare(stored.webDomains, ["x", "y"])
        }

        function test_saveWithEmptyListsStoresAnEmptySelection() {
            focusManager.applySelection(["a"], ["x"])
            const picker = createPicker()
            child(picker, "appRemove_0").clicked()
            child(picker, "siteRemove_0").clicked()
            child(picker, "saveButton").clicked()
            compare(focusManager.allowedApps.length, 0)
            compare(storedSelection().appBundleIDs, [])
            compare(storedSelection().webDomains, [])
        }

        function test_addAllOpenAppsAddsRegularOthersOnce() {
            focusManager.applySelection(["chromium"], [])
            testHarness.addRunningApp("org.gnome.Calculator", true)
            testHarness.addRunningApp("app.quillmoss", true)
            testHarness.addRunningApp("org.example.TrayAgent", false)
            testHarness.addRunningApp("chromium", true)
            testHarness.addRunningApp("org.gnome.TextEditor", true)
            const picker = createPicker()
            const button = child(picker, "addAllOpenAppsButton")
            mouseClick(button)
            compare(picker.appEntries(), ["chromium", "org.gnome.Calculator", "org.gnome.TextEditor"])
            mouseClick(button)
            compare(picker.appEntries(), ["chromium", "org.gnome.Calculator", "org.gnome.TextEditor"])
            // Still only the working copy.
            compare(list(focusManager.allowedApps), ["chromium"])
        }

        function test_escapeCancelsAndReturnSaves() {
            focusManager.applySelection(["a"], [])
            let picker = createPicker()
            let spy = closeSpy(picker)
            picker.appField.forceActiveFocus()
            picker.appField.text = "typed"
            child(picker, "appAddButton").clicked()
            keyClick(Qt.Key_Escape)
            compare(spy.count, 1)
            compare(list(focusManager.allowedApps), ["a"])

            picker = createPicker()
            spy = closeSpy(picker)
            child(picker, "appRemove_0").clicked()
            // Return saves even from inside an entry field.
            picker.appField.forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(spy.count, 1)
            compare(focusManager.allowedApps.length, 0)
        }

        function test_narrowSheetStacksTheColumns() {
            const wide = createPicker()
            verify(!wide.narrow)
            compare(wide.siteField.mapToItem(wide, 0, 0).y, wide.appField.mapToItem(wide, 0, 0).y)

            const narrow = createPicker({ width: 400 })
            verify(narrow.narrow)
            const appTop = narrow.appField.mapToItem(narrow, 0, 0)
            const siteTop = narrow.siteField.mapToItem(narrow, 0, 0)
            compare(siteTop.x, appTop.x)
            verify(siteTop.y > appTop.y)
            // Both fields keep a usable width.
            verify(narrow.siteField.width > 250)
        }
    }
}
