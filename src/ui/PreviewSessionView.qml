import QtQuick
import QtQuick.Layouts

// A blocking preview: the enforcement of a session without its clock, until
// the user leaves it.
Item {
    id: view

    SessionBackground {}

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(460, parent.width - 48)
        spacing: 0

        Rectangle {
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: 96
            implicitHeight: 96
            radius: 48
            color: Qt.rgba(Theme.accentPink.r, Theme.accentPink.g, Theme.accentPink.b, 0.15)
            SymbolIcon { anchors.centerIn: parent; symbol: "eye.fill"; size: 42; color: Theme.accentPink }
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 22
            text: "Preview Mode"
            color: Theme.textPrimary
            font.family: Theme.fontFamily
            font.pixelSize: 32
            font.weight: Font.Bold
        }

        Text {
            objectName: "previewText"
            Layout.fillWidth: true
            Layout.topMargin: 14
            text: "Your blocking settings are active.\nCheck your apps and websites to ensure they are blocked correctly."
            color: Qt.rgba(1, 1, 1, 0.7)
            font.family: Theme.fontFamily
            font.pixelSize: 17
            lineHeight: 1.2
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }

        SessionPrimaryButton {
            objectName: "exitPreviewButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 36
            text: "Exit Preview"
            onClicked: Qt.callLater(() => focusManager.endSession())
        }
    }
}
