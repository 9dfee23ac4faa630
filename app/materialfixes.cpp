#include "materialfixes.h"

#include <QQmlApplicationEngine>
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
    auto *fixes = new MaterialFixes(engine->urlInterceptor(), engine);
    engine->setUrlInterceptor(fixes);
    if (!softwareRequested())
        return fixes;
    if (auto *appEngine = qobject_cast<QQmlApplicationEngine *>(engine)) {
        connect(appEngine, &QQmlApplicationEngine::objectCreated, fixes, [fixes](QObject *object) {
            if (auto *window = qobject_cast<QQuickWindow *>(object))
                fixes->watch(window);
        });
    }
    return fixes;
}

MaterialFixes::MaterialFixes(QQmlAbstractUrlInterceptor *next, QObject *parent)
    : QObject(parent)
    , m_next(next)
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
    layerRipples(window->contentItem());
    // Pop-ups and list delegates come and go: look again before each frame,
    // which is emitted only when something is about to be drawn.
    connect(window, &QQuickWindow::afterAnimating, this,
            [this, window] { layerRipples(window->contentItem()); });
}

void MaterialFixes::layerRipples(QQuickItem *item)
{
    if (item->inherits("QQuickMaterialRipple") && !m_ripples.contains(item)) {
        QQmlProperty(item, QStringLiteral("layer.enabled")).write(true);
        m_ripples.insert(item);
        connect(item, &QObject::destroyed, this, [this](QObject *gone) { m_ripples.remove(gone); });
    }
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        layerRipples(child);
}
