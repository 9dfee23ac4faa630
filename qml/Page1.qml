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
    readonly property bool readingsCurrent: board.answering || board.model === ""

    label_info.text: qsTr("Type: %1, Version: %2, Channels: %3")
                     .arg(board.displayModel !== "" ? board.displayModel : qsTr("n/a"))
                     .arg(board.firmware !== "" ? board.firmware : qsTr("n/a"))
                     .arg(board.channels > 0 ? board.channels : qsTr("n/a"))
                     + (readingsCurrent ? "" : "\n" + qsTr("No answer: these readings are not current"))
    label_info.color: readingsCurrent ? Material.foreground : Material.hintTextColor

    get_in_label.text: inputText(board.inputKind, board.inputLevel, board.temperatureTenths)
    get_in_label.color: readingsCurrent ? Material.foreground : Material.hintTextColor

    portsCombo.emptyText: qsTr("No connected watchdogs detected")

    pingTimeoutText.text: Math.round(pingTimeoutSlider.value) + qsTr("ms")

    statusIndicator.color: lampColor
    statusIndicator.active: heartbeat.lamp !== Heartbeat.Off

    portsCombo.model: board.ports

    remote_btn_m1.enabled: boardSeen
    remote_btn_m2.enabled: board.hasPowerOutput
    // Outputs the connected board does not have take no input.
    ch2Switch.enabled: board.channels >= 2
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
        checkBox_l.checked = board.led
        checkBox_p.checked = board.suspended
        ch1Switch.checked = board.channel1Closed
        ch2Switch.checked = board.channel2Closed
        ch1Switch.text = channelText(1, board.channel1Closed)
        ch2Switch.text = channelText(2, board.channel2Closed)
    }

    function showPort() {
        portsCombo.currentIndex = board.ports.indexOf(board.port)
    }

    Connections {
        target: board
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
        target: heartbeat
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

        pingTimeoutSlider.value = appSettings.pingTimeout

        var pingAddress = appSettings.pingAddress
        if (appSettings.pingEnabled && pingAddress !== "") {
            urlCheckBox.checked = true
            urlField.text = pingAddress
        } else {
            urlCheckBox.checked = false
            urlField.text = qsTr("disabled")
        }
        monitorField.text = appSettings.processName
        monitorCheckBox.checked = appSettings.processCheckEnabled && appSettings.processName !== ""
        groupContolBox.checked = appSettings.manualControl
        showBoardState()
        showPort()
    }

    portsCombo.onActivated: function (index) {
        board.setPort(portsCombo.textAt(index))
    }

    scanbtn.onClicked: board.scan()

    urlCheckBox.onCheckedChanged: {
        appSettings.pingEnabled = urlCheckBox.checked
        urlField.text = urlCheckBox.checked ? appSettings.pingAddress : qsTr("disabled")
    }

    urlField.onEditingFinished: {
        if (urlCheckBox.checked && urlField.text !== "") {
            appSettings.pingEnabled = true
            appSettings.pingAddress = urlField.text
        }
    }

    monitorCheckBox.onCheckedChanged: appSettings.processCheckEnabled = monitorCheckBox.checked

    monitorField.onTextChanged: appSettings.processName = monitorField.text

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

    groupContolBox.onCheckedChanged: appSettings.manualControl = groupContolBox.checked

    // The engine keeps what the board confirms.
    checkBox_l.onToggled: board.setLed(checkBox_l.checked)
    checkBox_p.onToggled: board.setSuspended(checkBox_p.checked)

    remote_btn_m1.onClicked: board.remoteReset()
    remote_btn_m2.onClicked: board.remotePower()

    ch1Switch.onToggled: board.setChannel(1, ch1Switch.checked)
    ch2Switch.onToggled: board.setChannel(2, ch2Switch.checked)

    pingTimeoutSlider.onValueChanged: appSettings.pingTimeout = Math.round(pingTimeoutSlider.value)

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
                        appSettings.processOwner = owner
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
