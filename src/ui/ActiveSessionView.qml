import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Shapes

// The running session: the current stage, the time left in it, the plan and
// the emergency way out. Refreshes on every tick of the app's clock.
Item {
    id: view

    // Seconds left in the current block.
    property real timeRemaining: 0
    property int currentIndex: -1
    readonly property var blocks: focusManager.currentBlocks
    readonly property real currentBlockDuration: currentIndex >= 0 && currentIndex < blocks.length
                                                 ? blocks[currentIndex].duration : 0
    // An empty plan runs as one open-ended study period.
    readonly property string stage: blocks.length === 0 ? "Study"
                                  : currentIndex >= 0 && currentIndex < blocks.length ? blocks[currentIndex].type : ""
    readonly property color stageColor: stage === "Break" ? Theme.breakColor : Theme.studyColor

    function msOf(date) {
        if (!date) return NaN
        const ms = date.getTime()
        return isNaN(ms) ? NaN : ms
    }

    function planTotal() {
        let sum = 0
        for (let i = 0; i < blocks.length; ++i) sum += blocks[i].duration
        return sum
    }

    // The session's start; without one, the end less the plan's length.
    function effectiveStartMs() {
        const start = msOf(focusManager.sessionStartTime)
        if (!isNaN(start)) return start
        const end = msOf(focusManager.sessionEndTime)
        return isNaN(end) ? NaN : end - planTotal() * 1000
    }

    // Index of the block current at `nowMs` (the later one at a boundary),
    // -1 when the plan is finished or there is no start.
    function blockIndexAt(nowMs) {
        const start = effectiveStartMs()
        if (isNaN(start)) return -1
        const elapsed = (nowMs - start) / 1000
        let sum = 0
        for (let i = 0; i < blocks.length; ++i) {
            sum += blocks[i].duration
            if (elapsed < sum) return i
        }
        return -1
    }

    function refresh(mayEnd) {
        const now = appClock.nowMs
        currentIndex = blockIndexAt(now)
        const end = msOf(focusManager.sessionEndTime)
        if (isNaN(end)) return
        if (now >= end) {
            timeRemaining = 0
            // The engine ignores a second request for the same end.
            if (mayEnd) Qt.callLater(() => focusManager.endSession())
            return
        }
        const elapsed = (now - effectiveStartMs()) / 1000
        let sum = 0
        for (let i = 0; i < blocks.length; ++i) {
            sum += blocks[i].duration
            if (sum > elapsed) {
                timeRemaining = sum - elapsed
                return
            }
        }
        timeRemaining = 0
    }

    function openUnlockDialog() {
        const allowed = unlockManager.canUnlock()
        unlockAlert.message = unlockManager.currentDialogMessage()
        unlockAlert.buttons = allowed
            ? [{ text: "Cancel", role: "cancel" }, { text: "Unlock", role: "destructive" }]
            : [{ text: "OK", role: "cancel" }]
        unlockAlert.open()
    }

    function unlock() {
        // Another device may have spent the allowance while the dialog was open.
        if (unlockManager.unlockIfAllowed()) Qt.callLater(() => focusManager.endSession())
    }

    Component.onCompleted: refresh(false)

    Connections {
        target: appClock
        function onTick() { view.refresh(true) }
    }
    Connections {
        target: focusManager
        function onCurrentBlocksChanged() { view.refresh(false) }
        function onSessionTimesChanged() { view.refresh(false) }
    }

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
                objectName: "sessionHeader"
                Layout.fillWidth: true
                symbol: focusManager.isMuted ? "speaker.slash.fill" : "speaker.wave.2.fill"
                button.objectName: "muteButton"
                onButtonClicked: focusManager.isMuted = !focusManager.isMuted
            }

            Item { Layout.fillHeight: true; Layout.minimumHeight: 16 }

            RowLayout {
                Layout.alignment: Qt.AlignHCenter
                spacing: 10
                SymbolIcon { symbol: "logo"; size: 30; color: Theme.accentPink }
                Text {
                    text: "Session in Progress"
                    color: Theme.textPrimary
                    font.family: Theme.fontFamily
                    font.pixelSize: 24
                    font.weight: Font.DemiBold
                }
            }

            Text {
                objectName: "stageText"
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 8
                text: "Current Stage: " + view.stage
                color: Qt.rgba(1, 1, 1, 0.7)
                font.family: Theme.fontFamily
                font.pixelSize: 17
            }

            // The time left, inside a ring that fills as the block runs.
            Item {
                id: dial
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 26
                readonly property real side: Math.min(250, content.width)
                implicitWidth: side
                implicitHeight: side
                readonly property real progress: view.currentBlockDuration > 0
                    ? Math.min(1, Math.max(0, 1 - view.timeRemaining / view.currentBlockDuration)) : 0

                Shape {
                    anchors.fill: parent
                    layer.enabled: true
                    layer.samples: 4
                    ShapePath {
                        strokeColor: Qt.rgba(1, 1, 1, 0.08)
                        strokeWidth: 12
                        fillColor: "transparent"
                        PathAngleArc {
                            centerX: dial.side / 2; centerY: dial.side / 2
                            radiusX: dial.side / 2 - 8; radiusY: dial.side / 2 - 8
                            startAngle: 0; sweepAngle: 360
                        }
                    }
                    ShapePath {
                        strokeColor: view.stageColor
                        strokeWidth: 12
                        fillColor: "transparent"
                        capStyle: ShapePath.RoundCap
                        PathAngleArc {
                            centerX: dial.side / 2; centerY: dial.side / 2
                            radiusX: dial.side / 2 - 8; radiusY: dial.side / 2 - 8
                            startAngle: -90; sweepAngle: 360 * dial.progress
                        }
                    }
                }

                Text {
                    objectName: "timeText"
                    anchors.centerIn: parent
                    text: formatter.clockText(view.timeRemaining)
                    color: "white"
                    font.family: Theme.fontFamily
                    font.pixelSize: 56
                    font.weight: Font.DemiBold
                }
            }

            ActiveSessionBlockChips {
                objectName: "blockChips"
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: Math.min(content.width, naturalWidth)
                Layout.topMargin: 28
                blocks: view.blocks
                currentIndex: view.currentIndex
            }

            Item { Layout.fillHeight: true; Layout.minimumHeight: 28 }

            SessionPrimaryButton {
                objectName: "unlockButton"
                Layout.fillWidth: true
                text: "Emergency Unlock"
                symbol: "lock.open.fill"
                filled: false
                labelColor: Theme.palette.red
                font.pixelSize: 17
                onClicked: view.openUnlockDialog()
            }
        }
    }

    SessionAlert {
        id: unlockAlert
        objectName: "unlockAlert"
        title: "Emergency Unlock"
        onButtonClicked: text => { if (text === "Unlock") view.unlock() }
    }
}
