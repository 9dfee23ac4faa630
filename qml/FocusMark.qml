import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1

// The frame round the control that has the keyboard's focus, in the accent
// colour, drawn alike by both scene graphs. It shows when the focus came by the
// keyboard (a click gives none), and not on a control that marks its focus
// itself, such as the process list, which marks its current row.
Rectangle {
    id: mark

    // The item that has the window's active focus.
    property Item target: null
    // The control it belongs to: the spin box whose text field has the focus.
    readonly property Item control: {
        var t = target
        if (t && t.visualFocus === undefined && t.parent && t.parent.visualFocus !== undefined
                && t.parent.contentItem === t)
            return t.parent
        return t
    }
    readonly property bool shown: {
        var c = control
        if (!c || c.drawsOwnFocus === true || !c.visible)
            return false
        if (c.visualFocus !== undefined)
            return c.visualFocus
        if (c.focusReason !== undefined)
            return c.focusReason === Qt.TabFocusReason || c.focusReason === Qt.BacktabFocusReason
        return c.activeFocus
    }
    readonly property real leftInset: control && control.leftInset ? control.leftInset : 0
    readonly property real rightInset: control && control.rightInset ? control.rightInset : 0
    readonly property real topInset: control && control.topInset ? control.topInset : 0
    readonly property real bottomInset: control && control.bottomInset ? control.bottomInset : 0

    parent: shown ? control : null
    visible: shown
    z: 10000
    x: leftInset - 3
    y: topInset - 3
    width: control ? control.width - leftInset - rightInset + 6 : 0
    height: control ? control.height - topInset - bottomInset + 6 : 0
    radius: 4
    color: "transparent"
    border.width: 2
    border.color: Material.accent
}
