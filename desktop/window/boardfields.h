#pragma once

#include <QObject>
#include <QVariantList>

// The board's settings fields for the settings page, from the protocol's
// own table (the one tovel3ctl reads too): registered in QML as the
// singleton BoardFields.
class BoardFields : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The choices of field `field` (0 = t1 ... 8 = p9) in the order of the
    // board's indices: {"number": 10, "unit": "min"} or {"name": "RESET"};
    // empty for a field that is a plain number, or no field.
    Q_INVOKABLE static QVariantList choices(int field);
};
