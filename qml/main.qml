import QtQuick 2.10
import QtQuick.Window 2.2
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3
import QtQuick.Extras 1.4
import Qt.labs.platform 1.0 as Platform
import QtQuick.Controls.Material 2.1
import Tovel3 1.0

ApplicationWindow {
    id: mainwindow
    objectName: "mainwindow"

    width: 580
    minimumWidth: width
    maximumWidth: width
    height: 540
    visible: false
    title: qsTr("USB Tovel v%1").arg(App.version)

    Material.theme: Material.Light
    Material.primary: Material.Indigo
    Material.accent: Material.Indigo
    Material.background: "#fdfdfd"

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
            if (currentIndex === 1 && page2)
                page2.tabEntered()
        }

        Page1 {
            id: page1
            objectName: "page1"
            extrasWanted: mainwindow.firstFrameDrawn
        }
        // The Settings and Application pages are not on the first screen: they
        // are built once it is drawn, so the window shows sooner.
        Loader {
            id: page2Loader
            active: mainwindow.firstFrameDrawn
            asynchronous: true
            source: "Page2.qml"
            onLoaded: {
                if (swipeView.currentIndex === 1)
                    page2.tabEntered()
            }
        }
        Loader {
            id: page3Loader
            active: mainwindow.firstFrameDrawn
            asynchronous: true
            source: "Page3.qml"
            onLoaded: initialiseApplicationPage()
        }
    }

    // Set by the host once the first frame is on screen, or at once when the
    // window starts hidden: what that frame does not show is built from then on.
    property bool firstFrameDrawn: false

    readonly property Item page2: page2Loader.item
    readonly property Item page3: page3Loader.item

    // The Application page at once, for an action that needs it before it was built.
    function applicationPage() {
        page3Loader.asynchronous = false
        firstFrameDrawn = true
        return page3Loader.item
    }

    // Enter and Return press the focused button as Space does.
    KeyboardActivation {
        window: mainwindow
    }

    FocusMark {
        id: focusMark
        target: mainwindow.activeFocusItem
    }

    AutoStarter {
        id: astarter
        objectName: "astarter"
    }

    SettingsTransfer {
        id: settings
        objectName: "settings"
    }

    QmlSystray {
        id: trayIcon
        objectName: "trayIcon"
        // Declared in this order because QML assigns them last to first: the
        // icon has to exist before the tray entry is shown.
        visible: true
        lamp: HeartbeatState.lamp

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
        target: App.server
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
                if (!settings.exportSettings(chosen)) {
                    warnCloseDialog.text = qsTr("Settings export failed")
                    warnCloseDialog.appclose = false
                    warnCloseDialog.open()
                }
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
        title: fileDialog.ifexport ? qsTr("Settings Export") : qsTr("Settings Import")
        buttons: Platform.MessageDialog.Ok
        onAccepted: {
            if (appclose)
                Qt.quit()
        }
    }

    // Without a tray a hidden window could not be brought back: each cycle
    // shows it again.
    Connections {
        target: HeartbeatState
        function onValueChanged(key, value) {
            if (key === "cycle" && !mainwindow.visible && !trayIcon.available)
                mainwindow.show()
        }
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
            mainwindow.visible = Settings.showAtStart
        else
            mainwindow.visible = true
        if (!mainwindow.visible)
            firstFrameDrawn = true
        astarter.checkAutostart()
    }

    function initialiseApplicationPage() {
        page3.hideSwitch.checked = !Settings.showAtStart
        page3.autostartSwitch.checked = astarter.autostartSet()
        page3.softwareSwitch.checked = Settings.softwareRendering
        page3.legacySwitch.checked = Settings.legacyMode
        page3.logSwitch.checked = Settings.loggingEnabled
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
            Board.testReset()
            break
        case "T2":
            Board.testPower()
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
            applicationPage().openLogFile()
            break
        case "D":
            Board.firmwareUpdate()
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
}
