import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The settings sheet: a navigation stack whose first page lists the
// entries; pages are pushed onto it, the picker opens as a sheet above it.
FocusScope {
    id: settings
    objectName: "settingsView"

    readonly property string privacyPolicyAddress: "https://quillmoss.app/privacy"
    readonly property alias stack: stack

    signal closeRequested()

    function openPage(file) {
        const page = stack.push(file)
        if (page && page.closeRequested) page.closeRequested.connect(() => stack.pop())
    }
    function openPicker() { pickerSheet.open() }
    function openExternally(url) {
        if (url.toString().length > 0) Qt.openUrlExternally(url)
    }

    // Escape steps back a page, then closes the sheet.
    Keys.onEscapePressed: {
        if (stack.depth > 1) stack.pop()
        else closeRequested()
    }

    GradientBackground { anchors.fill: parent }

    StackView {
        id: stack
        objectName: "settingsStack"
        anchors.fill: parent
        focus: true
        initialItem: listPage
    }

    Component {
        id: listPage
        FocusScope {
            objectName: "settingsList"

            RowLayout {
                id: header
                width: Math.min(parent.width - 40, 560)
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: parent.top
                anchors.topMargin: 24
                QLabel {
                    Layout.fillWidth: true
                    text: "settings"
                    font.pixelSize: 24
                    font.weight: Font.Medium
                }
                QRoundButton {
                    objectName: "settingsDismissButton"
                    symbol: "chevron.down"
                    symbolSize: 16
                    Accessible.name: "close settings"
                    onClicked: settings.closeRequested()
                }
            }

            Flickable {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: header.bottom
                anchors.bottom: parent.bottom
                anchors.topMargin: 16
                contentHeight: entries.implicitHeight + 40
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}

                ColumnLayout {
                    id: entries
                    width: Math.min(parent.width - 40, 560)
                    x: Math.round((parent.width - width) / 2)
                    spacing: 12

                    SettingsButtonContent {
                        objectName: "appsAndWebsitesRow"
                        Layout.fillWidth: true
                        title: "Apps & Websites"
                        subtitle: focusManager.allowedApps.length + " allowed, "
                                  + focusManager.blockedSites.length + " blocked"
                        symbol: "hand.raised.fill"
                        color: Theme.accentPink
                        onClicked: settings.openPicker()
                    }
                    SettingsButtonContent {
                        objectName: "miscRow"
                        Layout.fillWidth: true
                        title: "Miscellaneous"
                        subtitle: "Preview, Break, Notification settings"
                        symbol: "gear"
                        color: Theme.palette["grey"]
                        onClicked: settings.openPage("MiscSettingsView.qml")
                    }
                    SettingsButtonContent {
                        objectName: "feedbackRow"
                        Layout.fillWidth: true
                        title: "Send Feedback"
                        subtitle: "Help us improve"
                        symbol: "bubble.left.and.bubble.right.fill"
                        color: Theme.palette["pink"]
                        onClicked: settings.openExternally(statistics.feedbackURL())
                    }
                    SettingsButtonContent {
                        objectName: "privacyRow"
                        Layout.fillWidth: true
                        title: "Privacy Policy"
                        subtitle: "Data collection info"
                        symbol: "lock.doc.fill"
                        color: Theme.palette["grey"]
                        onClicked: settings.openExternally(settings.privacyPolicyAddress)
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        Layout.topMargin: 20
                        spacing: 4
                        QLabel {
                            objectName: "versionText"
                            Layout.alignment: Qt.AlignHCenter
                            text: "Version " + "1.0.0"
                            font.pixelSize: 13
                            color: Theme.textSecondary
                        }
                        QLabel {
                            objectName: "deviceIdText"
                            Layout.fillWidth: true
                            horizontalAlignment: Text.AlignHCenter
                            text: "Device ID: " + deviceIds.deviceID
                            font.pixelSize: 11
                            color: Qt.rgba(1, 1, 1, 0.35)
                            wrapMode: Text.WrapAnywhere
                        }
                    }
                }
            }
        }
    }

    QSheet {
        id: pickerSheet
        objectName: "pickerSheet"
        source: "FamilyActivityPickerView.qml"
        preferredWidth: 700
        preferredHeight: 600
    }
}
