import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The home screen: the greeting, "start a study sesh", "repeat last
// session" and the settings button, with the sheets and the survey offer
// that belong to it.
Item {
    id: home
    objectName: "homeScreen"

    readonly property string greeting: {
        appSettings.userName // the display name follows the stored one
        return formatter.greetingForHour(appClock.hour) + ", " + appSettings.displayName()
    }
    readonly property var lastPlan: focusManager.lastSessionBlocks
    readonly property real lastPlanTotal: {
        let sum = 0
        for (let i = 0; i < lastPlan.length; ++i) sum += lastPlan[i].duration
        return sum
    }

    function showSessionBuilder() { builderSheet.open() }
    function showSettings() { settingsSheet.open() }
    function closeSheets() {
        builderSheet.close()
        settingsSheet.close()
    }
    function syncSurvey() {
        if (focusManager.showSurveyOnHome) {
            if (!surveyAlert.visible) surveyAlert.open()
        } else {
            surveyAlert.close()
        }
    }

    // Once the screen is in its window: an alert needs one to open in.
    Component.onCompleted: Qt.callLater(syncSurvey)
    Connections {
        target: focusManager
        function onShowSurveyOnHomeChanged() { home.syncSurvey() }
    }

    ColumnLayout {
        // A wide window keeps the cards at a readable width, centred.
        width: Math.min(parent.width - 48, 560)
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.topMargin: 48
        anchors.bottomMargin: 24
        spacing: 20

        ColumnLayout {
            Layout.fillWidth: true
            Layout.bottomMargin: 8
            spacing: 6
            QLabel {
                objectName: "greetingText"
                Layout.fillWidth: true
                text: home.greeting
                font.pixelSize: 28
                font.weight: Font.Medium
                wrapMode: Text.Wrap
            }
            QLabel {
                Layout.fillWidth: true
                text: "ready to lock in?"
                font.pixelSize: 20
                color: Theme.textSecondary
            }
        }

        QCard {
            id: startCard
            objectName: "startCard"
            Layout.fillWidth: true
            Layout.preferredHeight: 140
            radius: 30
            fill: Theme.accentPink
            fillEnd: Qt.darker(Theme.accentPink, 1.35)
            padding: 20
            Accessible.name: "start a study sesh"
            onClicked: home.showSessionBuilder()

            contentItem: Item {
                ColumnLayout {
                    anchors.left: parent.left
                    anchors.bottom: parent.bottom
                    spacing: -2
                    QLabel {
                        text: "start a"
                        font.pixelSize: 24
                        color: Qt.rgba(1, 1, 1, 0.85)
                    }
                    QLabel {
                        text: "study sesh"
                        font.pixelSize: 32
                        font.weight: Font.DemiBold
                    }
                }
                SymbolIcon {
                    anchors.right: parent.right
                    anchors.top: parent.top
                    symbol: "lock.fill"
                    size: 40
                    color: "white"
                }
            }
        }

        QCard {
            id: repeatCard
            objectName: "repeatCard"
            visible: home.lastPlan.length > 0
            Layout.fillWidth: true
            radius: 24
            padding: 18
            Accessible.name: "repeat last session"
            onClicked: focusManager.repeatLastSession()

            contentItem: ColumnLayout {
                spacing: 14
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 10
                    SymbolIcon {
                        symbol: "arrow.clockwise"
                        size: 16
                        color: Theme.accentPink
                    }
                    QLabel {
                        Layout.fillWidth: true
                        text: "repeat last session"
                        font.pixelSize: 18
                        elide: Text.ElideRight
                    }
                    QLabel {
                        objectName: "repeatTotalText"
                        text: formatter.planMinutesText(home.lastPlanTotal)
                        font.pixelSize: 14
                        color: Theme.textSecondary
                    }
                }
                BlockStrip {
                    Layout.fillWidth: true
                    blocks: home.lastPlan
                }
            }
        }

        Item { Layout.fillHeight: true }

        QRoundButton {
            objectName: "settingsButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 60
            Layout.preferredHeight: 60
            symbol: "gearshape.fill"
            symbolSize: 24
            Accessible.name: "settings"
            onClicked: home.showSettings()
        }
    }

    QSheet {
        id: settingsSheet
        objectName: "settingsSheet"
        source: "ContentView.qml"
    }
    QSheet {
        id: builderSheet
        objectName: "builderSheet"
        source: "SessionBuilderView.qml"
    }

    QAlert {
        id: surveyAlert
        objectName: "surveyAlert"
        title: "Enjoying quillmoss?"
        message: "We'd love to hear your thoughts to make the app even better!"
        buttons: [{ text: "Give Feedback", role: "default" }, { text: "Not Now", role: "cancel" }]
        onButtonClicked: (index, text, role) => {
            if (role !== "cancel") {
                const url = focusManager.currentSurveyURL.toString()
                if (url.length > 0) Qt.openUrlExternally(url)
            }
            focusManager.showSurveyOnHome = false
        }
    }
}
