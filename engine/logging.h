#pragma once

#include <QLoggingCategory>

// One logging category per subsystem, so that one subsystem's debug output can
// be turned on alone: QT_LOGGING_RULES="tovel3.serial.debug=true", or for the
// service a drop-in with Environment=QT_LOGGING_RULES=... .
Q_DECLARE_LOGGING_CATEGORY(lcSerial)   // "tovel3.serial": ports and the exchanges with the board
Q_DECLARE_LOGGING_CATEGORY(lcCycle)    // "tovel3.cycle": the heartbeat cycle
Q_DECLARE_LOGGING_CATEGORY(lcChecks)   // "tovel3.checks": ping and the process check
Q_DECLARE_LOGGING_CATEGORY(lcControl)  // "tovel3.control": the control socket
Q_DECLARE_LOGGING_CATEGORY(lcJournal)  // "tovel3.journal": the journal file
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // "tovel3.settings": the settings store
Q_DECLARE_LOGGING_CATEGORY(lcMetrics)  // "tovel3.metrics": the metrics file
Q_DECLARE_LOGGING_CATEGORY(lcInstance) // "tovel3.instance": the single-instance guard

namespace Logging
{
// The rules under journald: every category's info and debug output off (the
// serial trace and the cycle's lines come several times a cycle and would bury
// the rest). QT_LOGGING_RULES, read after these, turns one category back on.
QString journaldRules();
} // namespace Logging
