import QtQuick
import QtQuick.Layouts

// Shown after a session of more than a minute, until "Back to Home".
Item {
    id: view

    readonly property string subject: focusManager.completedSubject
    readonly property real duration: focusManager.completedDuration

    SessionBackground {}

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(460, parent.width - 48)
        spacing: 0

        Rectangle {
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: 110
            implicitHeight: 110
            radius: 55
            color: Theme.breakColor
            SymbolIcon { anchors.centerIn: parent; symbol: "checkmark"; size: 50; color: "white" }
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 26
            text: "Session Completed!"
            color: Theme.textPrimary
            font.family: Theme.fontFamily
            font.pixelSize: 32
            font.weight: Font.Bold
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 18
            text: "You stayed focused for"
            color: Qt.rgba(1, 1, 1, 0.6)
            font.family: Theme.fontFamily
            font.pixelSize: 18
        }

        Text {
            objectName: "focusedTimeText"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 4
            text: formatter.focusedTimeText(view.duration)
            color: Theme.accentPink
            font.family: Theme.fontFamily
            font.pixelSize: 52
            font.weight: Font.Bold
        }

        Text {
            objectName: "subjectText"
            Layout.fillWidth: true
            Layout.topMargin: 6
            visible: view.subject.length > 0
            text: view.subject
            color: Qt.rgba(1, 1, 1, 0.75)
            font.family: Theme.fontFamily
            font.pixelSize: 20
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            maximumLineCount: 3
            elide: Text.ElideRight
        }

        SessionPrimaryButton {
            objectName: "backHomeButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 40
            text: "Back to Home"
            onClicked: focusManager.dismissCompletion()
        }
    }
}
