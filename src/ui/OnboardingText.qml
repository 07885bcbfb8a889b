import QtQuick

// Centred, wrapping onboarding text in the display font.
Text {
    width: parent ? parent.width : implicitWidth
    color: Theme.textPrimary
    font.family: Theme.fontFamily
    font.pixelSize: 17
    horizontalAlignment: Text.AlignHCenter
    wrapMode: Text.WordWrap
    lineHeight: 1.1
}
