import QtQuick 2.10
import QtQuick.Window 2.2
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3
import QtQuick.Extras 1.4
import Qt.labs.platform 1.0 as Platform
import QtQuick.Controls.Material 2.1
import QtQuick.Controls.Universal 2.1
import SerialChannel 1.0
import PingProcess 1.0
import ProcessWatcher 1.0
import AutoStarter 1.0
import Settings 1.0
import brennic.qmlsystray 1.0

ApplicationWindow {
    id: mainwindow
    objectName: "mainwindow"

    width: 580
    minimumWidth: width
    maximumWidth: width
    height: 540
    visible: false
    title: qsTr("USB Tovel v%1").arg(appversion)

    Material.theme: Material.Light
    Material.primary: Material.Indigo
    Material.accent: Material.Indigo
    Material.background: "#fdfdfd"

    // Device protocol state
    property bool first_ack: true
    property bool wait_write: false
    // Monitoring state
    property bool network_ok: true
    property bool process_ok: true

    // Bookkeeping that keeps the heartbeat honest: every tick opens a new
    // cycle, and a probe result or a handshake only counts for the cycle it
    // belongs to.
    property int cycle: 0
    property int probeCycle: -1
    property int heartbeatCycle: -1
    property int handshakeCycle: -1
    // Model letter last journaled as connected since start-up or the last
    // port change, so a board is announced once, also when its first
    // identity reply was lost.
    property string announcedType: ""

    header: TabBar {
        id: tabBar
        objectName: "tabBar"
        currentIndex: swipeView.currentIndex
        TabButton {
            text: qsTr("Main")
        }
        TabButton {
            text: qsTr("Settings")
        }
        TabButton {
            text: qsTr("Application")
        }
    }

    StackLayout {
        id: swipeView
        objectName: "swipeView"
        anchors.fill: parent
        currentIndex: tabBar.currentIndex
        onCurrentIndexChanged: {
            if (currentIndex === 1)
                page2.tabEntered()
        }

        Page1 {
            id: page1
            objectName: "page1"
        }
        Page2 {
            id: page2
            objectName: "page2"
        }
        Page3 {
            id: page3
            objectName: "page3"
        }
    }

    SerialChannel {
        id: serial
        objectName: "serial"
        onDataReady: function (data) {
            handleReply(data)
        }
    }

    PingProcess {
        id: process
        objectName: "process"
        timeout: {
            var t = parseInt(settings.read("ping/timeout", "1000"), 10)
            return isNaN(t) ? 1000 : t
        }
        onFinished: probeFinished()
    }

    ProcessWatcher {
        id: watcher
        objectName: "watcher"
    }

    AutoStarter {
        id: astarter
        objectName: "astarter"
    }

    Settings {
        id: settings
        objectName: "settings"
    }

    QmlSystray {
        id: trayIcon
        objectName: "trayIcon"
        // Declared in this order because QML assigns them last to first: the
        // icon has to exist before the tray entry is shown.
        visible: true
        iconSource: "tovel3.png"

        onIconClicked: {
            if (mainwindow.visible) {
                if (trayIcon.available)
                    mainwindow.hide()
            } else {
                showRaised()
            }
        }
        onTriggered: function (action) {
            trayAction(action)
        }

        Component.onCompleted: {
            addAction(qsTr("Hide"), "hide")
            addAction(qsTr("Show"), "show")
            addSeparator()
            addAction(qsTr("Test Reset"), "T1")
            addAction(qsTr("Test Power"), "T2")
            addSeparator()
            addAction(qsTr("Export Settings"), "ES")
            addAction(qsTr("Import Settings"), "IS")
            addAction(qsTr("View log"), "L")
            addSeparator()
            addAction(qsTr("Firmware Update"), "D")
            addAction(qsTr("About"), "A")
            addAction(qsTr("Quit"), "Q")
        }
    }

    Connections {
        target: appServer
        function onIncomingMessage(msg) {
            console.log("Got message from local socket: " + msg)
            if (msg === "show")
                showRaised()
        }
    }

    Platform.FileDialog {
        id: fileDialog
        objectName: "fileDialog"
        property bool ifexport: true
        fileMode: ifexport ? Platform.FileDialog.SaveFile : Platform.FileDialog.OpenFile
        folder: Platform.StandardPaths.standardLocations(Platform.StandardPaths.HomeLocation)[0]
        defaultSuffix: "ini"
        onAccepted: {
            var chosen = file.toString()
            if (ifexport) {
                settings.exportSettings(chosen)
                return
            }
            if (settings.importSettings(chosen)) {
                warnCloseDialog.text = qsTr("Settings have been imported. The application will be closed")
                warnCloseDialog.appclose = true
            } else {
                warnCloseDialog.text = qsTr("Settings import failed")
                warnCloseDialog.appclose = false
            }
            warnCloseDialog.open()
        }
    }

    Platform.MessageDialog {
        id: warnCloseDialog
        objectName: "warnCloseDialog"
        property bool appclose: false
        title: qsTr("Settings Import")
        buttons: Platform.MessageDialog.Ok
        onAccepted: {
            if (appclose)
                Qt.quit()
        }
    }

    // Write confirmation: "OK" when the board answered the write with its
    // settings, "Failed" when it did not, then "Write" again.
    Timer {
        id: wrtbtn_timer
        objectName: "wrtbtn_timer"
        interval: 800
        repeat: false
        onTriggered: {
            var failed = wait_write
            wait_write = false
            if (failed) {
                setWriteText("<font color=\"red\">" + qsTr("Failed") + "</font>")
                wrtbtn_timer.start()
            } else {
                setWriteText(qsTr("Write"))
            }
        }
    }

    Timer {
        id: indicator_timer
        objectName: "indicator_timer"
        interval: 500
        repeat: false
        onTriggered: {
            setLamp(undefined, false)
            trayIcon.iconSource = "tovel3.png"
        }
    }

    Timer {
        id: urlmaintimer
        objectName: "urlmaintimer"
        interval: 3000
        repeat: true
        running: true
        onTriggered: monitorTick()
    }

    onClosing: function (close) {
        // Without a tray a hidden window could not be brought back, so it
        // only goes to the task bar then.
        close.accepted = false
        if (trayIcon.available)
            mainwindow.hide()
        else
            mainwindow.showMinimized()
    }

    Component.onCompleted: initialise()

    // ------------------------------------------------------------------
    // Window

    function showRaised() {
        if (mainwindow.visibility === Window.Minimized)
            mainwindow.showNormal()
        else
            mainwindow.show()
        mainwindow.raise()
        mainwindow.requestActivate()
    }

    function initialise() {
        if (trayIcon.available)
            mainwindow.visible = settings.read("visible", "true") === "true"
        else
            mainwindow.visible = true

        page3.hideSwitch.checked = settings.read("visible", "true") !== "true"

        astarter.checkAutostart()
        page3.autostartSwitch.checked = astarter.autostartSet()

        page3.softwareSwitch.checked = settings.read("softgl", "false") === "true"
        page3.legacySwitch.checked = settings.read("legacy", "false") === "true"
        page3.logSwitch.checked = settings.read("logging/enable", "false") === "true"

        page1.checkBox_l.checked = settings.read("ledoff", "false") === "false"
        page1.checkBox_p.checked = settings.read("timerstop", "false") === "true"

        if (settings.read("ping/url", "_default_compability_value_") === "_default_compability_value_") {
            console.log("Converting old URL setting to ping/url")
            var oldUrl = settings.read("url", "localhost")
            if (oldUrl === "localhost" || oldUrl === "") {
                settings.write("ping/on", "false", "bool")
                settings.write("ping/url", "127.0.0.1")
            } else {
                settings.write("ping/on", "true", "bool")
                settings.write("ping/url", settings.read("url", "127.0.0.1"))
            }
            settings.remove("url")
            settings.flush()
        }

        var pingUrl = settings.read("ping/url", "")
        if (settings.read("ping/on", "false") === "true" && pingUrl !== "") {
            page1.urlCheckBox.checked = true
            page1.urlField.text = pingUrl
        } else {
            page1.urlCheckBox.checked = false
            page1.urlField.text = qsTr("disabled")
        }

        var monitorName = settings.read("monitor", "")
        page1.monitorField.text = monitorName
        if (settings.read("monitoron", "false") === "true" && monitorName !== "")
            page1.monitorCheckBox.checked = true

        page1.groupContolBox.checked = settings.read("manualon", "false") === "true"

        if (isLegacy())
            serialCommand("~W" + legacyT1Digit() + "\n")
    }

    function trayAction(action) {
        switch (action) {
        case "hide":
            if (trayIcon.available)
                mainwindow.hide()
            break
        case "show":
            mainwindow.show()
            break
        case "T1":
            serialCommand("~T1")
            break
        case "T2":
            serialCommand("~T2")
            break
        case "ES":
            fileDialog.ifexport = true
            fileDialog.open()
            break
        case "IS":
            fileDialog.ifexport = false
            fileDialog.open()
            break
        case "L":
            if (journal && journal.file !== "")
                Qt.openUrlExternally(Qt.resolvedUrl((Qt.platform.os === "windows" ? "file:///" : "file://")
                                                    + journal.file))
            break
        case "D":
            serialCommand("~D")
            break
        case "A":
            mainwindow.show()
            tabBar.setCurrentIndex(2)
            break
        case "Q":
            Qt.quit()
            break
        }
    }

    // ------------------------------------------------------------------
    // Helpers that keep going when a page control is not there, so the
    // heartbeat never depends on the look of a page.

    function isLegacy() {
        return settings.read("legacy", "false") === "true"
    }

    function legacyT1Digit() {
        var t1 = parseInt(settings.read("t1", "5"), 10)
        if (isNaN(t1) || t1 < 0)
            t1 = 5
        return t1 > 9 ? "9" : String(t1)
    }

    // Opening always closes first.
    function openSelectedPort() {
        serial.open(page1.portsCombo ? page1.portsCombo.currentText : "")
    }

    function journalLog(text) {
        if (journal)
            journal.log(text)
    }

    function setLamp(color, active) {
        var lamp = page1.statusIndicator
        if (!lamp)
            return
        if (color !== undefined)
            lamp.color = color
        lamp.active = active
    }

    function setWriteText(text) {
        if (page2.writebutton)
            page2.writebutton.text = text
    }

    function setBox(box, index) {
        if (box)
            box.currentIndex = index
    }

    function setEnabled(item, on) {
        if (item)
            item.enabled = on
    }

    function switchDigit(box) {
        return box && box.checked ? "1" : "0"
    }

    function hexValue(text) {
        return /^[0-9a-fA-F]+$/.test(text) ? parseInt(text, 16) : -1
    }

    // ------------------------------------------------------------------
    // Device protocol

    function commandJournalText(cmd) {
        switch (cmd) {
        case "~T1":
            return qsTr("Reset requested")
        case "~T2":
            return qsTr("Hard reset requested")
        case "~M1":
            return qsTr("Remote reset reqested")
        case "~M2":
            return qsTr("Remote hard reset requested")
        case "~S1":
            return qsTr("Requested channel 1 close")
        case "~S2":
            return qsTr("Requested channel 2 close")
        case "~R1":
            return qsTr("Requested channel 1 open")
        case "~R2":
            return qsTr("Requested channel 2 open")
        }
        return ""
    }

    function serialCommand(cmd) {
        cmd = String(cmd)
        urlmaintimer.stop()
        openSelectedPort()

        var entry = commandJournalText(cmd)
        if (entry !== "")
            journalLog(entry)

        if (cmd.indexOf("~W") === 0 && !isLegacy()) {
            wait_write = true
            wrtbtn_timer.restart()
        }

        if (serial.isOpen()) {
            serial.writeString(cmd)
            console.log(">>" + cmd)
            if (cmd === "~T2")
                serial.close()
        } else {
            console.log("!!Cannot write to " + serial.name())
        }
        urlmaintimer.start()
    }

    function handleReply(data) {
        console.log("<<" + data)
        serial.close()
        processSerialData(data)
        if (!indicator_timer.running)
            indicator_timer.start()
    }

    function processSerialData(data) {
        var pieces = String(data).split("\n")
        for (var i = 0; i < pieces.length; ++i) {
            try {
                processSerialCommand(pieces[i])
            } catch (e) {
                console.error("Reply not handled: " + JSON.stringify(pieces[i]) + ": " + e)
            }
        }
    }

    function processSerialCommand(data) {
        if (data.length < 2 || data.charAt(0) !== "~")
            return
        switch (data.charAt(1)) {
        case "A":
            acknowledged()
            break
        case "F":
            settingsReply(data)
            break
        case "L":
            if (data.length > 2)
                page1.checkBox_l.checked = data.charAt(2) === "1"
            break
        case "P":
            if (data.length > 2)
                page1.checkBox_p.checked = data.charAt(2) === "1"
            break
        case "I":
            identityReply(data)
            break
        case "G":
            inputReply(data)
            break
        case "S":
            channelReply(data.charAt(2), true)
            break
        case "R":
            channelReply(data.charAt(2), false)
            break
        }
    }

    function acknowledged() {
        setLamp("#2aff00", true)
        trayIcon.iconSource = "tovel3_g.png"
        // An identification that got no identity reply ("upd") is retried
        // too, or a board that lost it would never be identified again.
        var type = page1.wdg_type
        if (!(first_ack || type === "" || type === "upd"))
            return
        // The handshake carries "~P", which restarts the board's clock like
        // a heartbeat, so it only answers an acknowledgement of a heartbeat
        // that this cycle's checks allowed. Once per cycle: the handshake
        // restarts the cycle, and a board answering every handshake with
        // "~A" must not starve the heartbeat.
        if (heartbeatCycle !== cycle || handshakeCycle === cycle)
            return
        handshakeCycle = cycle
        if (!first_ack)
            page1.wdg_type = "upd"
        first_ack = false
        serialCommand("~L" + switchDigit(page1.checkBox_l) + "~P" + switchDigit(page1.checkBox_p) + "~I")
    }

    function identityReply(data) {
        if (data.length < 6) {
            console.log("Incomplete identity " + data)
            if (page1.wdg_type === "upd")
                page1.wdg_type = ""
            return
        }
        console.log(data.substr(2, 4))
        page1.wdg_version = data.substr(2, 3)
        var type = data.charAt(5)
        if (type === "U") {
            if (announcedType !== type)
                journalLog(qsTr("Ostrel X2 v%1 connected").arg(data.substr(2, 4)))
            announcedType = type
            page1.wdg_channel = "2"
            setEnabled(page1.remote_btn_m1, true)
            setEnabled(page1.remote_btn_m2, true)
        } else if (type === "L") {
            if (announcedType !== type)
                journalLog(qsTr("Ostrel S2 v%1 connected").arg(data.substr(2, 4)))
            announcedType = type
            page1.wdg_channel = "1"
            setEnabled(page1.remote_btn_m1, true)
            setEnabled(page1.remote_btn_m2, false)
        } else {
            page1.wdg_channel = qsTr("n/a")
        }
        page1.wdg_type = type
    }

    function inputReply(data) {
        var label = page1.get_in_label
        if (!label)
            return
        var kind = data.charAt(2)
        if (kind === "E" || kind === "F") {
            label.text = qsTr("n/a")
        } else if (kind === "I") {
            label.text = qsTr("IN") + ": " + data.charAt(5)
        } else if (kind === "O") {
            label.text = qsTr("OUT") + ": " + data.charAt(5)
        } else {
            var tenths = parseInt(data.substr(2, 4), 10)
            label.text = isNaN(tenths) ? qsTr("n/a") : qsTr("TEMP") + ": " + (tenths / 10) + "\u2103"
        }
    }

    function channelReply(n, closed) {
        var sw
        if (n === "1")
            sw = page1.ch1Switch
        else if (n === "2")
            sw = page1.ch2Switch
        if (!sw)
            return
        // A reply that contradicts the switch flips it, and the switch's own
        // handler then sends the matching command back to the board.
        sw.checked = closed
        sw.text = closed ? (n === "1" ? qsTr("CH1 Closed") : qsTr("CH2 Closed"))
                         : (n === "1" ? qsTr("CH1 Open") : qsTr("CH2 Open"))
    }

    function settingsReply(data) {
        setEnabled(page2.t1Group, true)
        setEnabled(page2.t2Group, true)
        if (data.length === 13) {
            setBox(page2.t1Box, hexValue(data.charAt(2)))
            setBox(page2.t2Box, hexValue(data.charAt(3)))
            var t3 = hexValue(data.charAt(4))
            setBox(page2.t3Box, t3 > 11 ? 10 : t3)
            setBox(page2.t4Box, hexValue(data.charAt(5)))
            setBox(page2.t5Box, hexValue(data.charAt(6)))
            setBox(page2.p6Box, hexValue(data.charAt(7)))
            setBox(page2.p7Box, hexValue(data.charAt(8)))
            setBox(page2.p8Box, hexValue(data.charAt(9)))
            setBox(page2.p9Box, hexValue(data.charAt(10)))
            var threshold = hexValue(data.substr(11, 2))
            if (threshold >= 0 && page2.p10spinBox)
                page2.p10spinBox.value = Math.min(threshold, 125)
            setEnabled(page2.t3Group, true)
            setEnabled(page2.channelGroup, true)
            setEnabled(page2.tempGroup, true)
        } else if (data.length === 4) {
            setBox(page2.t1Box, hexValue(data.charAt(2)))
            setBox(page2.t2Box, hexValue(data.charAt(3)))
            setEnabled(page2.t3Group, false)
            setBox(page2.t3Box, -1)
            setBox(page2.t4Box, -1)
            setBox(page2.t5Box, -1)
            setEnabled(page2.channelGroup, false)
            setBox(page2.p6Box, 1)
            setBox(page2.p7Box, -1)
            setEnabled(page2.tempGroup, false)
            setBox(page2.p8Box, -1)
            setBox(page2.p9Box, -1)
        } else {
            console.log("Unknown settings")
            setEnabled(page2.writebutton, false)
            return
        }
        setEnabled(page2.writebutton, true)
        if (wait_write) {
            wrtbtn_timer.stop()
            wait_write = false
            setWriteText("<font color=\"green\">" + qsTr("OK") + "</font>")
            wrtbtn_timer.start()
        }
    }

    // ------------------------------------------------------------------
    // Monitoring cycle

    function monitorTick() {
        cycle += 1
        try {
            if (page1.urlCheckBox.checked) {
                console.log("Ping " + page1.urlField.text)
                probeCycle = cycle
                process.start(page1.urlField.text)
            } else if (page1.monitorCheckBox.checked && page1.monitorField.text !== "") {
                var res = watcher.check(page1.monitorField.text)
                processResult(res)
                if (res === 0)
                    wdgPing()
            } else {
                console.log("restart timer")
                wdgPing()
            }
        } catch (e) {
            // No heartbeat when the checks could not be evaluated.
            console.error("Monitoring cycle failed: " + e)
        }
        if (!mainwindow.visible && !trayIcon.available)
            mainwindow.show()
    }

    function probeFinished() {
        var res = process.exitCode()
        networkResult(res)
        // Only the probe started by this very cycle may let a heartbeat
        // through: a late result of an earlier cycle, or one that arrives
        // after the network check was switched off, proves nothing now.
        if (res !== 0 || probeCycle !== cycle || !page1.urlCheckBox.checked)
            return
        probeCycle = -1
        var monres = 0
        if (page1.monitorCheckBox.checked && page1.monitorField.text !== "") {
            monres = watcher.check(page1.monitorField.text)
            processResult(monres)
        }
        if (monres === 0)
            wdgPing()
    }

    function wdgPing() {
        if (heartbeatCycle === cycle)
            return
        setLamp("#f8eb2d", true)
        trayIcon.iconSource = "tovel3_y.png"
        openSelectedPort()
        if (serial.isOpen()) {
            heartbeatCycle = cycle
            serial.writeString(page1.wdg_type === "U" ? "~U~G" : "~U")
        } else {
            page1.wdg_type = ""
            page1.wdg_version = qsTr("n/a")
            page1.wdg_channel = qsTr("n/a")
            if (page1.get_in_label)
                page1.get_in_label.text = qsTr("n/a")
        }
    }

    // The logging setting is only read when the result changes.
    function networkResult(res) {
        var ok = res === 0
        if (ok !== network_ok && settings.read("logging/network", "false") === "true")
            journalLog((ok ? qsTr("Network access to %1 restored") : qsTr("Network address %1 is unreachable"))
                       .arg(page1.urlField.text))
        network_ok = ok
    }

    function processResult(res) {
        var ok = res === 0
        if (ok !== process_ok && settings.read("logging/process", "false") === "true")
            journalLog((ok ? qsTr("Process %1 is running normally") : qsTr("Process %1 died or is hanging"))
                       .arg(page1.monitorField.text))
        process_ok = ok
    }
}
