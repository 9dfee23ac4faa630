#include "window/builddate.h"

const QString &buildDate()
{
    static const QString date = QStringLiteral(__DATE__);
    return date;
}
