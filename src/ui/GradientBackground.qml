import QtQuick

// The dark top-to-bottom gradient every screen and sheet sits on.
Rectangle {
    gradient: Gradient {
        GradientStop { position: 0; color: Theme.bgGradientStart }
        GradientStop { position: 1; color: Theme.bgGradientEnd }
    }
}
