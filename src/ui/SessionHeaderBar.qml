import QtQuick
import QtQuick.Layouts

// The top row of a session screen: the app's name and one round symbol
// button at the trailing end.
RowLayout {
    id: header

    property string symbol
    property alias button: roundButton

    signal buttonClicked()

    QLabel {
        text: "quillmoss"
        color: Theme.accentPink
        font.pixelSize: 20
        font.weight: Font.DemiBold
        Layout.fillWidth: true
    }
    QRoundButton {
        id: roundButton
        symbol: header.symbol
        symbolSize: 16
        onClicked: header.buttonClicked()
    }
}
