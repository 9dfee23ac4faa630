import QtQuick 2.10

// Rich text with a link that the keyboard reaches too: Tab stops on it, and
// Enter, Return or Space follow its first link as a click on it does.
Text {
    id: text

    readonly property string firstLink: {
        var found = /href="([^"]*)"/.exec(text.text)
        return found ? found[1] : ""
    }

    textFormat: Text.RichText
    activeFocusOnTab: firstLink !== ""

    Keys.onPressed: {
        if (event.key !== Qt.Key_Space && event.key !== Qt.Key_Return
                && event.key !== Qt.Key_Enter)
            return
        event.accepted = true
        if (!event.isAutoRepeat)
            text.linkActivated(text.firstLink)
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: text.hoveredLink ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
}
