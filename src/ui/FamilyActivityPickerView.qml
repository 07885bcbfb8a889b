import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Edits the allow-list of apps and the block-list of sites on a private
// copy; only "Save" writes them back (Escape cancels, Return saves).
// Wide enough, the two lists sit side by side, each scrolling on its own;
// narrower than 600 the columns stack and the page scrolls as a whole, so
// every field and row stays usable in a 400-wide window.
FocusScope {
    id: picker
    objectName: "pickerView"

    readonly property bool narrow: width < 600
    readonly property alias appField: appsColumn.field
    readonly property alias siteField: sitesColumn.field

    signal closeRequested()

    function entries(model) {
        const list = []
        for (let i = 0; i < model.count; ++i) list.push(model.get(i).entry)
        return list
    }
    function appEntries() { return entries(appsModel) }
    function siteEntries() { return entries(sitesModel) }
    function fill(model, list) {
        model.clear()
        for (let i = 0; i < list.length; ++i) model.append({ entry: list[i] })
    }
    // Entries are taken as typed: no trimming, no duplicate check.
    function addApp() {
        if (appField.text.length === 0) return
        appsModel.append({ entry: appField.text })
        appField.clear()
        appsColumn.scrollToEnd()
    }
    function addSite() {
        if (siteField.text.length === 0) return
        sitesModel.append({ entry: siteField.text })
        siteField.clear()
        sitesColumn.scrollToEnd()
    }
    function addAllOpenApps() {
        const all = services.withAllOpenApps(appEntries())
        // The service only appends after what it was given.
        for (let i = appsModel.count; i < all.length; ++i) appsModel.append({ entry: all[i] })
        appsColumn.scrollToEnd()
    }
    function save() {
        focusManager.applySelection(appEntries(), siteEntries())
        closeRequested()
    }
    function cancel() { closeRequested() }

    Component.onCompleted: {
        fill(appsModel, focusManager.allowedApps)
        fill(sitesModel, focusManager.blockedSites)
    }

    Keys.onEscapePressed: cancel()
    Keys.onReturnPressed: save()
    Keys.onEnterPressed: save()

    ListModel { id: appsModel }
    ListModel { id: sitesModel }

    Rectangle {
        anchors.fill: parent
        radius: 20
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
        gradient: Gradient {
            GradientStop { position: 0; color: Theme.bgGradientStart }
            GradientStop { position: 1; color: Theme.bgGradientEnd }
        }
    }

    // One list with its title, entry row and rows.
    component PickerColumn: ColumnLayout {
        id: column
        property string title
        property string prefix
        property alias model: list.model
        property alias field: entryField
        property alias placeholder: entryField.placeholderText
        property bool offersOpenApps: false

        signal add()
        signal remove(int index)

        function scrollToEnd() { Qt.callLater(list.positionViewAtEnd) }

        spacing: 10

        QLabel {
            text: column.title
            font.pixelSize: 20
            font.weight: Font.DemiBold
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            QTextField {
                id: entryField
                objectName: column.prefix + "Field"
                Layout.fillWidth: true
                font.pixelSize: 14
            }
            QButton {
                objectName: column.prefix + "AddButton"
                leftPadding: 12
                rightPadding: 12
                text: "Add"
                enabled: entryField.text.length > 0
                onClicked: column.add()
            }
        }
        QButton {
            objectName: column.offersOpenApps ? "addAllOpenAppsButton" : ""
            visible: column.offersOpenApps
            text: "Add All Open Apps"
            onClicked: picker.addAllOpenApps()
        }
        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: !picker.narrow
            Layout.preferredHeight: picker.narrow ? contentHeight : -1
            Layout.minimumHeight: picker.narrow ? contentHeight : 60
            interactive: !picker.narrow
            clip: true
            spacing: 8
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: picker.narrow ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn
            }
            delegate: Rectangle {
                id: entryRow
                required property int index
                required property string entry
                width: ListView.view.width - (picker.narrow ? 0 : 14)
                implicitHeight: entryLayout.implicitHeight + 16
                radius: 6
                color: Qt.rgba(0.56, 0.56, 0.58, 0.1)
                RowLayout {
                    id: entryLayout
                    anchors.fill: parent
                    anchors.margins: 8
                    spacing: 8
                    QLabel {
                        Layout.fillWidth: true
                        text: entryRow.entry
                        font.pixelSize: 14
                        wrapMode: Text.WrapAnywhere
                    }
                    AbstractButton {
                        objectName: column.prefix + "Remove_" + entryRow.index
                        implicitWidth: 22
                        implicitHeight: 22
                        hoverEnabled: true
                        Accessible.name: "remove " + entryRow.entry
                        onClicked: column.remove(entryRow.index)
                        contentItem: SymbolIcon {
                            symbol: "xmark.circle.fill"
                            size: 20
                            color: Theme.palette["red"]
                            opacity: parent.down ? 0.6 : parent.hovered ? 0.85 : 1
                        }
                    }
                }
            }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 16

        QLabel {
            Layout.fillWidth: true
            text: "Choose apps to allow and websites to block during focus"
            font.pixelSize: Theme.bodySize
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        Flickable {
            id: body
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: width
            contentHeight: picker.narrow ? columns.implicitHeight : height
            interactive: picker.narrow
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: picker.narrow ? ScrollBar.AsNeeded : ScrollBar.AlwaysOff
            }

            GridLayout {
                id: columns
                width: body.width
                height: picker.narrow ? implicitHeight : body.height
                columns: picker.narrow ? 1 : 3
                columnSpacing: 20
                rowSpacing: 20

                PickerColumn {
                    id: appsColumn
                    Layout.fillWidth: true
                    Layout.fillHeight: !picker.narrow
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    title: "Allowed Apps"
                    prefix: "app"
                    model: appsModel
                    placeholder: "Bundle ID (e.g., com.apple.Safari)"
                    onAdd: picker.addApp()
                    offersOpenApps: true
                    onRemove: index => appsModel.remove(index)
                }
                Rectangle {
                    Layout.fillHeight: !picker.narrow
                    Layout.fillWidth: picker.narrow
                    implicitWidth: 1
                    implicitHeight: 1
                    color: Qt.rgba(1, 1, 1, 0.1)
                }
                PickerColumn {
                    id: sitesColumn
                    Layout.fillWidth: true
                    Layout.fillHeight: !picker.narrow
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    title: "Blocked Websites"
                    prefix: "site"
                    model: sitesModel
                    placeholder: "Domain (e.g., youtube.com)"
                    onAdd: picker.addSite()
                    onRemove: index => sitesModel.remove(index)
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            QButton {
                objectName: "cancelButton"
                text: "Cancel"
                onClicked: picker.cancel()
            }
            Item { Layout.fillWidth: true }
            QButton {
                objectName: "saveButton"
                text: "Save"
                prominent: true
                onClicked: picker.save()
            }
        }
    }
}
