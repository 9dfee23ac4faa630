import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Controls.Material 2.1

// The port box. Ports are kept under their stable names, which can be long
// ("/dev/serial/by-id/usb-…-if00"): the box shows the start and the end of a
// name that does not fit, with the whole name in a tool tip, and its list
// wraps long names instead of cutting them off.
ComboBox {
    id: box

    // Shown, greyed, while there is no port at all.
    property string emptyText: ""

    contentItem: Label {
        leftPadding: box.mirrored ? 0 : 12
        rightPadding: box.mirrored ? 12 : 0
        text: box.count > 0 ? box.displayText : box.emptyText
        font: box.font
        color: box.enabled && box.count > 0 ? box.Material.foreground : box.Material.hintTextColor
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideMiddle
    }

    hoverEnabled: true
    ToolTip.text: contentItem.text
    ToolTip.visible: hovered && contentItem.truncated
    ToolTip.delay: 500

    delegate: ItemDelegate {
        width: ListView.view ? ListView.view.width : box.width
        highlighted: box.highlightedIndex === index
        contentItem: Label {
            text: modelData
            font: box.font
            wrapMode: Text.WrapAnywhere
            verticalAlignment: Text.AlignVCenter
        }
    }
}
