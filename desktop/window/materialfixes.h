#pragma once

#include <QObject>
#include <QQmlAbstractUrlInterceptor>
#include <QSet>

class QQmlComponent;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;

// Three mends to the Material style, which would otherwise draw differently,
// and more slowly, on the two scene graphs the program offers.
//
// Elevation: the style draws the shadow of buttons, switch knobs, combo boxes,
// pop-ups, menus and dialogs as a layer whose effect is a shader: one
// offscreen buffer and shader pass per control. The software back-end (for old
// graphics cards) runs no shaders, so every item with such a layer vanishes
// there: pop-ups lose their background, buttons their shape. The interceptor
// hands the style a stand-in effect from the resources that lets the item
// draw itself and puts a shadow image beneath it, on both back-ends: the
// window looks the same whichever draws it, and under OpenGL its first frame
// comes about 20 ms sooner (no layer or shader per control to set up).
// Every other URL goes on to the interceptor installed before (the engine's
// file selector).
//
// Ripples, software back-end only: it places the hover and press highlight of
// a Material ripple at the window's origin, unclipped, whenever it changes on
// its own (the highlight fading in, the wave growing). Drawn into a layer of
// its own, a ripple keeps its place. Each ripple in a watched window gets that
// layer before the frame that first shows it.
//
// Halos, both back-ends: the round hover, focus and press halo of a switch,
// check box or tool button is clipped to a circle only by OpenGL; the
// software back-end draws it square. Such a ripple is hidden and a circle in
// its colour shows instead while the control is hovered, focused or down, as
// the ripple would be, the same on both.
class MaterialFixes : public QObject, public QQmlAbstractUrlInterceptor
{
    Q_OBJECT
public:
    // Installs an instance on the engine, which owns it, and watches every
    // window the engine creates from then on.
    static MaterialFixes *install(QQmlEngine *engine);

    // True when the scene graph back-end asked for (in code, else by the
    // QMLSCENE_DEVICE or QT_QUICK_BACKEND variable, in Qt's order) is the
    // software one.
    static bool softwareRequested();

    MaterialFixes(QQmlAbstractUrlInterceptor *next, bool software, QObject *parent = nullptr);

    QUrl intercept(const QUrl &url, DataType type) override;

    // Mends every ripple in the window, now and before each frame.
    void watch(QQuickWindow *window);

private:
    void mendRipples(QQuickItem *item);
    void replaceByHalo(QQuickItem *ripple);

    QQmlAbstractUrlInterceptor *m_next;
    bool m_software;
    QSet<QObject *> m_ripples;
    QQmlComponent *m_halo = nullptr;
};
