#pragma once

#include <QString>
#include <QSystemTrayIcon>

class QMenu;

// A tray icon QML can drive: the icon is named by a resource image, the
// context menu carries entries identified by short ids, and the choices come
// back as signals. What the entries do is decided in QML.
class QQmlSystrayIcon : public QSystemTrayIcon
{
    Q_OBJECT
    Q_PROPERTY(QString iconSource READ iconResource WRITE setIconResource NOTIFY iconChanged)
    Q_PROPERTY(bool available READ available)

public:
    explicit QQmlSystrayIcon(QObject *parent = nullptr);
    ~QQmlSystrayIcon() override;

    bool available() const;

signals:
    void triggered(const QString &id);
    void iconClicked();
    void iconChanged();

public slots:
    void setIconResource(const QString &src);

private slots:
    void m_activated(QSystemTrayIcon::ActivationReason reason);
    void m_act_triggered();

public:
    Q_INVOKABLE void addAction(const QString &text, const QString &id);
    Q_INVOKABLE void addSeparator();
    Q_INVOKABLE QString iconResource() const;

private:
    QMenu *menu;
    QString m_iconResource;
};
