import QtQuick
import QtQuick.Controls

// A single-line field with a rounded border, for the dark screens.
TextField {
    id: field
    implicitHeight: 36
    leftPadding: 12
    rightPadding: 12
    color: Theme.textPrimary
    placeholderTextColor: Qt.rgba(1, 1, 1, 0.38)
    selectionColor: Theme.accentPink
    selectedTextColor: "white"
    font.family: Theme.fontFamily
    font.pixelSize: 15
    selectByMouse: true

    background: Rectangle {
        radius: 8
        color: Qt.rgba(1, 1, 1, 0.07)
        border.width: 1
        border.color: field.activeFocus ? Theme.accentPink : Qt.rgba(1, 1, 1, 0.16)
    }
}
