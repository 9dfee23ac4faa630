#include "window/keyboardactivation.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QQuickItem>
#include <QQuickWindow>

KeyboardActivation::KeyboardActivation(QObject *parent)
    : QObject(parent)
{
}

void KeyboardActivation::setWindow(QQuickWindow *window)
{
    if (m_window == window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (m_window)
        m_window->installEventFilter(this);
    emit windowChanged();
}

bool KeyboardActivation::pressesLikeSpace(const QQuickItem *item)
{
    if (!item || !item->isEnabled())
        return false;
    if (item->inherits("QQuickAbstractButton"))
        return true;
    if (!item->inherits("QQuickComboBox") || item->property("editable").toBool())
        return false;
    const QObject *popup = item->property("popup").value<QObject *>();
    return !popup || !popup->property("visible").toBool();
}

bool KeyboardActivation::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
        (key->modifiers() & ~Qt::KeypadModifier))
        return false;
    if (!pressesLikeSpace(m_window->activeFocusItem()))
        return false;
    QKeyEvent space(key->type(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "),
                    key->isAutoRepeat(), key->count());
    QCoreApplication::sendEvent(m_window, &space);
    return true;
}
