#include "window/qmlhost.h"

#include "integration/autostarter.h"
#include "window/builddate.h"
#include "integration/fileopener.h"
#include "storage/journal.h"
#include "window/keyboardactivation.h"
#include "monitor/processwatcher.h"
#include "window/settings.h"
#include "integration/singleapphandler.h"
#include "monitor/systemprocess.h"
#include "window/systemprocesslistmodel.h"
#include "tray/trayicon.h"
#include "update/updater.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QSettings>
#include <QtQml>

void QmlHost::registerTypes()
{
    qmlRegisterType<ProcessWatcher>("ProcessWatcher", 1, 0, "ProcessWatcher");
    qmlRegisterType<AutoStarter>("AutoStarter", 1, 0, "AutoStarter");
    qmlRegisterType<Settings>("Settings", 1, 0, "Settings");
    qmlRegisterType<Updater>("Updater", 1, 0, "Updater");
    qmlRegisterType<FileOpener>("FileOpener", 1, 0, "FileOpener");
    qmlRegisterType<KeyboardActivation>("brennic.keyboard", 1, 0, "KeyboardActivation");
    qmlRegisterType<TrayIcon>("brennic.qmlsystray", 1, 0, "QmlSystray");
    qmlRegisterType<SystemProcess>("brennic.systemprocess", 1, 0, "SystemProcess");
    qmlRegisterType<SystemProcessListModel>("brennic.systemprocess", 1, 0, "SystemProcessModel");
    qmlRegisterUncreatableType<SingleAppHandler>(
        "brennic.SingleAppHandler", 1, 0, "SingleAppHandler",
        QStringLiteral("Cannot create an instance of SingleAppHandler from QML"));
    qmlRegisterUncreatableType<Journal>(
        "brennic.qjournal", 1, 0, "Journal",
        QStringLiteral("Cannot create an instance of Journal from QML"));
}

void QmlHost::publishContext(QQmlContext *context, SingleAppHandler *server, Journal *journal)
{
    QSettings settings;
    context->setContextProperty(QStringLiteral("appversion"), QStringLiteral(TOVEL3_VERSION));
    context->setContextProperty(QStringLiteral("__DATE__"), buildDate());
    context->setContextProperty(QStringLiteral("PWD"), QCoreApplication::applicationDirPath());
    context->setContextProperty(QStringLiteral("appServer"), server);
    context->setContextProperty(QStringLiteral("journal"), journal);
    context->setContextProperty(QStringLiteral("lang_key"), QStringLiteral("UI/Language"));
    context->setContextProperty(QStringLiteral("software_rendering"),
                                settings.value(QStringLiteral("softgl"), false).toBool());
    context->setContextProperty(
        QStringLiteral("lang_current"),
        settings.value(QStringLiteral("UI/Language"), QStringLiteral("en")).toString());
}
