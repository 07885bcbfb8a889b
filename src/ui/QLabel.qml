import QtQuick

// Text in the app's font and colours; every screen's labels start from this.
Text {
    color: Theme.textPrimary
    font.family: Theme.fontFamily
    font.pixelSize: Theme.bodySize
    textFormat: Text.PlainText
}
