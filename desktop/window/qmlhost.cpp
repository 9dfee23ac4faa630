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
#include "window/boardfields.h"
#include "window/builddate.h"
#include "window/keyboardactivation.h"
#include "window/settings.h"
#include "window/systemprocesslistmodel.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QtQml>

void QmlHost::registerTypes()
{
    qmlRegisterType<AutoStarter>("AutoStarter", 1, 0, "AutoStarter");
    qmlRegisterType<SettingsTransfer>("Settings", 1, 0, "SettingsTransfer");
    qmlRegisterType<Updater>("Updater", 1, 0, "Updater");
    qmlRegisterType<FileOpener>("FileOpener", 1, 0, "FileOpener");
    qmlRegisterType<KeyboardActivation>("brennic.keyboard", 1, 0, "KeyboardActivation");
    qmlRegisterType<TrayIcon>("brennic.qmlsystray", 1, 0, "QmlSystray");
    qmlRegisterType<SystemProcess>("brennic.systemprocess", 1, 0, "SystemProcess");
    qmlRegisterType<SystemProcessListModel>("brennic.systemprocess", 1, 0, "SystemProcessModel");
    qmlRegisterUncreatableType<SingleAppHandler>(
        "brennic.SingleAppHandler", 1, 0, "SingleAppHandler",
        QStringLiteral("Cannot create an instance of SingleAppHandler from QML"));
    // The states the pages compare with, by name: Heartbeat.Sent,
    // BoardSettings.Long.
    qmlRegisterUncreatableType<Heartbeat>("Tovel3", 1, 0, "Heartbeat",
                                          QStringLiteral("The engine owns the heartbeat"));
    qmlRegisterUncreatableMetaObject(BoardProtocol::BoardSettings::staticMetaObject, "Tovel3", 1, 0,
                                     "BoardSettings",
                                     QStringLiteral("Board settings come from the board"));
    qmlRegisterSingletonType<BoardFields>(
        "Tovel3", 1, 0, "BoardFields",
        [](QQmlEngine *, QJSEngine *) -> QObject * { return new BoardFields; });
    qmlRegisterUncreatableType<Journal>(
        "brennic.qjournal", 1, 0, "Journal",
        QStringLiteral("Cannot create an instance of Journal from QML"));
}

void QmlHost::publishContext(QQmlContext *context, SingleAppHandler *server, Journal *journal)
{
    const AppSettings settings;
    context->setContextProperty(QStringLiteral("appversion"), QStringLiteral(TOVEL3_VERSION));
    context->setContextProperty(QStringLiteral("__DATE__"), buildDate());
    context->setContextProperty(QStringLiteral("appServer"), server);
    context->setContextProperty(QStringLiteral("journal"), journal);
    context->setContextProperty(QStringLiteral("software_rendering"),
                                settings.softwareRendering());
    context->setContextProperty(
        QStringLiteral("lang_current"),
        settings.language());
}
