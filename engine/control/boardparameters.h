#pragma once

#include "device/boardprotocol.h"

#include <QString>
#include <QStringList>
#include <QVector>

// The board's parameters as the command line names them: one key per box of
// the Settings page, values written as the number and the page's unit
// without a space ("10min", "200ms", "4s") or the page's word in lower case
// ("reset", "out-closed"). The lists of values are BoardProtocol's.
namespace BoardParameters
{
struct Parameter {
    const char *key;         // "reset-time"
    int field;               // index into BoardProtocol::settingsFields()
    const char *description; // what it sets, for listings
};

// Every parameter, in the order of the Settings page.
const QVector<Parameter> &parameters();
// The parameter of a key; nullptr for an unknown one.
const Parameter *find(const QString &key);
QStringList keys();

// How many of the fields a model offers, from the first on: all of them
// for boards with the long settings reply, t1 and t2 for the short one,
// t1 alone for the board served in compatibility mode.
int offeredFields(const BoardProtocol::BoardModel &model);
bool offers(const BoardProtocol::BoardModel &model, const Parameter &parameter);
// The keys a model offers.
QStringList keys(const BoardProtocol::BoardModel &model);

// A value as the command line writes it: "10min", "reset", "out-closed",
// "70"; empty for an index the field does not have.
QString valueText(int field, int index);
// The values the model offers for a parameter, as valueText writes them;
// a plain number range as "0..125".
QStringList allowedValues(const BoardProtocol::BoardModel &model, const Parameter &parameter);
// The index of a value the model offers for the parameter; -1 otherwise.
int parseValue(const BoardProtocol::BoardModel &model, const Parameter &parameter,
               const QString &text);
} // namespace BoardParameters
