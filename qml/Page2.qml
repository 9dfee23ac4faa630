import QtQuick 2.10
import Tovel3 1.0

Page2Form {
    id: page2
    objectName: "page2"

    // The lists come from the protocol's table of fields, in this form's
    // words: a named choice by its translation, a number with its unit.
    function choiceTexts(field) {
        var names = {
            "OFF": textOff, "RESET": textReset, "POWER": textPower,
            "OUT OPENED": textOutOpened, "OUT CLOSED": textOutClosed,
            "INPUT": textInput, "OUTPUT": textOutput, "TEMP": textTemp
        }
        var units = {"min": unitMin, "ms": unitMs, "s": unitS, "": ""}
        return BoardFields.choices(field).map(function (choice) {
            return choice.name !== undefined ? names[choice.name]
                                             : choice.number + units[choice.unit]
        })
    }
    readonly property var t1Choices: choiceTexts(0)

    // Compatibility mode can send reset times up to 9 minutes only.
    t1Box.model: Settings.legacyMode ? t1Choices.slice(0, Board.compatibilityT1Max + 1)
                                        : t1Choices
    t2Box.model: choiceTexts(1)
    t3Box.model: choiceTexts(2)
    t4Box.model: choiceTexts(3)
    t5Box.model: choiceTexts(4)
    p6Box.model: choiceTexts(5)
    p7Box.model: choiceTexts(6)
    p8Box.model: choiceTexts(7)
    p9Box.model: choiceTexts(8)

    // A read the board did not answer says so on the button that reads again.
    readbutton.text: !Settings.legacyMode && Board.settingsUnanswered
                     ? "<font color=\"red\">" + qsTr("No reply") + "</font>" : qsTr("Read")

    // The main window calls this each time its page stack switches to this page.
    function tabEntered() {
        if (Settings.legacyMode) {
            t1Box.currentIndex = Math.min(Settings.legacyT1, Board.compatibilityT1Max)
            readbutton.enabled = false
            t2Group.enabled = false
            t2Box.currentIndex = 2
            t3Group.enabled = false
            t3Box.currentIndex = -1
            t4Box.currentIndex = -1
            t5Box.currentIndex = -1
            channelGroup.enabled = false
            p6Box.currentIndex = 1
            tempGroup.enabled = false
            writebutton.enabled = true
            return
        }
        readbutton.enabled = true
        readSettings()
    }

    // Write is offered once the board's settings were read: what the boxes
    // show before is no reading of the board.
    function readSettings() {
        writebutton.enabled = false
        Board.readSettings()
    }

    function boxValues() {
        return [t1Box.currentIndex, t2Box.currentIndex, t3Box.currentIndex, t4Box.currentIndex,
                t5Box.currentIndex, p6Box.currentIndex, p7Box.currentIndex, p8Box.currentIndex,
                p9Box.currentIndex, p10spinBox.value]
    }

    function writeSettings() {
        if (Settings.legacyMode) {
            Settings.legacyT1 = t1Box.currentIndex
            Board.writeSettings([t1Box.currentIndex], false)
            return
        }
        Board.writeSettings(boxValues(), t3Group.enabled)
    }

    // What the board reported: the long form fills every box, the short one
    // only t1 and t2; anything else leaves the boxes and disables Write.
    function showSettings(form, values) {
        t1Group.enabled = true
        t2Group.enabled = true
        if (form === BoardSettings.Long) {
            var boxes = [t1Box, t2Box, t3Box, t4Box, t5Box, p6Box, p7Box, p8Box, p9Box]
            for (var i = 0; i < boxes.length; ++i)
                boxes[i].currentIndex = values[i]
            if (values[9] >= 0)
                p10spinBox.value = values[9]
            t3Group.enabled = true
            channelGroup.enabled = true
            tempGroup.enabled = true
        } else if (form === BoardSettings.Short) {
            t1Box.currentIndex = values[0]
            t2Box.currentIndex = values[1]
            t3Group.enabled = false
            t3Box.currentIndex = -1
            t4Box.currentIndex = -1
            t5Box.currentIndex = -1
            channelGroup.enabled = false
            p6Box.currentIndex = 1
            p7Box.currentIndex = -1
            tempGroup.enabled = false
            p8Box.currentIndex = -1
            p9Box.currentIndex = -1
        } else {
            writebutton.enabled = false
            return
        }
        writebutton.enabled = true
    }

    function writeText(result) {
        if (result === 1)
            return "<font color=\"green\">" + qsTr("OK") + "</font>"
        if (result === 2)
            return "<font color=\"red\">" + qsTr("Failed") + "</font>"
        return qsTr("Write")
    }

    // What the Write button says after a write: 1 "OK", 2 "Failed", for
    // 800 ms; 0 "Write".
    property int writeResult: 0
    writebutton.text: writeText(writeResult)

    Timer {
        id: writeResultTimer
        interval: 800
        onTriggered: page2.writeResult = 0
    }

    function showWriteResult(result) {
        writeResult = result
        writeResultTimer.restart()
    }

    Connections {
        target: Board
        function onSettingsRead(form, values) {
            page2.showSettings(form, values)
        }
        function onWriteConfirmed() {
            page2.showWriteResult(1)
        }
        function onWriteFailed() {
            page2.showWriteResult(2)
        }
    }

    Connections {
        target: readbutton
        function onClicked() {
            page2.readSettings()
        }
    }

    Connections {
        target: writebutton
        function onClicked() {
            page2.writeSettings()
        }
    }
}
