#pragma once

#include <QtGlobal>

// The serial control over the platform's real ports, for the front ends to create.
#ifdef Q_OS_WIN
#include "wincommcontrol.h"
using PlatformCommControl = WinCommControl;
#else
#include "qtcommcontrol.h"
using PlatformCommControl = QtCommControl;
#endif
