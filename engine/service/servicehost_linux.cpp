// A port's device file tells whether this user may read and write it.
#include "service/servicehost.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

QString ServiceHost::portAccessProblem(const QString &port)
{
    if (::access(QFile::encodeName(port).constData(), R_OK | W_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}
