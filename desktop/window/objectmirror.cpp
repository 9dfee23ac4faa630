#include "window/objectmirror.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QPointer>

namespace
{
// Lives on the source's thread: told of every change signal of the source,
// it reads the changed properties there and posts their values to the mirror.
class Relay : public QObject
{
    Q_OBJECT
public:
    Relay(QObject *source, QQmlPropertyMap *mirror)
        : m_source(source)
        , m_mirror(mirror)
    {
        const QMetaObject *meta = source->metaObject();
        const QMetaMethod slot = staticMetaObject.method(staticMetaObject.indexOfSlot("changed()"));
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            if (!property.hasNotifySignal() || !property.isReadable())
                continue;
            if (!m_bySignal.contains(property.notifySignalIndex()))
                connect(source, property.notifySignal(), this, slot, Qt::DirectConnection);
            m_bySignal.insert(property.notifySignalIndex(), i);
        }
        moveToThread(source->thread());
    }

public slots:
    void changed() { changedBy(senderSignalIndex()); }

private:
    void changedBy(int signal)
    {
        const QMetaObject *meta = m_source->metaObject();
        QVector<QPair<QString, QVariant>> values;
        const auto properties = m_bySignal.values(signal);
        for (int index : properties) {
            const QMetaProperty property = meta->property(index);
            values.append(
                {QString::fromLatin1(property.name()), ObjectMirror::read(property, m_source)});
        }
        QPointer<QQmlPropertyMap> mirror = m_mirror;
        QMetaObject::invokeMethod(
            m_mirror,
            [mirror, values] {
                if (!mirror)
                    return;
                for (const auto &value : values) {
                    if (mirror->value(value.first) != value.second) {
                        mirror->insert(value.first, value.second);
                        emit mirror->valueChanged(value.first, value.second);
                    }
                }
            },
            Qt::QueuedConnection);
    }

    QObject *m_source;
    QQmlPropertyMap *m_mirror;
    QMultiHash<int, int> m_bySignal; // change signal -> properties it announces
};
} // namespace

ObjectMirror::ObjectMirror(QObject *source, QObject *parent)
    : QQmlPropertyMap(this, parent)
    , m_source(source)
{
    follow();
}

ObjectMirror::~ObjectMirror()
{
    // The relay belongs to the source's thread: delete it there.
    if (m_relay)
        m_relay->deleteLater();
}

void ObjectMirror::follow()
{
    const QMetaObject *meta = m_source->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal() && property.isReadable())
            insert(QString::fromLatin1(property.name()), read(property, m_source));
    }
    m_relay = new Relay(m_source, this);
    // The relay dies with the source when the engine goes first.
    m_relay->setParent(m_source);
}

QVariant ObjectMirror::read(const QMetaProperty &property, const QObject *source)
{
    // Enumerations reach QML as plain numbers.
    const QVariant value = property.read(source);
    return property.isEnumType() ? QVariant(value.toInt()) : value;
}

QVariant ObjectMirror::updateValue(const QString &key, const QVariant &)
{
    return value(key);
}

#include "objectmirror.moc"
