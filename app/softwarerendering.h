#pragma once

#include <QObject>
#include <QQmlAbstractUrlInterceptor>
#include <QSet>

class QQmlEngine;
class QQuickItem;
class QQuickWindow;

// Makes the Material style draw correctly on the software scene graph, which
// the program offers for old graphics cards.
//
// Elevation: the style draws the shadow of buttons, switch knobs, combo boxes,
// pop-ups, menus and dialogs as a layer whose effect is a shader. That back-end
// runs no shaders, so every item with such a layer vanishes: pop-ups lose their
// background, buttons their shape. The interceptor hands the style a stand-in
// effect from the resources that lets the item draw itself and puts a shadow
// of plain rectangles beneath it. Every other URL goes on to the interceptor
// installed before (the engine's file selector).
//
// Ripples: the back-end places the hover and press highlight of a Material
// ripple at the window's origin, unclipped, whenever it changes on its own
// (the highlight fading in, the wave growing). Drawn into a layer of its own,
// a ripple keeps its place. Each ripple in a watched window gets that layer
// before the frame that first shows it.
class SoftwareRendering : public QObject, public QQmlAbstractUrlInterceptor
{
    Q_OBJECT
public:
    // When the software scene graph is the one that will render, installs an
    // instance on the engine, which owns it, and watches every window the
    // engine creates from then on; returns the instance, else null.
    static SoftwareRendering *installIfSoftware(QQmlEngine *engine);

    // True when the scene graph back-end asked for (in code, else by the
    // QMLSCENE_DEVICE or QT_QUICK_BACKEND variable, in Qt's order) is the
    // software one.
    static bool softwareRequested();

    explicit SoftwareRendering(QQmlAbstractUrlInterceptor *next, QObject *parent = nullptr);

    QUrl intercept(const QUrl &url, DataType type) override;

    // Gives every ripple in the window a layer, now and before each frame.
    void watch(QQuickWindow *window);

private:
    void layerRipples(QQuickItem *item);

    QQmlAbstractUrlInterceptor *m_next;
    QSet<QObject *> m_ripples;
};
