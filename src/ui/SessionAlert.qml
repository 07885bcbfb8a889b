import QtQuick
import QtQuick.Controls

// A modal alert: a title, a message and a few buttons, each with a role.
//   buttons: [{ text: "Cancel", role: "cancel" }, { text: "Unlock", role: "destructive" }]
// "cancel" buttons are quiet and also answer Escape; "destructive" ones are
// red; anything else is the accent colour. Every button closes the alert and
// reports its text through buttonClicked().
Popup {
    id: alert

    property string title
    property string message
    property var buttons: [{ text: "OK", role: "cancel" }]

    signal buttonClicked(string text)

    // Set by a button, so that closing afterwards is not taken as Escape.
    property bool _answered: false

    readonly property bool hasCancel: buttons.some(b => b.role === "cancel")
    // Long labels do not fit side by side in a narrow alert.
    readonly property bool stacked: buttons.length > 2 || buttons.some(b => b.text.length > 14)

    function choose(text) {
        close()
        buttonClicked(text)
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(340, (parent ? parent.width : 340) - 40)
    modal: true
    focus: true
    padding: 22
    closePolicy: hasCancel ? Popup.CloseOnEscape : Popup.NoAutoClose
    onClosed: if (!_answered && hasCancel) buttonClicked(buttons.find(b => b.role === "cancel").text)
    onAboutToShow: _answered = false

    font.family: Theme.fontFamily

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.55) }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 150 }
        NumberAnimation { property: "scale"; from: 0.94; to: 1; duration: 150; easing.type: Easing.OutQuad }
    }
    exit: Transition {
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 120 }
    }

    background: Rectangle {
        radius: 22
        color: "#1f1f26"
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    contentItem: Column {
        spacing: 18

        Column {
            width: parent.width
            spacing: 8
            Text {
                objectName: "alertTitle"
                width: parent.width
                text: alert.title
                color: Theme.textPrimary
                font.family: Theme.fontFamily
                font.pixelSize: 20
                font.weight: Font.DemiBold
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
            }
            Text {
                objectName: "alertMessage"
                width: parent.width
                visible: text.length > 0
                text: alert.message
                color: Qt.rgba(1, 1, 1, 0.75)
                font.family: Theme.fontFamily
                font.pixelSize: 15
                lineHeight: 1.15
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
            }
        }

        Flow {
            width: parent.width
            spacing: 10
            Repeater {
                model: alert.buttons
                delegate: Button {
                    id: choice
                    required property var modelData
                    objectName: "alertButton:" + modelData.text
                    text: modelData.text
                    width: alert.stacked ? parent.width : (parent.width - 10 * (alert.buttons.length - 1)) / alert.buttons.length
                    height: 44
                    font.family: Theme.fontFamily
                    font.pixelSize: 16
                    font.weight: Font.Medium
                    onClicked: {
                        alert._answered = true
                        alert.choose(modelData.text)
                    }
                    contentItem: Text {
                        text: choice.text
                        font: choice.font
                        color: choice.modelData.role === "cancel" ? Theme.textPrimary : "white"
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        elide: Text.ElideRight
                    }
                    background: Rectangle {
                        radius: 14
                        color: {
                            const role = choice.modelData.role
                            const base = role === "destructive" ? Theme.palette.red
                                       : role === "cancel" ? Qt.rgba(1, 1, 1, 0.1) : Theme.accentPink
                            return choice.down ? Qt.darker(base, 1.25) : base
                        }
                    }
                }
            }
        }
    }
}
