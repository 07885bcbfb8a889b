import QtQuick
import QtQuick.Controls

// Page 4: the user's name. Every keystroke is stored; Return or
// "Finish Setup" ends the flow once there is a name.
OnboardingPage {
    id: page

    readonly property bool canFinish: appSettings.userName.length > 0
    property alias nameField: nameField

    signal finishClicked()

    function finish() { if (canFinish) finishClicked() }

    spacing: 0

    OnboardingText {
        text: "Who are you?"
        font.pixelSize: 32
        font.weight: Font.Bold
    }
    Item { width: 1; height: 14 }
    OnboardingText {
        text: "Enter your name or link to an existing device to sync your profile."
        color: Qt.rgba(1, 1, 1, 0.75)
        font.pixelSize: 20
    }
    Item { width: 1; height: 32 }
    TextField {
        id: nameField
        objectName: "nameField"
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width, 320)
        implicitHeight: 54
        leftPadding: 18
        rightPadding: 18
        text: appSettings.userName
        onTextEdited: appSettings.userName = text
        onAccepted: page.finish()
        placeholderText: "Your Name"
        placeholderTextColor: Qt.rgba(1, 1, 1, 0.35)
        color: "white"
        selectionColor: Theme.accentPink
        font.family: Theme.fontFamily
        font.pixelSize: 20
        background: Rectangle {
            radius: 16
            color: Qt.rgba(1, 1, 1, 0.1)
            border.width: nameField.activeFocus ? 1.5 : 0
            border.color: Theme.accentPink
        }
    }
    Item { width: 1; height: 28 }
    SessionPrimaryButton {
        objectName: "finishButton"
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width, 320)
        text: "Finish Setup"
        enabled: page.canFinish
        onClicked: page.finish()
    }
}
