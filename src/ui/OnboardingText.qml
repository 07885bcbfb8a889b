import QtQuick

// Centred, wrapping onboarding text.
QLabel {
    width: parent ? parent.width : implicitWidth
    horizontalAlignment: Text.AlignHCenter
    wrapMode: Text.WordWrap
    lineHeight: 1.1
}
