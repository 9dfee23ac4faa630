import QtQuick 2.10
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3

// A combo box wide enough for the longest of its entries, not only for the
// one chosen now: a box sized by a short entry cuts a longer one off once
// that one is chosen (and the list pop-up, as wide as the box, elides it).
ComboBox {
    id: box

    readonly property real widestEntry: {
        var widest = 0
        void model // measured again when the entries change
        for (var i = 0; i < count; ++i)
            widest = Math.max(widest, entryFont.advanceWidth(textAt(i)))
        return Math.ceil(widest)
    }

    Layout.minimumWidth: widestEntry + leftPadding + rightPadding + contentItem.leftPadding
                         + contentItem.rightPadding

    FontMetrics {
        id: entryFont
        font: box.font
    }
}
