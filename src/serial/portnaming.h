#pragma once

#include <QString>

// The port list's numbered entries, COM1 to COM4.
inline constexpr int ComPortCount = 4;

// COMn (n = 1..4) opens the device named by $DECODUMP_COMn when it is set, else the platform's
// own name for serial port n (/dev/ttyS<n-1> on Linux, COMn on Windows). Read at each call, so a
// change of the variable takes effect at the next opening.
QString deviceForCommPort(int port);

// The device a port opens, as the system names it: the one at devicePath when that is set (a
// device the system reported, or a path the operator gave), else the device of COMn.
QString portDevice(int commPort, const QString& devicePath = {});
