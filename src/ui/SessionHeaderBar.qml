import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The top row of a session screen: the app's name and one round symbol
// button at the trailing end.
RowLayout {
    id: header

    property string symbol
    property alias button: roundButton

    signal buttonClicked()

    Text {
        text: "quillmoss"
        color: Theme.accentPink
        font.family: Theme.fontFamily
        font.pixelSize: 20
        font.weight: Font.DemiBold
        Layout.fillWidth: true
    }
    RoundButton {
        id: roundButton
        implicitWidth: 40
        implicitHeight: 40
        onClicked: header.buttonClicked()
        contentItem: Item {
            SymbolIcon { anchors.centerIn: parent; symbol: header.symbol; size: 18; color: "white" }
        }
        background: Rectangle {
            radius: 20
            color: Qt.rgba(1, 1, 1, roundButton.down ? 0.2 : 0.1)
        }
    }
}
