#pragma once

#include <QString>

// The system's own words for a Windows error code (GetLastError()), for messages that quote it.
QString systemErrorText(unsigned long error);
