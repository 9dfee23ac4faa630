#include "logging.h"

Q_LOGGING_CATEGORY(lcSerial, "tovel3.serial")
Q_LOGGING_CATEGORY(lcCycle, "tovel3.cycle")
Q_LOGGING_CATEGORY(lcChecks, "tovel3.checks")
Q_LOGGING_CATEGORY(lcControl, "tovel3.control")
Q_LOGGING_CATEGORY(lcJournal, "tovel3.journal")
Q_LOGGING_CATEGORY(lcSettings, "tovel3.settings")
Q_LOGGING_CATEGORY(lcMetrics, "tovel3.metrics")
Q_LOGGING_CATEGORY(lcInstance, "tovel3.instance")

QString Logging::journaldRules()
{
    return QStringLiteral("tovel3.*.debug=false\ntovel3.*.info=false\n"
                          "default.debug=false\ndefault.info=false");
}
