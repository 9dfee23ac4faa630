#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// An abstract text channel to a device. Every operation answers "nothing"
// (empty list, empty string, false) until a subclass provides a transport.
class Channel : public QObject
{
    Q_OBJECT
public:
    explicit Channel(QObject *parent = nullptr);
    ~Channel() override;

public slots:
    virtual QStringList channels();
    virtual bool open(const QString &name);
    virtual void close();
    virtual bool isOpen();
    virtual QString name();
    virtual QStringList params();
    virtual QString param(const QString &name);
    virtual bool paramSet(const QString &name, const QString &value);
    virtual QString readString();
    virtual bool writeString(const QString &s);

protected:
    QString m_name;
    QStringList m_params;
};
