#include "window/boardfields.h"

#include "device/boardprotocol.h"

#include <QVariantMap>

QVariantList BoardFields::choices(int field)
{
    const QVector<BoardProtocol::SettingsField> &fields = BoardProtocol::settingsFields();
    QVariantList list;
    if (field < 0 || field >= fields.size())
        return list;
    for (const BoardProtocol::Choice &c : fields.at(field).choices) {
        if (c.name)
            list.append(QVariantMap{{QStringLiteral("name"), QLatin1String(c.name)}});
        else
            list.append(QVariantMap{{QStringLiteral("number"), c.number},
                                    {QStringLiteral("unit"), QLatin1String(c.unit)}});
    }
    return list;
}
