#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickWindow>

class QQuickItem;

// Enter and Return press the focused button of a window, as Space does: a
// push button, switch, check box or tab clicks, a closed combo box opens its
// list. Qt Quick's controls answer Space only. Text fields, spin boxes and
// open lists keep Enter for themselves.
class KeyboardActivation : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QQuickWindow *window READ window WRITE setWindow NOTIFY windowChanged)
public:
    explicit KeyboardActivation(QObject *parent = nullptr);

    QQuickWindow *window() const { return m_window; }
    void setWindow(QQuickWindow *window);

    // Whether Enter on this item is taken as Space.
    static bool pressesLikeSpace(const QQuickItem *item);

signals:
    void windowChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QQuickWindow> m_window;
};
