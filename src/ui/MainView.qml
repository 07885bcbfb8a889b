import QtQuick

// The window's content after onboarding: one screen at a time, chosen from
// the engine's state, with a cross-fade between screens.
Item {
    id: mainView
    objectName: "mainView"

    // The first rule that holds picks the screen. A preview also counts as
    // focusing, so it is checked first; a completion flag without its
    // information shows nothing of it. The lobby's waiting room is not built
    // yet, so a device waiting in a lobby sees home.
    readonly property string currentScreen: {
        if (focusManager.isPreviewing) return "preview"
        if (focusManager.isFocusing) return "active"
        if (focusManager.showSessionCompleted && focusManager.hasCompletionInfo) return "completed"
        return "home"
    }
    readonly property Item home: homeLoader.item

    // Sheets of the home screen do not outlive it.
    onCurrentScreenChanged: if (currentScreen !== "home" && home) home.closeSheets()

    // Back from a preview the builder asked for: reopen it a moment later.
    Connections {
        target: focusManager
        function onIsPreviewingChanged() {
            if (focusManager.isPreviewing || !focusManager.shouldRestoreBuilder) return
            focusManager.shouldRestoreBuilder = false
            appClock.after(100, () => {
                if (mainView.currentScreen === "home" && mainView.home) mainView.home.showSessionBuilder()
            })
        }
    }

    GradientBackground { anchors.fill: parent }

    // A screen by file name, created while shown or fading out.
    component ScreenLoader: Loader {
        property string screen
        readonly property bool current: mainView.currentScreen === screen
        anchors.fill: parent
        active: current || opacity > 0
        opacity: current ? 1 : 0
        visible: opacity > 0
        z: current ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 250 } }
    }

    ScreenLoader { objectName: "homeLoader"; id: homeLoader; screen: "home"; source: "HomeScreen.qml" }
    ScreenLoader { objectName: "previewLoader"; screen: "preview"; source: "PreviewSessionView.qml" }
    ScreenLoader { objectName: "activeLoader"; screen: "active"; source: "ActiveSessionView.qml" }
    ScreenLoader { objectName: "completedLoader"; screen: "completed"; source: "SessionCompletedView.qml" }
}
