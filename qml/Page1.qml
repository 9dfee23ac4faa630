import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1

Page1Form {
    id: page

    property string wdg_type: ""
    property string wdg_version: qsTr("n/a")
    property string wdg_channel: qsTr("n/a")

    property alias rescanTimer: rescanTimer
    property alias urlFieldMenu: urlFieldMenu
    property alias monitorFieldMenu: monitorFieldMenu
    property alias selectProcessDialog: selectProcessDialog
    property alias bHolder: bHolder
    property alias processList: processList

    label_info.text: qsTr("Type: %1, Version: %2, Channels: %3")
                     .arg(wdg_type === "U" ? "X2" : (wdg_type === "L" ? "S" : qsTr("n/a")))
                     .arg(wdg_version).arg(wdg_channel)

    pingTimeoutText.text: Math.round(pingTimeoutSlider.value) + qsTr("ms")

    function portChanged(name) {
        urlmaintimer.stop()
        serial.close()
        var opened = serial.open(name)
        first_ack = true
        announcedType = ""
        wdg_type = ""
        if (opened) {
            console.log("Opened port " + name)
            settings.write("port", name)
            if (settings.read("legacy", "false") === "true") {
                var t1 = parseInt(settings.read("t1", "5"), 10)
                if (isNaN(t1) || t1 < 0)
                    t1 = 5
                if (t1 > 9)
                    t1 = 9
                serialCommand("~W" + t1 + "\n" + "~I")
            }
        } else {
            console.log("Cannot open port " + name)
        }
        urlmaintimer.start()
    }

    // A scan keeps the port in use when it is still listed: another device
    // with the same vendor id listed first must not take the heartbeat away.
    property bool scanning: false

    function scan() {
        var previous = portsCombo.currentText
        var ports = Array.prototype.slice.call(serial.channels())
        scanning = true
        portsCombo.model = ports
        var keep = ports.indexOf(previous)
        if (keep >= 0)
            portsCombo.currentIndex = keep
        scanning = false
        if (portsCombo.currentText !== previous)
            portChanged(portsCombo.currentText)
        if (ports.length > 0)
            rescanTimer.stop()
    }

    function processModelReloaded() {
        console.log("Process model reloaded")
        bHolder.running = false
    }

    Component.onCompleted: {
        processList.sysProcModel.reloaded.connect(processModelReloaded)

        if (GraphicsInfo.api === GraphicsInfo.Software) {
            // The knob's shadow is a shader effect, which the software renderer cannot draw;
            // without the shadow the knob itself shows.
            var switches = [checkBox_p, checkBox_l, ch1Switch, ch2Switch]
            for (var i = 0; i < switches.length; ++i)
                switches[i].indicator.Material.elevation = 0
        }

        if (Qt.platform.os === "windows")
            monitorField.placeholderText = "explorer.exe"
        else if (Qt.platform.os === "osx")
            monitorField.placeholderText = "kernel_task"
        else
            monitorField.placeholderText = "nautilus"

        var timeout = parseInt(settings.read("ping/timeout", "1000"), 10)
        if (!isNaN(timeout))
            pingTimeoutSlider.value = timeout

        remote_btn_m1.enabled = false
        remote_btn_m2.enabled = false

        var ports = Array.prototype.slice.call(serial.channels())
        var saved = settings.read("port", "")
        console.log("Available ports: " + ports)
        console.log("Restoring port: " + saved)
        if (saved !== "" && ports.indexOf(saved) >= 0) {
            portsCombo.model = [saved]
        } else {
            portsCombo.model = ports
            if (ports.length === 0) {
                journal.log(qsTr("No connected watchdogs detected"))
                rescanTimer.start()
            }
        }
    }

    portsCombo.onCurrentTextChanged: {
        if (!scanning)
            portChanged(portsCombo.currentText)
    }

    scanbtn.onClicked: scan()

    urlCheckBox.onCheckedChanged: {
        if (urlCheckBox.checked) {
            settings.write("ping/on", "true", "bool")
            urlField.text = settings.read("ping/url", "127.0.0.1")
        } else {
            settings.write("ping/on", "false", "bool")
            urlField.text = qsTr("disabled")
        }
    }

    urlField.onEditingFinished: {
        if (urlCheckBox.checked && urlField.text !== "") {
            settings.write("ping/on", "true", "bool")
            settings.write("ping/url", urlField.text)
        }
    }

    monitorCheckBox.onCheckedChanged: settings.write("monitoron", monitorCheckBox.checked ? "true" : "false", "bool")

    monitorField.onTextChanged: settings.write("monitor", monitorField.text)

    urlFieldMouse.onClicked: urlFieldMenu.open()
    monFieldMouse.onClicked: monitorFieldMenu.open()

    processListTool.onClicked: {
        bHolder.running = true
        processList.sysProcModel.reload()
        selectProcessDialog.open()
    }

    groupContolBox.onCheckedChanged: settings.write("manualon", groupContolBox.checked ? "true" : "false", "bool")

    checkBox_l.onClicked: {
        serialCommand("~L" + (checkBox_l.checked ? "1" : "0"))
        settings.write("ledoff", checkBox_l.checked ? "false" : "true", "bool")
    }

    checkBox_p.onClicked: {
        serialCommand("~P" + (checkBox_p.checked ? "1" : "0"))
        settings.write("timerstop", checkBox_p.checked ? "true" : "false", "bool")
    }

    remote_btn_m1.onClicked: serialCommand(wdg_type === "U" ? "~M1" : "~T1")

    remote_btn_m2.onClicked: {
        if (wdg_type === "U")
            serialCommand("~M2")
    }

    ch1Switch.onCheckedChanged: serialCommand(ch1Switch.checked ? "~S1" : "~R1")
    ch2Switch.onCheckedChanged: serialCommand(ch2Switch.checked ? "~S2" : "~R2")

    pingTimeoutSlider.onValueChanged: {
        var ms = Math.round(pingTimeoutSlider.value)
        settings.write("ping/timeout", ms.toString(), "int")
        process.timeout = ms
    }

    Timer {
        id: rescanTimer
        interval: 10000
        repeat: true
        running: false
        onTriggered: {
            console.log("Rescan triggered")
            page.scan()
        }
    }

    TextFieldMenu {
        id: urlFieldMenu
        textField: urlField
    }

    TextFieldMenu {
        id: monitorFieldMenu
        textField: monitorField
    }

    Dialog {
        id: selectProcessDialog
        modal: true
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
                monitorField.text = name
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
}
