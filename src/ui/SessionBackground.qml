import QtQuick

// The full-window background of the session screens: the app's dark
// gradient, top to bottom.
Rectangle {
    anchors.fill: parent
    gradient: Gradient {
        GradientStop { position: 0; color: Theme.bgGradientStart }
        GradientStop { position: 1; color: Theme.bgGradientEnd }
    }
}
