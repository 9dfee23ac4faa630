import QtQuick 2.12

// Takes the place of the Material style's elevation effect (see
// app/materialfixes.h). The style makes the item a layer with
// this as its effect; the layer hides the item and expects the effect to draw
// it. Here the item draws itself again and gets a shadow of translucent
// rounded rectangles as a child beneath it: steps that approach the style's
// blurred key, penumbra and ambient shadows for the same elevation.
Item {
    id: effect

    // The interface the style uses.
    property var source
    property int elevation: 0
    property bool fullWidth: false
    property bool fullHeight: false

    readonly property Item sourceItem: source ? source.sourceItem : null
    readonly property real sourceRadius: sourceItem && sourceItem.radius ? sourceItem.radius : 0

    // One entry per rectangle: vertical offset, growth beyond the item's edge
    // and opacity. Each shadow (offset, blur, spread, opacity) is a stack of
    // rectangles grown evenly from spread - blur / 2 to spread + blur / 2,
    // which ramps its opacity down across the blur like the blurred edge.
    readonly property var steps: {
        var e = Math.max(0, Math.min(elevation, 24))
        if (e === 0)
            return []
        var shadows = [[e / 2, 0.6 * e + 2, -e / 4, 0.2], [e, 1.5 * e, e / 8, 0.14],
                       [e / 3, 2 * e, e / 3, 0.12]]
        var out = []
        for (var i = 0; i < shadows.length; ++i) {
            var s = shadows[i]
            var n = Math.max(2, Math.min(8, Math.round(s[1] / 3)))
            for (var k = 0; k < n; ++k)
                out.push({
                             "dy": Math.round(s[0]),
                             "grow": Math.round(s[2] + s[1] * ((k + 0.5) / n - 0.5)),
                             "opacity": s[3] / n
                         })
        }
        return out
    }

    Component.onCompleted: {
        if (source)
            source.hideSource = false
    }

    Item {
        // A negative z draws it before the item's own content.
        parent: effect.sourceItem
        z: -1
        width: parent ? parent.width : 0
        height: parent ? parent.height : 0

        Repeater {
            model: effect.steps

            Rectangle {
                readonly property real extraX: effect.fullWidth ? effect.sourceRadius + 2 * effect.elevation : 0
                readonly property real extraY: effect.fullHeight ? effect.sourceRadius + 2 * effect.elevation : 0
                x: -modelData.grow - extraX
                y: -modelData.grow - extraY + modelData.dy
                width: parent.width + 2 * (modelData.grow + extraX)
                height: parent.height + 2 * (modelData.grow + extraY)
                radius: Math.max(0, effect.sourceRadius + modelData.grow)
                color: Qt.rgba(0, 0, 0, modelData.opacity)
            }
        }
    }
}
