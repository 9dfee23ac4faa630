import QtQuick 2.10

Page2Form {
    id: page2

    // One upper-case hexadecimal digit per box index. Anything that does not fit in
    // a digit (16 or more, or a box left without a selection) goes out as "0", so
    // the command keeps the length the board expects.
    function decimalToChar(d) {
        if (d >= 16 || d < 0 || isNaN(d))
            return "0"
        return Number(d).toString(16).toUpperCase()
    }

    function decimalToHex(d, padding) {
        if (padding === undefined || padding === null)
            padding = 2
        var hex = Number(d).toString(16).toLowerCase()
        while (hex.length < padding)
            hex = "0" + hex
        return hex
    }

    function legacyMode() {
        return settings.read("legacy", "false") === "true"
    }

    function storedT1() {
        var t1 = parseInt(settings.read("t1", "5"), 10)
        return isNaN(t1) ? 5 : t1
    }

    // The main window calls this each time its page stack switches to this page.
    function tabEntered() {
        if (legacyMode()) {
            t1Box.currentIndex = storedT1()
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
        serialCommand("~F")
    }

    function readSettings() {
        serialCommand("~F")
    }

    function writeCommand() {
        var cmd = "~W" + decimalToChar(t1Box.currentIndex) + decimalToChar(t2Box.currentIndex)
        if (t3Group.enabled) {
            cmd += decimalToChar(t3Box.currentIndex) + decimalToChar(t4Box.currentIndex)
                    + decimalToChar(t5Box.currentIndex) + decimalToChar(p6Box.currentIndex)
                    + decimalToChar(p7Box.currentIndex) + decimalToChar(p8Box.currentIndex)
                    + decimalToChar(p9Box.currentIndex) + decimalToHex(p10spinBox.value)
        }
        return cmd
    }

    function writeSettings() {
        if (legacyMode()) {
            settings.write("t1", String(t1Box.currentIndex), "int")
            var t1 = storedT1()
            serialCommand("~W" + (t1 > 9 ? 9 : Math.max(t1, 0)) + "\n")
            return
        }
        serialCommand(writeCommand())
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
