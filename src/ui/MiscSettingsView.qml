import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// "Miscellaneous": how sessions behave, how the tray timer shows, and a
// shortcut to the blocking preview.
FocusScope {
    id: page
    objectName: "miscSettings"

    signal closeRequested()

    GradientBackground { anchors.fill: parent }

    RowLayout {
        id: header
        width: Math.min(parent.width - 40, 560)
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 24
        spacing: 12
        QRoundButton {
            objectName: "backButton"
            symbol: "chevron.left"
            symbolSize: 16
            Accessible.name: "back"
            onClicked: page.closeRequested()
        }
        QLabel {
            Layout.fillWidth: true
            text: "Miscellaneous"
            font.pixelSize: 24
            font.weight: Font.Medium
            elide: Text.ElideRight
        }
    }

    component Group: Rectangle {
        default property alias rows: column.data
        Layout.fillWidth: true
        implicitHeight: column.implicitHeight
        radius: 16
        color: Qt.rgba(1, 1, 1, 0.05)
        ColumnLayout {
            id: column
            width: parent.width
            spacing: 0
        }
    }
    component Hairline: Rectangle {
        Layout.fillWidth: true
        Layout.leftMargin: 16
        implicitHeight: 1
        color: Qt.rgba(1, 1, 1, 0.08)
    }

    Flickable {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: header.bottom
        anchors.bottom: parent.bottom
        anchors.topMargin: 16
        contentHeight: content.implicitHeight + 40
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: content
            width: Math.min(parent.width - 40, 560)
            x: Math.round((parent.width - width) / 2)
            spacing: 12

            Group {
                QSwitchRow {
                    id: breakUnlockRow
                    objectName: "unlockDuringBreaksRow"
                    Layout.fillWidth: true
                    title: "Unlock during breaks"
                    caption: "Allow access to blocked apps during break intervals"
                    checked: focusManager.unlockDuringBreak
                    // Turning it on asks first; turning it off does not.
                    onToggled: wanted => {
                        if (wanted) breakUnlockWarning.open()
                        else focusManager.unlockDuringBreak = false
                    }
                }
                Hairline {}
                QSwitchRow {
                    objectName: "sessionNotificationsRow"
                    Layout.fillWidth: true
                    title: "Session notifications"
                    caption: "Show a notification when switching between study and break"
                    checked: focusManager.sessionStateNotificationsEnabled
                    onToggled: wanted => focusManager.sessionStateNotificationsEnabled = wanted
                }
            }

            QLabel {
                Layout.topMargin: 12
                Layout.leftMargin: 4
                text: "Mac Settings"
                font.pixelSize: 14
                font.weight: Font.Medium
                color: Theme.textSecondary
            }
            Group {
                QSwitchRow {
                    objectName: "showMenuBarTimerRow"
                    Layout.fillWidth: true
                    title: "Show Menu Bar Timer"
                    checked: appSettings.showMenuBarIcon
                    onToggled: wanted => appSettings.showMenuBarIcon = wanted
                }
                Hairline {}
                QSwitchRow {
                    objectName: "hideWhenConnectedRow"
                    Layout.fillWidth: true
                    title: "Hide when iPhone connected"
                    caption: "Hides the menu bar timer if you are synced with an iPhone (to avoid duplication with iPhone widgets)."
                    checked: appSettings.hideMenuBarWhenConnected
                    onToggled: wanted => appSettings.hideMenuBarWhenConnected = wanted
                }
            }

            SettingsButtonContent {
                objectName: "previewFocusRow"
                Layout.fillWidth: true
                Layout.topMargin: 12
                title: "Preview Focus"
                subtitle: "Test your blocking setup"
                symbol: "eye.fill"
                color: Theme.accentPink
                onClicked: focusManager.startPreview()
            }
        }
    }

    QAlert {
        id: breakUnlockWarning
        objectName: "breakUnlockAlert"
        title: "Are you sure?"
        message: "Going straight back into scrolling during breaks often makes it harder to focus. Use this feature sparingly."
        buttons: [{ text: "Cancel", role: "cancel" }, { text: "Enable", role: "default" }]
        onButtonClicked: (index, text, role) => {
            if (role === "default") focusManager.unlockDuringBreak = true
        }
    }
}
