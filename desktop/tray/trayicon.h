#pragma once

#include <QHash>
#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>

class QMenu;

// A tray icon QML can drive: the icon is named by a resource image, the
// context menu carries entries identified by short ids, and the choices come
// back as signals. What the entries do is decided in QML.
class TrayIcon : public QSystemTrayIcon
{
    Q_OBJECT
    Q_PROPERTY(QString iconSource READ iconResource WRITE setIconResource NOTIFY iconChanged)
    Q_PROPERTY(bool available READ available)
    // The heartbeat lamp (0 off, 1 heartbeat sent, 2 acknowledged) shown as
    // the matching icon.
    Q_PROPERTY(int lamp READ lamp WRITE setLamp NOTIFY iconChanged)

public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    bool available() const;
    int lamp() const { return m_lamp; }
    void setLamp(int lamp);
    static QString lampIcon(int lamp);
    // An icon from one of the program's PNG resources. Read as PNG outright:
    // a reader left to guess the format loads every image plug-in first.
    static QIcon pngIcon(const QString &resource);

signals:
    void triggered(const QString &id);
    void iconClicked();
    void iconChanged();

public slots:
    void setIconResource(const QString &src);

private slots:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void onActionTriggered();

public:
    Q_INVOKABLE void addAction(const QString &text, const QString &id);
    Q_INVOKABLE void addSeparator();
    Q_INVOKABLE QString iconResource() const;

private:
    QMenu *m_menu;
    QString m_iconResource;
    QHash<QString, QIcon> m_icons; // by resource name, read once
    int m_lamp = 0;
};
