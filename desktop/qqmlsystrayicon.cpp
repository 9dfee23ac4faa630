#include "qqmlsystrayicon.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

QQmlSystrayIcon::QQmlSystrayIcon(QObject *parent)
    : QSystemTrayIcon(parent)
    , menu(new QMenu)
{
    connect(this, &QSystemTrayIcon::activated, this, &QQmlSystrayIcon::m_activated);
    setContextMenu(menu);
}

QQmlSystrayIcon::~QQmlSystrayIcon()
{
    delete menu;
}

bool QQmlSystrayIcon::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QQmlSystrayIcon::setIconResource(const QString &src)
{
    setIcon(QIcon(QStringLiteral(":/") + src));
    m_iconResource = src;
    emit iconChanged();
}

QString QQmlSystrayIcon::iconResource() const
{
    return m_iconResource;
}

void QQmlSystrayIcon::addAction(const QString &text, const QString &id)
{
    auto *action = new QAction(text, this);
    action->setData(id);
    connect(action, &QAction::triggered, this, &QQmlSystrayIcon::m_act_triggered);
    menu->addAction(action);
}

void QQmlSystrayIcon::addSeparator()
{
    menu->addSeparator();
}

void QQmlSystrayIcon::m_act_triggered()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    const QString id = action->data().toString();
    if (!id.isEmpty())
        emit triggered(id);
}

void QQmlSystrayIcon::m_activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        emit iconClicked();
}
