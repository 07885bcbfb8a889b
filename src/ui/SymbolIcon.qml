import QtQuick
import QtQuick.Controls.impl

// A symbol by name, drawn in one colour at a square size.
IconImage {
    property string name
    property real size: 24
    source: name.length > 0 ? Symbols.source(name) : ""
    sourceSize: Qt.size(size, size)
    width: size
    height: size
    color: "white"
    fillMode: Image.PreserveAspectFit
}
