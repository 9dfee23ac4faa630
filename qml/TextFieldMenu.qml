import QtQuick 2.10
import Qt.labs.platform 1.0

Menu {
    id: textFieldMenu

    property Item textField: null

    readonly property bool hasSelection: textField !== null && textField.selectedText.length > 0
    readonly property bool editable: textField !== null && !textField.readOnly

    MenuItem {
        id: cutItem
        text: qsTr("C&ut")
        shortcut: StandardKey.Cut
        enabled: textFieldMenu.hasSelection && textFieldMenu.editable
        onTriggered: textField.cut()
    }

    MenuItem {
        id: copyItem
        text: qsTr("&Copy")
        shortcut: StandardKey.Copy
        enabled: textFieldMenu.hasSelection
        onTriggered: textField.copy()
    }

    MenuItem {
        id: pasteItem
        text: qsTr("&Paste")
        shortcut: StandardKey.Paste
        enabled: textFieldMenu.editable && textField.canPaste
        onTriggered: textField.paste()
    }

    MenuSeparator {
    }

    MenuItem {
        id: selectAllItem
        text: qsTr("Select &all")
        shortcut: StandardKey.SelectAll
        enabled: textField !== null && textField.text.length > 0
        onTriggered: textField.selectAll()
    }
}
