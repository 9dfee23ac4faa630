#include "qmlhost.h"

#include "builddate.h"
#include "singleapphandler.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QSettings>
#include <QtQml>

#if __has_include("qlchannelserial.h")
#include "qlchannelserial.h"
#define HAVE_QLCHANNELSERIAL
#endif
#if __has_include("pingprocess.h")
#include "pingprocess.h"
#define HAVE_PINGPROCESS
#endif
#if __has_include("processwatcher.h")
#include "processwatcher.h"
#define HAVE_PROCESSWATCHER
#endif
#if __has_include("autostarter.h")
#include "autostarter.h"
#define HAVE_AUTOSTARTER
#endif
#if __has_include("settings.h")
#include "settings.h"
#define HAVE_SETTINGS
#endif
#if __has_include("updater.h")
#include "updater.h"
#define HAVE_UPDATER
#endif
#if __has_include("qqmlsystrayicon.h")
#include "qqmlsystrayicon.h"
#define HAVE_QQMLSYSTRAYICON
#endif
#if __has_include("systemprocess.h")
#include "systemprocess.h"
#define HAVE_SYSTEMPROCESS
#endif
#if __has_include("systemprocesslistmodel.h")
#include "systemprocesslistmodel.h"
#define HAVE_SYSTEMPROCESSLISTMODEL
#endif
#if __has_include("qjournal.h")
#include "qjournal.h"
#define HAVE_QJOURNAL
#endif

void QmlHost::registerTypes()
{
#ifdef HAVE_QLCHANNELSERIAL
    qmlRegisterType<QlChannelSerial>("QlChannelSerial", 1, 0, "QlChannelSerial");
#endif
#ifdef HAVE_PINGPROCESS
    qmlRegisterType<PingProcess>("PingProcess", 1, 0, "PingProcess");
#endif
#ifdef HAVE_PROCESSWATCHER
    qmlRegisterType<ProcessWatcher>("ProcessWatcher", 1, 0, "ProcessWatcher");
#endif
#ifdef HAVE_AUTOSTARTER
    qmlRegisterType<AutoStarter>("AutoStarter", 1, 0, "AutoStarter");
#endif
#ifdef HAVE_SETTINGS
    qmlRegisterType<Settings>("Settings", 1, 0, "Settings");
#endif
#ifdef HAVE_UPDATER
    qmlRegisterType<Updater>("Updater", 1, 0, "Updater");
#endif
#ifdef HAVE_QQMLSYSTRAYICON
    qmlRegisterType<QQmlSystrayIcon>("brennic.qmlsystray", 1, 0, "QmlSystray");
#endif
#ifdef HAVE_SYSTEMPROCESS
    qmlRegisterType<SystemProcess>("brennic.systemprocess", 1, 0, "SystemProcess");
#endif
#ifdef HAVE_SYSTEMPROCESSLISTMODEL
    qmlRegisterType<SystemProcessListModel>("brennic.systemprocess", 1, 0, "SystemProcessModel");
#endif
    qmlRegisterUncreatableType<SingleAppHandler>(
        "brennic.SingleAppHandler", 1, 0, "SingleAppHandler",
        QStringLiteral("Cannot create an instance of SingleAppHandler from QML"));
#ifdef HAVE_QJOURNAL
    qmlRegisterUncreatableType<QJournal>(
        "brennic.qjournal", 1, 0, "QJournal",
        QStringLiteral("Cannot create an instance of QJournal from QML"));
#endif
}

void QmlHost::publishContext(QQmlContext *context, SingleAppHandler *server, QJournal *journal)
{
    QSettings settings;
    context->setContextProperty(QStringLiteral("appversion"), QStringLiteral(TOVEL3_VERSION));
    context->setContextProperty(QStringLiteral("__DATE__"), buildDate());
    context->setContextProperty(QStringLiteral("PWD"), QCoreApplication::applicationDirPath());
    context->setContextProperty(QStringLiteral("appServer"), server);
#ifdef HAVE_QJOURNAL
    context->setContextProperty(QStringLiteral("journal"), journal);
#else
    Q_UNUSED(journal)
    context->setContextProperty(QStringLiteral("journal"), static_cast<QObject *>(nullptr));
#endif
    context->setContextProperty(QStringLiteral("lang_key"), QStringLiteral("UI/Language"));
    context->setContextProperty(QStringLiteral("software_rendering"),
                                settings.value(QStringLiteral("softgl"), false).toBool());
    context->setContextProperty(
        QStringLiteral("lang_current"),
        settings.value(QStringLiteral("UI/Language"), QStringLiteral("en")).toString());
}
