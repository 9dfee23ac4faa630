#pragma once

#include <QString>

// The day this program was built, as "Mar 26 2018" (day padded with a space).
const QString &buildDate();
