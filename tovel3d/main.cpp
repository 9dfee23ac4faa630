#include "service/servicehost.h"
#include "service/unixsignalwatcher.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // Whatever reads our output may go away; the watchdog stays.
    UnixSignalWatcher::ignoreBrokenPipe();
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Brennic"));
    app.setApplicationName(QStringLiteral("Tovel3"));
    app.setApplicationVersion(QStringLiteral(TOVEL3_VERSION));
    return ServiceHost::run(app.arguments());
}
