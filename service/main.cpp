#include "servicehost.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Brennic"));
    app.setApplicationName(QStringLiteral("Tovel3"));
    app.setApplicationVersion(QStringLiteral(TOVEL3_VERSION));
    return ServiceHost::run(app.arguments());
}
