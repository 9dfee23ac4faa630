import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3
import QtQuick.Controls.Material 2.1
import Qt.labs.platform 1.0 as Platform
import Tovel3 1.0

Page3Form {
    id: page3
    objectName: "page3"

    readonly property string supportUrl: "https://www.brennic.example/support"
    readonly property string supportHost: "www.brennic.example"
    readonly property string linkStyle: "style=\"color:blue; text-decoration:none\""
    readonly property string checkLinkText: "<a href=\"upd://check\" " + linkStyle + ">"
                                            + qsTr("Check for updates") + "</a>"
    readonly property string notesLinkText: "<a href=\"upd://notes\" " + linkStyle + ">"
                                            + qsTr("Release notes") + "</a>"
    // Plain text of bounded length; laid out only when the user opens them.
    property string releaseNotes: ""
    property alias updater: updater
    property alias chkUpdTimer: chkUpdTimer
    // A check the user asked for is running: its outcome is shown when it comes.
    property bool checkRequested: false
    property alias updateDlg: updateDlg
    property alias noLogDlg: noLogDlg
    property alias openFailedDlg: openFailedDlg
    property alias logSetupDialog: logSetupDialog
    property alias notesDialog: notesDialog

    function aboutText() {
        return "<h3>" + qsTr("Tovel") + " v" + App.version + " (" + App.buildDate + ")</h3>"
                + qsTr("Brennic LLC") + "<br><a href=\"" + supportUrl + "\" " + linkStyle + ">"
                + supportHost + "</a>"
    }

    function arrowLink(target, caption) {
        return "\u2192\u00a0<a href=\"" + target + "\" " + linkStyle + ">" + caption + "</a>"
    }

    // For the few texts that go into rich text: shown as typed, never as markup.
    function escaped(text) {
        return text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
    }

    function showUpdateStatus(text) {
        updateText.text = text
        updateStatusView.contentY = 0
    }

    function checkForUpdates() {
        releaseNotes = ""
        notesLink.visible = false
        checkRequested = true
        // Set first: a check refused at once reports before this returns.
        if (updater.reportsOutcome)
            showUpdateStatus(qsTr("Checking for updates…"))
        updater.checkUpdate()
    }

    // The question before an update carries the start of the notes; all of
    // them are a click away once it is answered.
    function notesExcerpt(notes) {
        var limit = 4000
        return notes.length > limit ? notes.substring(0, limit) + "\n…" : notes
    }

    function warn(message) {
        langWarn.color = "red"
        langWarn.text = message
    }

    function openLogFile() {
        var file = App.journal.file
        if (fileOpener.isFile(file)) {
            fileOpener.open(file)
            return true
        }
        noLogDlg.open()
        return false
    }

    function languageChosen(index) {
        Settings.language = index === 1 ? "ru" : "en"
        if ((App.language === "en" && index === 1) || (App.language === "ru" && index === 0))
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
        Settings.logSizeMb = size
        Settings.logBackups = count
        Settings.logNetwork = logNetSwitch.checked
        Settings.logProcess = logProcSwitch.checked
    }

    Component.onCompleted: {
        langCombo.currentIndex = App.language === "ru" ? 1 : 0
        text1.text = aboutText()
        logSetupText.text = arrowLink("cfg://logging", qsTr("Configure"))
        logViewText.text = arrowLink("cfg://logview", qsTr("Open"))
        chkUpdTimer.start()
    }

    Connections {
        target: hideSwitch
        function onCheckedChanged() {
            Settings.showAtStart = !hideSwitch.checked
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
            Settings.softwareRendering = softwareSwitch.checked
            if (softwareSwitch.checked !== App.softwareRendering)
                warn(qsTr("Restart the app to change rendering method"))
            else
                langWarn.text = ""
        }
    }

    Connections {
        target: legacySwitch
        function onCheckedChanged() {
            Settings.legacyMode = legacySwitch.checked
        }
    }

    Connections {
        target: logSwitch
        function onCheckedChanged() {
            Settings.loggingEnabled = logSwitch.checked
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
        target: updateLink
        function onLinkActivated(link) {
            if (link === "upd://check")
                page3.checkForUpdates()
        }
    }

    Connections {
        target: notesLink
        function onLinkActivated(link) {
            if (link === "upd://notes")
                notesDialog.open()
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
            page3.checkRequested = false
            page3.showUpdateStatus(qsTr("An update to version %1 is available").arg(version))
            page3.releaseNotes = changelog
            notesLink.text = page3.notesLinkText
            notesLink.visible = changelog !== ""
            if (Qt.platform.os === "linux") {
                updateDlg.version = version
                updateDlg.detailedText = page3.notesExcerpt(changelog)
                updateDlg.open()
            }
        }
        // What an automatic check found out is shown only when it found a version.
        onUpToDate: {
            if (page3.checkRequested)
                page3.showUpdateStatus(qsTr("No updates available"))
            page3.checkRequested = false
        }
        onCheckFailed: {
            if (page3.checkRequested)
                page3.showUpdateStatus(qsTr("Update check failed") + "\n" + reason)
            page3.checkRequested = false
        }
        onUpdateStatus: page3.showUpdateStatus(text)
    }

    Timer {
        id: chkUpdTimer
        interval: 500
        repeat: false
        onTriggered: updateLink.text = page3.checkLinkText
    }

    Platform.MessageDialog {
        id: updateDlg
        property string version: ""
        buttons: Platform.MessageDialog.No | Platform.MessageDialog.Yes
        text: "<p align=\"center\">" + qsTr("Update to %1?").arg(page3.escaped(version)) + "<br>"
              + qsTr("Application will restart itself once updated") + "</p>"
        onYesClicked: updater.doUpdate()
    }

    ModalDialog {
        id: notesDialog
        title: qsTr("Release notes")
        standardButtons: Dialog.Close
        width: Math.round(page3.width * 0.9)
        height: Math.round(page3.height * 0.8)
        x: (page3.width - width) / 2
        y: (page3.height - height) / 2

        property alias notesView: notesView
        property alias notesScrollBar: notesScrollBar
        property alias notesText: notesText

        onAboutToShow: notesView.contentY = 0

        Flickable {
            id: notesView
            anchors.fill: parent
            clip: true
            contentWidth: width
            contentHeight: notesText.height
            boundsBehavior: Flickable.StopAtBounds
            // Read by keyboard too: the arrows and the page keys scroll.
            focus: true
            activeFocusOnTab: true
            Keys.onUpPressed: notesScrollBar.decrease()
            Keys.onDownPressed: notesScrollBar.increase()
            Keys.onPressed: {
                var page = height / Math.max(contentHeight, 1)
                if (event.key === Qt.Key_PageDown)
                    notesScrollBar.position = Math.min(1 - notesScrollBar.size, notesScrollBar.position + page)
                else if (event.key === Qt.Key_PageUp)
                    notesScrollBar.position = Math.max(0, notesScrollBar.position - page)
                else
                    return
                event.accepted = true
            }

            ScrollBar.vertical: ScrollBar {
                id: notesScrollBar
                stepSize: 48 / Math.max(notesView.contentHeight, 1)
                policy: notesView.contentHeight > notesView.height ? ScrollBar.AlwaysOn
                                                                   : ScrollBar.AlwaysOff
            }

            Text {
                id: notesText
                width: notesView.width - notesScrollBar.width
                wrapMode: Text.Wrap
                textFormat: Text.PlainText
                font.pixelSize: 14
                text: notesDialog.visible ? page3.releaseNotes : ""
            }
        }
    }

    Platform.MessageDialog {
        id: noLogDlg
        buttons: Platform.MessageDialog.Ok
        text: qsTr("Log file not found!")
    }

    // Nothing on this system opened the log: the user gets its path.
    FileOpener {
        id: fileOpener
        onFailed: {
            openFailedDlg.path = target
            openFailedDlg.open()
        }
    }

    Platform.MessageDialog {
        id: openFailedDlg
        property string path: ""
        buttons: Platform.MessageDialog.Ok
        text: qsTr("No program was found to open the log file.")
        informativeText: qsTr("Open it in a text editor:") + "\n" + path
    }

    ModalDialog {
        id: logSetupDialog
        title: qsTr("Setup Logging")
        standardButtons: Dialog.Ok | Dialog.Cancel
        x: (page3.width - width) / 2
        y: (page3.height - height) / 2

        property alias logSizeSpin: logSizeSpin
        property alias logBkpSpin: logBkpSpin
        property alias logNetSwitch: logNetSwitch
        property alias logProcSwitch: logProcSwitch

        onAccepted: page3.applyLogSetup()

        Component.onCompleted: {
            logSizeSpin.value = Settings.logSizeMb
            logBkpSpin.value = Settings.logBackups
            logNetSwitch.checked = Settings.logNetwork
            logProcSwitch.checked = Settings.logProcess
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
