import QtQuick 2.10
import Tovel3 1.0
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1

Page1Form {
    id: page

    // The lamp keeps its last colour when it goes out.
    property color lampColor: "#2aff00"
    // Once a board was identified its remote buttons stay usable, also while
    // it is away, as Remote Power does (it follows the last model).
    property bool boardSeen: false

    // The field menus and the process dialog are built once this is set (after
    // the window's first frame, which shows none of them).
    property bool extrasWanted: false
    readonly property QtObject urlFieldMenu: extras.item ? extras.item.urlFieldMenu : null
    readonly property QtObject monitorFieldMenu: extras.item ? extras.item.monitorFieldMenu : null
    readonly property QtObject selectProcessDialog: extras.item ? extras.item.selectProcessDialog : null
    readonly property QtObject bHolder: extras.item ? extras.item.bHolder : null
    readonly property QtObject processList: extras.item ? extras.item.processList : null

    // The menus and the dialog at once, for a click that comes before they were built.
    function ensureExtras() {
        extras.asynchronous = false
        extrasWanted = true
    }

    // What was read of a board that has stopped answering is shown as such.
    readonly property bool readingsCurrent: Board.answering || Board.model === ""

    label_info.text: qsTr("Type: %1, Version: %2, Channels: %3")
                     .arg(Board.displayModel !== "" ? Board.displayModel : qsTr("n/a"))
                     .arg(Board.firmware !== "" ? Board.firmware : qsTr("n/a"))
                     .arg(Board.channels > 0 ? Board.channels : qsTr("n/a"))
                     + (readingsCurrent ? "" : "\n" + qsTr("No answer: these readings are not current"))
    label_info.color: readingsCurrent ? Material.foreground : Material.hintTextColor

    get_in_label.text: inputText(Board.inputKind, Board.inputLevel, Board.temperatureTenths)
    get_in_label.color: readingsCurrent ? Material.foreground : Material.hintTextColor

    portsCombo.emptyText: qsTr("No connected watchdogs detected")

    pingTimeoutText.text: Math.round(pingTimeoutSlider.value) + qsTr("ms")

    statusIndicator.color: lampColor
    statusIndicator.active: HeartbeatState.lamp !== Heartbeat.Off

    portsCombo.model: Board.ports

    remote_btn_m1.enabled: boardSeen
    remote_btn_m2.enabled: Board.hasPowerOutput
    // Outputs the connected board does not have take no input.
    ch2Switch.enabled: Board.channels >= 2
    // Hidden while Network Monitoring is off, so it takes no input then.
    pingTimeoutSlider.enabled: urlCheckBox.checked

    function inputText(kind, level, tenths) {
        switch (kind) {
        case 1:
            return qsTr("IN") + ": " + level
        case 2:
            return qsTr("OUT") + ": " + level
        case 3:
            return qsTr("TEMP") + ": " + (tenths / 10) + "\u2103"
        }
        return qsTr("n/a")
    }

    function channelText(n, closed) {
        if (n === 1)
            return closed ? qsTr("CH1 Closed") : qsTr("CH1 Open")
        return closed ? qsTr("CH2 Closed") : qsTr("CH2 Open")
    }

    // The switches show the board's state; a click asks the board to change
    // it, and the board's answer (or its silence) decides what they show.
    function showBoardState() {
        checkBox_l.checked = Board.led
        checkBox_p.checked = Board.suspended
        ch1Switch.checked = Board.channel1Closed
        ch2Switch.checked = Board.channel2Closed
        ch1Switch.text = channelText(1, Board.channel1Closed)
        ch2Switch.text = channelText(2, Board.channel2Closed)
    }

    function showPort() {
        portsCombo.currentIndex = Board.ports.indexOf(Board.port)
    }

    Connections {
        target: Board
        function onValueChanged(key, value) {
            if (key === "port" || key === "ports")
                page.showPort()
            else if (key === "model" && value !== "")
                page.boardSeen = true
            else if (key === "led" || key === "suspended" || key === "channel1Closed"
                    || key === "channel2Closed")
                page.showBoardState()
        }
    }

    Connections {
        target: HeartbeatState
        function onValueChanged(key, value) {
            if (key === "lamp" && value === Heartbeat.Sent)
                page.lampColor = "#f8eb2d"
            else if (key === "lamp" && value === Heartbeat.Acknowledged)
                page.lampColor = "#2aff00"
        }
    }

    Component.onCompleted: {
        if (Qt.platform.os === "windows")
            monitorField.placeholderText = "explorer.exe"
        else if (Qt.platform.os === "osx")
            monitorField.placeholderText = "kernel_task"
        else
            monitorField.placeholderText = "nautilus"

        pingTimeoutSlider.value = Settings.pingTimeout

        var pingAddress = Settings.pingAddress
        if (Settings.pingEnabled && pingAddress !== "") {
            urlCheckBox.checked = true
            urlField.text = pingAddress
        } else {
            urlCheckBox.checked = false
            urlField.text = qsTr("disabled")
        }
        monitorField.text = Settings.processName
        monitorCheckBox.checked = Settings.processCheckEnabled && Settings.processName !== ""
        groupContolBox.checked = Settings.manualControl
        showBoardState()
        showPort()
    }

    portsCombo.onActivated: function (index) {
        Board.setPort(portsCombo.textAt(index))
    }

    scanbtn.onClicked: Board.scan()

    urlCheckBox.onCheckedChanged: {
        Settings.pingEnabled = urlCheckBox.checked
        urlField.text = urlCheckBox.checked ? Settings.pingAddress : qsTr("disabled")
    }

    urlField.onEditingFinished: {
        if (urlCheckBox.checked && urlField.text !== "") {
            Settings.pingEnabled = true
            Settings.pingAddress = urlField.text
        }
    }

    monitorCheckBox.onCheckedChanged: Settings.processCheckEnabled = monitorCheckBox.checked

    monitorField.onTextChanged: Settings.processName = monitorField.text

    urlFieldMouse.onClicked: {
        ensureExtras()
        urlFieldMenu.open()
    }
    monFieldMouse.onClicked: {
        ensureExtras()
        monitorFieldMenu.open()
    }

    processListTool.onClicked: {
        ensureExtras()
        bHolder.running = true
        processList.sysProcModel.reload()
        selectProcessDialog.open()
    }

    groupContolBox.onCheckedChanged: Settings.manualControl = groupContolBox.checked

    // The engine keeps what the board confirms.
    checkBox_l.onToggled: Board.setLed(checkBox_l.checked)
    checkBox_p.onToggled: Board.setSuspended(checkBox_p.checked)

    remote_btn_m1.onClicked: Board.remoteReset()
    remote_btn_m2.onClicked: Board.remotePower()

    ch1Switch.onToggled: Board.setChannel(1, ch1Switch.checked)
    ch2Switch.onToggled: Board.setChannel(2, ch2Switch.checked)

    pingTimeoutSlider.onValueChanged: Settings.pingTimeout = Math.round(pingTimeoutSlider.value)

    Loader {
        id: extras
        active: page.extrasWanted
        asynchronous: true
        sourceComponent: Item {
            property alias urlFieldMenu: urlFieldMenu
            property alias monitorFieldMenu: monitorFieldMenu
            property alias selectProcessDialog: selectProcessDialog
            property alias bHolder: bHolder
            property alias processList: processList

            TextFieldMenu {
                id: urlFieldMenu
                textField: page.urlField
            }

            TextFieldMenu {
                id: monitorFieldMenu
                textField: page.monitorField
            }

            ModalDialog {
                id: selectProcessDialog
                parent: page
                title: qsTr("Select a Process")
                x: Math.round((page.width - width) / 2)
                y: 10
                width: Math.round(page.width * 0.9)
                height: page.height - 20
                standardButtons: Dialog.Cancel

                SystemProcessList {
                    id: processList
                    anchors.fill: parent
                    clip: true
                    tableBackground: "#eaffcd"

                    onSelectProcess: {
                        Settings.processOwner = owner
                        page.monitorField.text = name
                        selectProcessDialog.close()
                    }
                }

                BusyIndicator {
                    id: bHolder
                    anchors.centerIn: parent
                    width: selectProcessDialog.width / 2
                    height: selectProcessDialog.height / 2
                    running: true
                }
            }

            Connections {
                target: processList.sysProcModel
                function onReloaded() {
                    console.log("Process model reloaded")
                    bHolder.running = false
                }
            }
        }
    }
}
