#include "trayicon.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

TrayIcon::TrayIcon(QObject *parent)
    : QSystemTrayIcon(parent)
    , m_menu(new QMenu)
{
    connect(this, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    setContextMenu(m_menu);
    setLamp(0);
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
    setIcon(QIcon(QStringLiteral(":/") + src));
    m_iconResource = src;
    emit iconChanged();
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
