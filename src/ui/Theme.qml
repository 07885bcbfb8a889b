pragma Singleton
import QtQuick

// Colours, type and sizes shared by every screen.
QtObject {
    readonly property color accentPink: Qt.rgba(1.0, 0.2, 0.6, 1)
    readonly property color bgGradientStart: Qt.rgba(0.1, 0.1, 0.12, 1)
    readonly property color bgGradientEnd: Qt.rgba(0.05, 0.05, 0.08, 1)
    readonly property color textPrimary: "white"
    readonly property color textSecondary: "#8e8e93"
    readonly property color studyColor: accentPink
    readonly property color breakColor: "#34c759"
    // The named colours of the settings rows and device charts.
    readonly property var palette: ({
        "blue": "#0a84ff", "green": "#30d158", "orange": "#ff9f0a", "purple": "#bf5af2",
        "pink": "#ff375f", "yellow": "#ffd60a", "teal": "#40c8e0", "indigo": "#5e5ce6",
        "mint": "#63e6e2", "grey": "#8e8e93", "red": "#ff453a"
    })
    readonly property string fontFamily: "Fredoka"
    readonly property int bodySize: 17
}
