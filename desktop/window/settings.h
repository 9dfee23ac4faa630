#pragma once

#include <QObject>
#include <QString>

class QSettings;

// The per-user option store as seen from QML: every value is read back as
// text, and a write names the type the text is stored as.
class Settings : public QObject
{
    Q_OBJECT
public:
    explicit Settings(QObject *parent = nullptr);
    ~Settings() override;

    Q_INVOKABLE QString read(const QString &key, const QString &defaultValue) const;
    Q_INVOKABLE QString read(const QString &key) const;
    Q_INVOKABLE void write(const QString &key, const QString &value, const QString &type);
    Q_INVOKABLE void write(const QString &key, const QString &value);
    Q_INVOKABLE bool hasKey(const QString &key) const;
    Q_INVOKABLE void reset(const QString &key);
    Q_INVOKABLE void remove(const QString &key);
    Q_INVOKABLE void flush();
    Q_INVOKABLE void exportSettings(const QString &file);
    Q_INVOKABLE bool importSettings(const QString &file);

private:
    QSettings *m_store;
};
