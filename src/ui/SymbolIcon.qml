import QtQuick
import QtQuick.Controls.impl

// A symbol by name, drawn in one colour at a square size.
IconImage {
    property string symbol
    property real size: 24
    source: symbol.length > 0 ? Symbols.source(symbol) : ""
    sourceSize: Qt.size(size, size)
    width: size
    height: size
    color: "white"
    fillMode: Image.PreserveAspectFit
}
