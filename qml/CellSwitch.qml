import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1

// A switch in a cell of a grid: never wider than the cell, its text wraps
// onto more lines instead of running past the cell's edges.
Switch {
    id: control

    width: Math.min(implicitWidth, parent.width - 8)

    contentItem: Text {
        leftPadding: control.indicator.width + control.spacing
        text: control.text
        font: control.font
        color: control.enabled ? control.Material.foreground : control.Material.hintTextColor
        wrapMode: Text.WordWrap
        verticalAlignment: Text.AlignVCenter
    }
}
