#include "tray/trayicon.h"

#include <QAction>
#include <QIcon>
#include <QImageReader>
#include <QMenu>
#include <QPixmap>

TrayIcon::TrayIcon(QObject *parent)
    : QSystemTrayIcon(parent)
    , m_menu(new QMenu)
{
    connect(this, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    setContextMenu(m_menu);
    setIconResource(lampIcon(m_lamp));
}

TrayIcon::~TrayIcon()
{
    delete m_menu;
}

bool TrayIcon::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setIconResource(const QString &src)
{
    // The lamp changes the icon three times a cycle: each image is read once.
    auto icon = m_icons.constFind(src);
    if (icon == m_icons.cend())
        icon = m_icons.insert(src, pngIcon(QStringLiteral(":/") + src));
    setIcon(*icon);
    m_iconResource = src;
    emit iconChanged();
}

QIcon TrayIcon::pngIcon(const QString &resource)
{
    QImageReader reader(resource, "png");
    reader.setAutoDetectImageFormat(false);
    return QIcon(QPixmap::fromImage(reader.read()));
}

QString TrayIcon::lampIcon(int lamp)
{
    switch (lamp) {
    case 1:
        return QStringLiteral("tovel3_y.png");
    case 2:
        return QStringLiteral("tovel3_g.png");
    default:
        return QStringLiteral("tovel3.png");
    }
}

void TrayIcon::setLamp(int lamp)
{
    if (lamp == m_lamp && m_iconResource == lampIcon(lamp))
        return;
    m_lamp = lamp;
    setIconResource(lampIcon(lamp));
}

QString TrayIcon::iconResource() const
{
    return m_iconResource;
}

void TrayIcon::addAction(const QString &text, const QString &id)
{
    auto *action = new QAction(text, this);
    action->setData(id);
    connect(action, &QAction::triggered, this, &TrayIcon::onActionTriggered);
    m_menu->addAction(action);
}

void TrayIcon::addSeparator()
{
    m_menu->addSeparator();
}

void TrayIcon::onActionTriggered()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    const QString id = action->data().toString();
    if (!id.isEmpty())
        emit triggered(id);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        emit iconClicked();
}
