#include "control/boardparameters.h"

using namespace BoardProtocol;

namespace BoardParameters
{

const QVector<Parameter> &parameters()
{
    static const QVector<Parameter> list = {
        {"reset-time", 0, "time without a heartbeat before the PC is reset"},
        {"reset-hold", 1, "reset button hold time"},
        {"power-hold", 2, "hard reset: power button hold time"},
        {"power-wait", 3, "hard reset: wait after releasing the power button"},
        {"power-press", 4, "hard reset: second press of the power button"},
        {"ch1", 5, "function of output channel 1"},
        {"ch2", 6, "function of output channel 2"},
        {"reset-limit", 7, "reset limit"},
        {"input", 8, "function of the IN channel"},
        {"temp-threshold", 9, "temperature threshold"},
    };
    return list;
}

const Parameter *find(const QString &key)
{
    for (const Parameter &p : parameters()) {
        if (key == QLatin1String(p.key))
            return &p;
    }
    return nullptr;
}

QStringList keys()
{
    QStringList list;
    for (const Parameter &p : parameters())
        list << QLatin1String(p.key);
    return list;
}

int offeredFields(const BoardModel &model)
{
    if (model.compatibility)
        return 1;
    // "~F" and one character per field; the long form spends two on the
    // threshold, the last field.
    return qBound(0, model.settingsLength - 2, int(BoardSettings::FieldCount));
}

bool offers(const BoardModel &model, const Parameter &parameter)
{
    return parameter.field < offeredFields(model);
}

QStringList keys(const BoardModel &model)
{
    QStringList list;
    for (const Parameter &p : parameters()) {
        if (offers(model, p))
            list << QLatin1String(p.key);
    }
    return list;
}

QString valueText(int field, int index)
{
    if (field < 0 || field >= settingsFields().size())
        return QString();
    const SettingsField &f = settingsFields().at(field);
    if (f.choices.isEmpty())
        return index >= f.minimum && index <= f.maximum ? QString::number(index) : QString();
    if (index < 0 || index >= f.choices.size())
        return QString();
    const Choice &c = f.choices.at(index);
    if (c.name)
        return QString::fromLatin1(c.name).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
    return QString::number(c.number) + QLatin1String(c.unit);
}

namespace
{
// The last index the model takes for a field: the compatibility-mode board
// writes t1 as one decimal digit.
int lastIndex(const BoardModel &model, int field)
{
    const SettingsField &f = settingsFields().at(field);
    const int last = f.choices.isEmpty() ? f.maximum : f.choices.size() - 1;
    return model.compatibility ? qMin(last, model.compatibilityT1Max) : last;
}
} // namespace

QStringList allowedValues(const BoardModel &model, const Parameter &parameter)
{
    if (!offers(model, parameter))
        return {};
    const SettingsField &f = settingsFields().at(parameter.field);
    const int last = lastIndex(model, parameter.field);
    if (f.choices.isEmpty())
        return {QStringLiteral("%1..%2").arg(f.minimum).arg(last)};
    QStringList list;
    for (int i = 0; i <= last; ++i)
        list << valueText(parameter.field, i);
    return list;
}

int parseValue(const BoardModel &model, const Parameter &parameter, const QString &text)
{
    if (!offers(model, parameter))
        return -1;
    const int index = choiceIndex(parameter.field, text);
    return index >= 0 && index <= lastIndex(model, parameter.field) ? index : -1;
}

} // namespace BoardParameters
