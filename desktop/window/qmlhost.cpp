#include "window/qmlhost.h"

#include "device/boardprotocol.h"
#include "integration/autostarter.h"
#include "integration/fileopener.h"
#include "integration/singleapphandler.h"
#include "monitor/heartbeat.h"
#include "monitor/systemprocess.h"
#include "storage/appsettings.h"
#include "storage/journal.h"
#include "tray/trayicon.h"
#include "update/updater.h"
#include "window/appinfo.h"
#include "window/boardfields.h"
#include "window/boardview.h"
#include "window/keyboardactivation.h"
#include "window/objectmirror.h"
#include "window/settings.h"
#include "window/systemprocesslistmodel.h"

#include <QHash>
#include <QPointer>
#include <QtQml>

namespace
{
const char *const uri = "Tovel3";

// The objects an engine's singletons stand for, kept with the engine.
class Published : public QObject
{
    Q_OBJECT
public:
    explicit Published(QQmlEngine *engine)
        : QObject(engine)
    {
        setObjectName(QStringLiteral("tovel3Singletons"));
    }

    static Published *of(QQmlEngine *engine)
    {
        auto *found = engine->findChild<Published *>(QStringLiteral("tovel3Singletons"),
                                                     Qt::FindDirectChildrenOnly);
        return found ? found : new Published(engine);
    }

    QHash<QByteArray, QPointer<QObject>> objects;
};

// A singleton whose object each engine is given by publish(); the engine
// never deletes it.
template <typename T> void registerPublished(const char *name)
{
    const QByteArray key(name);
    qmlRegisterSingletonType<T>(
        uri, 1, 0, name, [key](QQmlEngine *engine, QJSEngine *) -> QObject * {
            QObject *object = Published::of(engine)->objects.value(key);
            if (object)
                QQmlEngine::setObjectOwnership(object, QQmlEngine::CppOwnership);
            return object;
        });
}
} // namespace

void QmlHost::registerTypes()
{
    qmlRegisterType<AutoStarter>(uri, 1, 0, "AutoStarter");
    qmlRegisterType<SettingsTransfer>(uri, 1, 0, "SettingsTransfer");
    qmlRegisterType<Updater>(uri, 1, 0, "Updater");
    qmlRegisterType<FileOpener>(uri, 1, 0, "FileOpener");
    qmlRegisterType<KeyboardActivation>(uri, 1, 0, "KeyboardActivation");
    qmlRegisterType<TrayIcon>(uri, 1, 0, "QmlSystray");
    qmlRegisterType<SystemProcess>(uri, 1, 0, "SystemProcess");
    qmlRegisterType<SystemProcessListModel>(uri, 1, 0, "SystemProcessModel");
    qmlRegisterUncreatableType<SingleAppHandler>(
        uri, 1, 0, "SingleAppHandler",
        QStringLiteral("Cannot create an instance of SingleAppHandler from QML"));
    qmlRegisterUncreatableType<Journal>(
        uri, 1, 0, "Journal", QStringLiteral("Cannot create an instance of Journal from QML"));
    // The states the pages compare with, by name: Heartbeat.Sent,
    // BoardSettings.Long. The heartbeat's own values are HeartbeatState's.
    qmlRegisterUncreatableType<Heartbeat>(uri, 1, 0, "Heartbeat",
                                          QStringLiteral("The engine owns the heartbeat"));
    qmlRegisterUncreatableMetaObject(BoardProtocol::BoardSettings::staticMetaObject, uri, 1, 0,
                                     "BoardSettings",
                                     QStringLiteral("Board settings come from the board"));
    qmlRegisterSingletonType<BoardFields>(
        uri, 1, 0, "BoardFields",
        [](QQmlEngine *, QJSEngine *) -> QObject * { return new BoardFields; });
    registerPublished<AppInfo>("App");
    registerPublished<AppSettings>("Settings");
    registerPublished<BoardView>("Board");
    registerPublished<ObjectMirror>("HeartbeatState");
}

void QmlHost::publish(QQmlEngine *engine, const char *singleton, QObject *object)
{
    Published::of(engine)->objects.insert(QByteArray(singleton), object);
}

void QmlHost::publishApp(QQmlEngine *engine, SingleAppHandler *server, Journal *journal)
{
    publish(engine, "App", new AppInfo(server, journal, Published::of(engine)));
}

#include "qmlhost.moc"
