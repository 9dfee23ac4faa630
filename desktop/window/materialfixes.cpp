#include "window/materialfixes.h"

#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>

bool MaterialFixes::softwareRequested()
{
    QString backend = QQuickWindow::sceneGraphBackend();
    if (backend.isEmpty())
        backend = qEnvironmentVariable("QMLSCENE_DEVICE");
    if (backend.isEmpty())
        backend = qEnvironmentVariable("QT_QUICK_BACKEND");
    return backend == QLatin1String("software") || backend == QLatin1String("softwarecontext");
}

MaterialFixes *MaterialFixes::install(QQmlEngine *engine)
{
    auto *fixes = new MaterialFixes(engine->urlInterceptor(), softwareRequested(), engine);
    engine->setUrlInterceptor(fixes);
    if (auto *appEngine = qobject_cast<QQmlApplicationEngine *>(engine)) {
        connect(appEngine, &QQmlApplicationEngine::objectCreated, fixes, [fixes](QObject *object) {
            if (auto *window = qobject_cast<QQuickWindow *>(object))
                fixes->watch(window);
        });
    }
    return fixes;
}

MaterialFixes::MaterialFixes(QQmlAbstractUrlInterceptor *next, bool software, QObject *parent)
    : QObject(parent)
    , m_next(next)
    , m_software(software)
{
}

QUrl MaterialFixes::intercept(const QUrl &url, DataType type)
{
    // The style lives on disk or, in a static build, in Qt's own resources.
    if (type == QmlFile &&
        url.path().endsWith(QLatin1String("/Controls.2/Material/ElevationEffect.qml")))
        return QUrl(QStringLiteral("qrc:/materialfixes/ElevationEffect.qml"));
    return m_next ? m_next->intercept(url, type) : url;
}

void MaterialFixes::watch(QQuickWindow *window)
{
    mendRipples(window->contentItem());
    // Pop-ups and list delegates come and go: look again before each frame,
    // which is emitted only when something is about to be drawn.
    connect(window, &QQuickWindow::afterAnimating, this,
            [this, window] { mendRipples(window->contentItem()); });
}

void MaterialFixes::mendRipples(QQuickItem *item)
{
    // A ripple is looked at once it has its size.
    if (item->inherits("QQuickMaterialRipple") && item->width() > 0 && !m_ripples.contains(item)) {
        m_ripples.insert(item);
        connect(item, &QObject::destroyed, this, [this](QObject *gone) { m_ripples.remove(gone); });
        // A square one with no rounded clip of its own is a round halo.
        const bool round =
            item->width() == item->height() && item->property("clipRadius").toReal() == 0;
        if (round)
            replaceByHalo(item);
        else if (m_software)
            QQmlProperty(item, QStringLiteral("layer.enabled")).write(true);
    }
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        mendRipples(child);
}

void MaterialFixes::replaceByHalo(QQuickItem *ripple)
{
    QQuickItem *control = ripple->parentItem();
    while (control && !control->inherits("QQuickAbstractButton"))
        control = control->parentItem();
    QQmlContext *context = qmlContext(ripple);
    if (!control || !context || !context->engine())
        return;
    if (!m_halo) {
        m_halo = new QQmlComponent(context->engine(), this);
        // The ripple's own properties announce no changes: the halo follows
        // the control, as the style's ripple of these controls does.
        m_halo->setData("import QtQuick 2.10\n"
                        "import QtQuick.Controls.Material 2.1\n"
                        "Rectangle {\n"
                        "    property Item ripple\n"
                        "    property Item control\n"
                        "    x: ripple ? ripple.x : 0\n"
                        "    y: ripple ? ripple.y : 0\n"
                        "    z: ripple ? ripple.z : 0\n"
                        "    width: ripple ? ripple.width : 0\n"
                        "    height: ripple ? ripple.height : 0\n"
                        "    radius: width / 2\n"
                        "    color: !control ? \"transparent\"\n"
                        "           : control.checked ? control.Material.highlightedRippleColor\n"
                        "                             : control.Material.rippleColor\n"
                        "    visible: control !== null && control.enabled\n"
                        "             && (control.down || control.visualFocus || control.hovered)\n"
                        "}\n",
                        QUrl(QStringLiteral("qrc:/materialfixes/halo.qml")));
    }
    QObject *created = m_halo->beginCreate(context);
    auto *halo = qobject_cast<QQuickItem *>(created);
    if (!halo) {
        delete created;
        return;
    }
    halo->setProperty("ripple", QVariant::fromValue<QObject *>(ripple));
    halo->setProperty("control", QVariant::fromValue<QObject *>(control));
    halo->setParentItem(ripple->parentItem());
    halo->setParent(ripple);
    halo->stackAfter(ripple);
    m_halo->completeCreate();
    ripple->setVisible(false);
}
