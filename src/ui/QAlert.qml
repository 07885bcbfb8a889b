import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A modal alert over the whole window: a title, a message and its buttons.
// Each entry of `buttons` is { text, role } with role "cancel" (also chosen
// by Escape), "default" (also chosen by Return, drawn bold), "destructive"
// (drawn red) or nothing. Any button closes the alert, then
// buttonClicked(index, text, role) is emitted. Buttons can be found by
// objectName "alertButton_" + text.
Popup {
    id: alert
    property string title
    property string message
    property var buttons: [{ text: "OK", role: "cancel" }]

    signal buttonClicked(int index, string text, string role)

    function indexOfRole(role) {
        for (let i = 0; i < buttons.length; ++i)
            if (buttons[i].role === role) return i
        return -1
    }
    // Closes the alert as if the button at `index` had been pressed.
    function choose(index) {
        if (index < 0 || index >= buttons.length) return
        const entry = buttons[index]
        close()
        buttonClicked(index, entry.text, entry.role || "")
    }

    parent: Overlay.overlay
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    width: parent ? Math.min(300, parent.width - 48) : 300
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose
    padding: 0

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.55) }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 150 }
        NumberAnimation { property: "scale"; from: 1.1; to: 1; duration: 180; easing.type: Easing.OutCubic }
    }
    exit: Transition {
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 120 }
    }

    background: Rectangle {
        radius: 18
        color: "#25252b"
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    contentItem: FocusScope {
        focus: true
        implicitHeight: column.implicitHeight
        Keys.onEscapePressed: alert.choose(alert.indexOfRole("cancel"))
        Keys.onReturnPressed: alert.choose(alert.indexOfRole("default"))
        Keys.onEnterPressed: alert.choose(alert.indexOfRole("default"))

        ColumnLayout {
            id: column
            width: parent.width
            spacing: 0

            QLabel {
                Layout.fillWidth: true
                Layout.topMargin: 20
                Layout.leftMargin: 20
                Layout.rightMargin: 20
                text: alert.title
                font.pixelSize: 18
                font.weight: Font.DemiBold
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }
            QLabel {
                Layout.fillWidth: true
                Layout.topMargin: 6
                Layout.leftMargin: 20
                Layout.rightMargin: 20
                visible: alert.message.length > 0
                text: alert.message
                font.pixelSize: 14
                color: Qt.rgba(1, 1, 1, 0.75)
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                lineHeight: 1.1
            }
            Item { Layout.preferredHeight: 18 }

            // Two buttons side by side, otherwise one under the other.
            GridLayout {
                Layout.fillWidth: true
                columns: alert.buttons.length === 2 ? 2 : 1
                columnSpacing: 0
                rowSpacing: 0

                Repeater {
                    model: alert.buttons
                    delegate: AbstractButton {
                        id: choice
                        required property var modelData
                        required property int index
                        readonly property string role: modelData.role || ""
                        objectName: "alertButton_" + modelData.text
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        implicitHeight: 46
                        hoverEnabled: true
                        onClicked: alert.choose(index)

                        background: Rectangle {
                            color: choice.down ? Qt.rgba(1, 1, 1, 0.1) : choice.hovered ? Qt.rgba(1, 1, 1, 0.05) : "transparent"
                            radius: 0
                            // Hairlines between the buttons and above them.
                            Rectangle { width: parent.width; height: 1; color: Qt.rgba(1, 1, 1, 0.1) }
                            Rectangle {
                                visible: alert.buttons.length === 2 && choice.index === 1
                                width: 1; height: parent.height
                                color: Qt.rgba(1, 1, 1, 0.1)
                            }
                        }
                        contentItem: QLabel {
                            text: choice.modelData.text
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                            font.pixelSize: 16
                            font.weight: choice.role === "default" ? Font.DemiBold : Font.Normal
                            color: choice.role === "destructive" ? Theme.palette["red"] : Theme.accentPink
                            elide: Text.ElideRight
                        }
                    }
                }
            }
        }
    }
}
