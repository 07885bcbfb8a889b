import QtQuick
import QtQuick.Controls

// The app and site picker as a sheet over onboarding. The picker is created
// afresh each time the sheet opens (so it starts from the saved selection)
// and asks to be closed with closeRequested(); Escape closes it too,
// discarding its edits.
Popup {
    id: sheet

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(740, (parent ? parent.width : 740) - 16)
    height: Math.min(640, (parent ? parent.height : 640) - 16)
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.6) }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 180 }
        NumberAnimation { property: "scale"; from: 0.96; to: 1; duration: 180; easing.type: Easing.OutQuad }
    }
    exit: Transition {
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 150 }
    }

    background: Rectangle {
        radius: 22
        gradient: Gradient {
            GradientStop { position: 0; color: Theme.bgGradientStart }
            GradientStop { position: 1; color: Theme.bgGradientEnd }
        }
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    contentItem: Item {
        Loader {
            id: picker
            objectName: "pickerLoader"
            anchors.fill: parent
            active: sheet.visible
            source: "FamilyActivityPickerView.qml"
        }
        Connections {
            target: picker.item
            ignoreUnknownSignals: true
            function onDismissRequested() { sheet.close() }
        }
        // Until the picker is part of the build, say so instead of showing
        // an empty sheet.
        Column {
            anchors.centerIn: parent
            visible: picker.status === Loader.Error
            spacing: 16
            Text {
                text: "The app and site picker is not available."
                color: Qt.rgba(1, 1, 1, 0.7)
                font.family: Theme.fontFamily
                font.pixelSize: 16
            }
            SessionPrimaryButton {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Close"
                onClicked: sheet.close()
            }
        }
    }
}
