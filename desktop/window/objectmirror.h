#pragma once

#include <QPointer>
#include <QQmlPropertyMap>

class QMetaProperty;

// A copy of another object's properties for QML, kept on the GUI thread.
//
// The engine's objects live on a thread of their own so that nothing the
// window does can delay a heartbeat; QML must not read them there. Every
// property of the source that has a change signal appears here under its own
// name. Each change is read on the source's thread and handed over queued, so
// a view sees the same values in the same order, only later. Views cannot
// write the copies: they call the engine's methods instead.
class ObjectMirror : public QQmlPropertyMap
{
    Q_OBJECT
public:
    // Reads the source's current values at once: call it before the source's
    // thread runs, or from that thread.
    explicit ObjectMirror(QObject *source, QObject *parent = nullptr);
    ~ObjectMirror() override;

    QObject *source() const { return m_source; }

    // A property's value as the copy holds it.
    static QVariant read(const QMetaProperty &property, const QObject *source);

    // Runs `call` on the source's thread; returns at once.
    template <typename Functor> void post(Functor &&call) const
    {
        QMetaObject::invokeMethod(m_source, std::forward<Functor>(call), Qt::QueuedConnection);
    }

protected:
    template <typename Derived>
    ObjectMirror(Derived *derived, QObject *source, QObject *parent)
        : QQmlPropertyMap(derived, parent)
        , m_source(source)
    {
        follow();
    }

    QVariant updateValue(const QString &key, const QVariant &input) override;

private:
    void follow();

    QObject *m_source;
    QPointer<QObject> m_relay;
};
