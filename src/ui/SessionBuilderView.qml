import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The sheet on which a session is composed: a subject and a plan of study
// and break blocks, started from here or previewed first.
//
// The hosting sheet creates this view when it opens and destroys it when it
// closes: the draft is saved (and lobby guests are told that setup stopped)
// on destruction, however the sheet was closed. closeRequested() asks the
// host to close the sheet.
Item {
    id: builder

    signal closeRequested()

    readonly property int defaultStudySeconds: 1500
    readonly property int defaultBreakSeconds: 300

    property string subject: "Study Session"
    // A start is under way: closing then keeps lobby guests in "setting up".
    property bool isSessionStarting: false
    // Set once the draft has been saved on the way out.
    property bool _closed: false

    // The plan being edited, in order: { blockId, type ("Study"/"Break"), duration }.
    property alias blockModel: blockModel
    readonly property real totalDuration: {
        let sum = 0
        for (let i = 0; i < blockModel.count; ++i) sum += blockModel.get(i).duration
        return sum
    }
    readonly property bool canStart: blockModel.count > 0

    ListModel { id: blockModel }

    function blocks() {
        const list = []
        for (let i = 0; i < blockModel.count; ++i) {
            const b = blockModel.get(i)
            const entry = { type: b.type, duration: b.duration }
            if (b.blockId.length > 0) entry.id = b.blockId
            list.push(entry)
        }
        return list
    }

    function appendBlock(type, seconds) {
        blockModel.append({ blockId: "", type: type, duration: seconds })
    }

    function removeLastBlock() {
        if (blockModel.count > 0) blockModel.remove(blockModel.count - 1)
    }

    function appear() {
        focusManager.loadBuilderState()
        const stored = focusManager.builderBlocks
        if (stored.length > 0) {
            blockModel.clear()
            for (let i = 0; i < stored.length; ++i)
                blockModel.append({ blockId: stored[i].id, type: stored[i].type, duration: stored[i].duration })
            subject = focusManager.builderSubject
        }
        services.sendSetupStatus(true)
    }

    function disappear() {
        if (_closed) return
        _closed = true
        focusManager.saveBuilderStateWithBlocks(blocks(), subject)
        if (!isSessionStarting) services.sendSetupStatus(false)
    }

    function dismiss() { closeRequested() }

    function requestStart() {
        if (!canStart) return
        if (!appSettings.hasStartedFirstSession) firstSessionAlert.open()
        else start()
    }

    function start() {
        if (!canStart) return
        isSessionStarting = true
        appSettings.hasStartedFirstSession = true
        // The subject goes over exactly as typed.
        focusManager.startSessionWithBlocks(subject, blocks(), totalDuration)
        dismiss()
    }

    function previewFirst() {
        appSettings.hasStartedFirstSession = true
        focusManager.saveBuilderStateWithBlocks(blocks(), subject)
        // The home screen reopens the builder when the preview ends.
        focusManager.shouldRestoreBuilder = true
        focusManager.startPreview()
        dismiss()
    }

    Component.onCompleted: appear()
    Component.onDestruction: disappear()

    SessionBackground {}

    Flickable {
        id: scroller
        anchors.fill: parent
        contentWidth: width
        contentHeight: Math.max(height, content.implicitHeight + 48)
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        ColumnLayout {
            id: content
            x: Math.max(24, (parent.width - width) / 2)
            y: 20
            width: Math.min(560, scroller.width - 48)
            height: scroller.contentHeight - 44
            spacing: 0

            SessionHeaderBar {
                Layout.fillWidth: true
                symbol: "chevron.down"
                button.objectName: "dismissButton"
                onButtonClicked: builder.dismiss()
            }

            Text {
                text: "build your sesh"
                color: Theme.textPrimary
                font.family: Theme.fontFamily
                font.pixelSize: 34
                font.weight: Font.Bold
                Layout.topMargin: 18
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
            }

            // Subject
            Text {
                text: "Session Title"
                color: Theme.textSecondary
                font.family: Theme.fontFamily
                font.pixelSize: 15
                font.weight: Font.Medium
                Layout.topMargin: 28
            }
            TextField {
                id: subjectField
                objectName: "subjectField"
                Layout.fillWidth: true
                Layout.topMargin: 8
                implicitHeight: 52
                leftPadding: 16
                rightPadding: 16
                text: builder.subject
                onTextEdited: builder.subject = text
                placeholderText: "e.g. Math Study"
                placeholderTextColor: Qt.rgba(1, 1, 1, 0.35)
                color: "white"
                selectionColor: Theme.accentPink
                font.family: Theme.fontFamily
                font.pixelSize: 17
                background: Rectangle {
                    radius: 14
                    color: Qt.rgba(1, 1, 1, 0.08)
                    border.width: subjectField.activeFocus ? 1.5 : 0
                    border.color: Theme.accentPink
                }
            }

            // Plan
            Item {
                Layout.fillWidth: true
                Layout.topMargin: 28
                implicitHeight: blocksTitle.implicitHeight
                Text {
                    id: blocksTitle
                    text: "Session Blocks"
                    color: Theme.textSecondary
                    font.family: Theme.fontFamily
                    font.pixelSize: 15
                    font.weight: Font.Medium
                }
                Text {
                    objectName: "totalText"
                    anchors.right: parent.right
                    anchors.baseline: blocksTitle.baseline
                    visible: blockModel.count > 0
                    text: formatter.planMinutesText(builder.totalDuration)
                    color: Theme.textPrimary
                    font.family: Theme.fontFamily
                    font.pixelSize: 15
                    font.weight: Font.DemiBold
                }
            }
            Text {
                text: "Tip: Hold buttons for custom duration"
                color: Qt.rgba(1, 1, 1, 0.4)
                font.family: Theme.fontFamily
                font.pixelSize: 13
                Layout.topMargin: 2
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
            }

            SessionBuilderBlockBar {
                objectName: "blockBar"
                Layout.fillWidth: true
                Layout.topMargin: 12
                model: blockModel
                totalDuration: builder.totalDuration
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.topMargin: 14
                spacing: 10

                SessionBuilderAddButton {
                    id: addStudyButton
                    objectName: "addStudyButton"
                    text: "add study block"
                    tint: Theme.studyColor
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    onClicked: builder.appendBlock("Study", builder.defaultStudySeconds)
                    onPressAndHold: studyMenu.open()
                }
                SessionBuilderAddButton {
                    id: addBreakButton
                    objectName: "addBreakButton"
                    text: "add break block"
                    tint: Theme.breakColor
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    onClicked: builder.appendBlock("Break", builder.defaultBreakSeconds)
                    onPressAndHold: breakMenu.open()
                }
                Button {
                    id: removeButton
                    objectName: "removeButton"
                    implicitWidth: 56
                    implicitHeight: 64
                    enabled: blockModel.count > 0
                    opacity: enabled ? 1 : 0.4
                    onClicked: builder.removeLastBlock()
                    contentItem: Item {
                        SymbolIcon { anchors.centerIn: parent; symbol: "minus"; size: 18; color: "white" }
                    }
                    background: Rectangle {
                        radius: 16
                        color: Qt.rgba(1, 1, 1, removeButton.down ? 0.2 : 0.1)
                    }
                }
            }

            Item { Layout.fillHeight: true; Layout.minimumHeight: 32 }

            SessionPrimaryButton {
                id: startButton
                objectName: "startButton"
                Layout.fillWidth: true
                text: "lock & start sesh"
                symbol: "lock.fill"
                enabled: builder.canStart
                onClicked: builder.requestStart()
            }
        }
    }

    SessionBuilderDurationMenu {
        id: studyMenu
        objectName: "studyDurationMenu"
        parent: addStudyButton
        width: Math.min(320, builder.width - 32)
        margins: 12
        y: -height - 8
        blockType: "Study"
        maxMinutes: 55
        tint: Theme.studyColor
        onChosen: minutes => builder.appendBlock("Study", minutes * 60)
    }
    SessionBuilderDurationMenu {
        id: breakMenu
        objectName: "breakDurationMenu"
        parent: addBreakButton
        width: Math.min(320, builder.width - 32)
        margins: 12
        x: addBreakButton.width - width
        y: -height - 8
        blockType: "Break"
        maxMinutes: 25
        tint: Theme.breakColor
        onChosen: minutes => builder.appendBlock("Break", minutes * 60)
    }

    SessionAlert {
        id: firstSessionAlert
        objectName: "firstSessionAlert"
        title: "First Session?"
        message: "Would you like to preview your blocking settings to make sure everything is set up correctly? You can exit preview mode at any time."
        buttons: [{ text: "Preview Blocking First", role: "default" }, { text: "Start Session", role: "default" }]
        onButtonClicked: text => {
            if (text === "Start Session") builder.start()
            else builder.previewFirst()
        }
    }
}
