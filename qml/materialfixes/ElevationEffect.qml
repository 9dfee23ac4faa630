import QtQuick 2.12

// Takes the place of the Material style's elevation effect (see
// desktop/window/materialfixes.h). The style makes the item a layer with this as its
// effect; the layer hides the item and expects the effect to draw it. Here
// the item draws itself again and gets its shadow as an image beneath it:
// the style's key, penumbra and ambient shadows for the elevation, drawn
// blurred beforehand (tools/materialshadows.sh) around a rounded square,
// whose edges stretch to the item's size, or around a circle, scaled to a
// round item. One image node per control: cheap to build and to draw.
Item {
    id: effect

    // The interface the style uses.
    property var source
    property int elevation: 0
    property bool fullWidth: false
    property bool fullHeight: false

    readonly property Item sourceItem: source ? source.sourceItem : null
    readonly property real sourceRadius: sourceItem && sourceItem.radius ? sourceItem.radius : 0
    readonly property bool round: sourceItem !== null && sourceRadius > 0
                                  && 2 * sourceRadius >= Math.min(sourceItem.width, sourceItem.height) - 1
    // The nearest drawn elevation at or above this one, and its margin.
    readonly property int level: {
        var e = Math.max(0, Math.min(elevation, 24))
        var drawn = [1, 2, 3, 4, 6, 8, 12, 16, 24]
        for (var i = 0; e > 0 && i < drawn.length; ++i) {
            if (drawn[i] >= e)
                return drawn[i]
        }
        return 0
    }
    readonly property int pad: Math.floor((5 * level + 1) / 2) + level + 2

    Component.onCompleted: {
        if (source)
            source.hideSource = false
    }

    BorderImage {
        // A negative z draws it before the item's own content.
        parent: effect.sourceItem
        z: -1
        visible: effect.level > 0 && parent !== null

        // The images are drawn around 32 px: a round item scales the whole image.
        // (The style's URL is this file's base, hence the full ones.)
        readonly property real scaled: effect.round && parent ? parent.width / 32 : 1
        readonly property real margin: effect.pad * scaled
        readonly property real extraX: effect.fullWidth ? effect.sourceRadius + 2 * effect.elevation : 0
        readonly property real extraY: effect.fullHeight ? effect.sourceRadius + 2 * effect.elevation : 0
        x: -margin - extraX
        y: -margin - extraY
        width: parent ? parent.width + 2 * (margin + extraX) : 0
        height: parent ? parent.height + 2 * (margin + extraY) : 0
        border.left: effect.round ? 0 : effect.pad + 4
        border.right: effect.round ? 0 : effect.pad + 4
        border.top: effect.round ? 0 : effect.pad + 4
        border.bottom: effect.round ? 0 : effect.pad + 4
        source: visible ? "qrc:/materialfixes/shadow-" + (effect.round ? "round-" : "rect-") + effect.level + ".png" : ""
    }
}
