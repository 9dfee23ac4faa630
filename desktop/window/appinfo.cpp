#include "window/appinfo.h"

#include "storage/appsettings.h"
#include "window/builddate.h"

AppInfo::AppInfo(SingleAppHandler *server, Journal *journal, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_journal(journal)
{
    const AppSettings settings;
    m_softwareRendering = settings.softwareRendering();
    m_language = settings.language();
}

QString AppInfo::version() const
{
    return QStringLiteral(TOVEL3_VERSION);
}

QString AppInfo::buildDate() const
{
    return ::buildDate();
}
