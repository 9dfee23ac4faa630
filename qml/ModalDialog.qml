import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Window 2.2

// A dialog that has the keyboard to itself while it is open: it takes the
// focus when it opens, keys typed in it never reach the page behind it, and
// the control that had the focus gets it back when it closes.
Dialog {
    id: dialog

    modal: true
    focus: true

    property Item focusBefore: null
    property bool markedBefore: false

    onAboutToShow: {
        var window = parent ? parent.Window.window : null
        focusBefore = window ? window.activeFocusItem : null
        markedBefore = focusBefore !== null && focusBefore.visualFocus === true
    }
    onClosed: {
        if (focusBefore)
            focusBefore.forceActiveFocus(markedBefore ? Qt.TabFocusReason : Qt.OtherFocusReason)
        focusBefore = null
    }
}
