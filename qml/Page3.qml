import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3
import QtQuick.Controls.Material 2.1
import Qt.labs.platform 1.0 as Platform
import Updater 1.0

Page3Form {
    id: page3

    readonly property string supportUrl: "https://www.brennic.example/support"
    readonly property string supportHost: "www.brennic.example"
    readonly property string linkStyle: "style=\"color:blue; text-decoration:none\""
    readonly property string updateLink: "<p align=\"center\">&nbsp;<a href=\"upd://check\" "
                                         + linkStyle + ">" + qsTr("Check for updates") + "</a></p>"
    property alias updater: updater
    property alias chkUpdTimer: chkUpdTimer
    property alias noUpdTimer: noUpdTimer
    property alias updateDlg: updateDlg
    property alias noLogDlg: noLogDlg
    property alias logSetupDialog: logSetupDialog

    function aboutText() {
        return "<br><h3>" + qsTr("Tovel") + " v" + appversion + " (" + __DATE__ + ")</h3><br><br>"
                + qsTr("Brennic LLC") + "<br><a href=\"" + supportUrl + "\" " + linkStyle + ">"
                + supportHost + "</a>"
    }

    function arrowLink(target, caption) {
        return "\u2192\u00a0<a href=\"" + target + "\" " + linkStyle + ">" + caption + "</a>"
    }

    function showUpdateLink(notice) {
        updateText.horizontalAlignment = Text.AlignHCenter
        updateText.text = notice + updateLink
    }

    function warn(message) {
        langWarn.color = "red"
        langWarn.text = message
    }

    function openLogFile() {
        var file = journal.file
        if (file !== "" && watcher.fileExists(file)) {
            Qt.openUrlExternally((Qt.platform.os === "windows" ? "file:///" : "file://") + file)
            return true
        }
        noLogDlg.open()
        return false
    }

    function languageChosen(index) {
        settings.write(lang_key, index === 1 ? "ru" : "en", "string")
        if ((lang_current === "en" && index === 1) || (lang_current === "ru" && index === 0))
            warn(qsTr("Restart the app to change language"))
        else
            langWarn.text = ""
    }

    // A typed value counts even when the user presses OK without leaving the field;
    // out-of-range input is pulled back into the box's limits.
    function commitSpin(spin) {
        var typed = parseInt(spin.contentItem.text, 10)
        var v = isNaN(typed) ? spin.value : Math.max(spin.from, Math.min(spin.to, typed))
        if (String(spin.contentItem.text) !== spin.textFromValue(v, spin.locale)) {
            // Step away and back so the field shows the clamped number again.
            spin.value = (v === spin.from) ? spin.to : spin.from
        }
        spin.value = v
        return v
    }

    function applyLogSetup() {
        var size = commitSpin(logSizeSpin)
        var count = commitSpin(logBkpSpin)
        settings.write("logging/size", String(size), "int")
        settings.write("logging/count", String(count), "int")
        settings.write("logging/network", logNetSwitch.checked ? "true" : "false", "bool")
        settings.write("logging/process", logProcSwitch.checked ? "true" : "false", "bool")
        journal.setMaxSizeMB(size)
        journal.setBackupCount(count)
    }

    Component.onCompleted: {
        langCombo.currentIndex = lang_current === "ru" ? 1 : 0
        text1.text = aboutText()
        logSetupText.text = arrowLink("cfg://logging", qsTr("Configure"))
        logViewText.text = arrowLink("cfg://logview", qsTr("Open"))
        chkUpdTimer.start()
    }

    Connections {
        target: hideSwitch
        function onCheckedChanged() {
            settings.write("visible", hideSwitch.checked ? "false" : "true", "bool")
        }
    }

    Connections {
        target: autostartSwitch
        function onCheckedChanged() {
            astarter.setAutostart(autostartSwitch.checked)
        }
    }

    Connections {
        target: softwareSwitch
        function onCheckedChanged() {
            settings.write("softgl", softwareSwitch.checked ? "true" : "false", "bool")
            if (softwareSwitch.checked !== software_rendering)
                warn(qsTr("Restart the app to change rendering method"))
            else
                langWarn.text = ""
        }
    }

    Connections {
        target: legacySwitch
        function onCheckedChanged() {
            settings.write("legacy", legacySwitch.checked ? "true" : "false", "bool")
        }
    }

    Connections {
        target: logSwitch
        function onCheckedChanged() {
            settings.write("logging/enable", logSwitch.checked ? "true" : "false", "bool")
            journal.setPaused(!logSwitch.checked)
        }
    }

    Connections {
        target: logSetupText
        function onLinkActivated(link) {
            if (link === "cfg://logging")
                logSetupDialog.open()
            else
                console.log("LogSetupText invalid link " + link)
        }
    }

    Connections {
        target: logViewText
        function onLinkActivated(link) {
            if (link === "cfg://logview")
                page3.openLogFile()
        }
    }

    Connections {
        target: updateText
        function onLinkActivated(link) {
            if (link.indexOf("upd://") === 0) {
                updater.checkUpdate()
                noUpdTimer.start()
            } else {
                Qt.openUrlExternally(link)
            }
        }
    }

    Connections {
        target: text1
        function onLinkActivated(link) {
            Qt.openUrlExternally(link)
        }
    }

    Connections {
        target: langCombo
        function onActivated(index) {
            page3.languageChosen(index)
        }
    }

    Updater {
        id: updater
        onNewVersion: {
            noUpdTimer.stop()
            updateText.horizontalAlignment = Text.AlignLeft
            updateText.text = "<p align=\"center\">" + qsTr("An update to <b>version %1</b> is available").arg(
                        version) + "</p>" + changelog
            if (Qt.platform.os === "linux") {
                updateDlg.version = version
                updateDlg.open()
            }
        }
        onUpdateStatus: {
            noUpdTimer.stop()
            page3.showUpdateLink(text)
        }
    }

    Timer {
        id: chkUpdTimer
        interval: 500
        repeat: false
        onTriggered: page3.showUpdateLink("")
    }

    Timer {
        id: noUpdTimer
        interval: 2000
        repeat: false
        onTriggered: page3.showUpdateLink("<p align=\"center\">" + qsTr("No updates available") + "</p>")
    }

    Platform.MessageDialog {
        id: updateDlg
        property string version: ""
        buttons: Platform.MessageDialog.No | Platform.MessageDialog.Yes
        text: "<p align=\"center\">" + qsTr("Update to %1?").arg(version) + "<br>"
              + qsTr("Application will restart itself once updated") + "</p>"
        onYesClicked: updater.doUpdate()
    }

    Platform.MessageDialog {
        id: noLogDlg
        buttons: Platform.MessageDialog.Ok
        text: qsTr("Log file not found!")
    }

    Dialog {
        id: logSetupDialog
        title: qsTr("Setup Logging")
        modal: true
        standardButtons: Dialog.Ok | Dialog.Cancel
        x: (page3.width - width) / 2
        y: (page3.height - height) / 2

        property alias logSizeSpin: logSizeSpin
        property alias logBkpSpin: logBkpSpin
        property alias logNetSwitch: logNetSwitch
        property alias logProcSwitch: logProcSwitch

        onAccepted: page3.applyLogSetup()

        Component.onCompleted: {
            logSizeSpin.value = parseInt(settings.read("logging/size", "64"), 10)
            logBkpSpin.value = parseInt(settings.read("logging/count", "3"), 10)
            logNetSwitch.checked = settings.read("logging/network", "false") === "true"
            logProcSwitch.checked = settings.read("logging/process", "false") === "true"
        }

        GridLayout {
            columns: 2
            anchors.fill: parent
            anchors.rightMargin: 10

            Label {
                text: qsTr("Maximum Size (Mb):")
            }

            SpinBox {
                id: logSizeSpin
                editable: true
                textFromValue: function (value) {
                    return String(value)
                }
                valueFromText: function (text) {
                    var v = parseInt(text, 10)
                    return isNaN(v) ? value : v
                }
                from: 1
                to: 1024
                value: 64
                validator: IntValidator {
                    bottom: 0
                    top: 999999
                }
            }

            Label {
                text: qsTr("Old files:")
            }

            SpinBox {
                id: logBkpSpin
                editable: true
                textFromValue: function (value) {
                    return String(value)
                }
                valueFromText: function (text) {
                    var v = parseInt(text, 10)
                    return isNaN(v) ? value : v
                }
                from: 1
                to: 16
                value: 3
                validator: IntValidator {
                    bottom: 0
                    top: 999999
                }
            }

            Switch {
                id: logNetSwitch
                text: qsTr("Network state")
                Layout.columnSpan: 2
            }

            Switch {
                id: logProcSwitch
                text: qsTr("Process state")
                Layout.columnSpan: 2
            }
        }
    }
}
