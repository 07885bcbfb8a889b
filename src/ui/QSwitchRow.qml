import QtQuick
import QtQuick.Layouts

// A switch with its title and an optional caption below, switch at the
// right. `toggled(wanted)` reports a press; the owner changes `checked`.
Item {
    id: row
    property string title
    property string caption
    property bool checked
    readonly property alias control: toggle

    signal toggled(bool wanted)

    implicitHeight: layout.implicitHeight + 24
    implicitWidth: 300

    RowLayout {
        id: layout
        anchors.fill: parent
        anchors.margins: 12
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        spacing: 12
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            QLabel {
                Layout.fillWidth: true
                text: row.title
                font.pixelSize: 16
                wrapMode: Text.Wrap
            }
            QLabel {
                Layout.fillWidth: true
                visible: row.caption.length > 0
                text: row.caption
                font.pixelSize: 13
                color: Theme.textSecondary
                wrapMode: Text.Wrap
            }
        }
        QSwitch {
            id: toggle
            Layout.alignment: Qt.AlignVCenter
            checked: row.checked
            Accessible.name: row.title
            onClicked: {
                row.toggled(!row.checked)
                // A dragged knob can set the switch itself; the owner's value rules.
                checked = Qt.binding(() => row.checked)
            }
        }
    }
}
