pragma Singleton
import QtQuick

// The one place that maps the symbol names the screens use to the bundled
// icon files (src/ui/icons/<name with dots as dashes>.svg, monochrome, tinted
// by SymbolIcon).
QtObject {
    readonly property var known: [
        "person.2.fill", "person.3.fill", "person.fill", "lock.fill", "lock.open.fill", "lock.slash.fill",
        "lock.doc.fill", "arrow.clockwise", "antenna.radiowaves.left.and.right", "gearshape.fill", "gear",
        "chevron.down", "chevron.right", "chevron.left", "iphone.gen3", "iphone.radiowaves.left.and.right",
        "iphone.slash", "qrcode", "chart.bar.fill", "hand.raised.fill", "bubble.left.and.bubble.right.fill",
        "eye.fill", "speaker.slash.fill", "speaker.wave.2.fill", "xmark.circle.fill", "checkmark", "minus",
        "plus", "cup.and.saucer.fill", "brain", "brain.head.profile", "info.circle.fill",
        "laptopcomputer.and.iphone", "slider.horizontal.3", "logo"
    ]

    function source(name) {
        return "qrc:/Quillmoss/icons/" + name.replace(/\./g, "-") + ".svg"
    }
}
