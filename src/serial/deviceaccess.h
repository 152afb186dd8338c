#pragma once

#include <QString>

// What the serial adapter asks the operating system about a device before and after opening
// it. Each platform has its own implementation file; nothing else in the tool is
// platform-specific on the port side.

// The path QSerialPort opens for a name the operator gave.
QString systemLocation(const QString& name);

// Whether the device exists as the system names it.
bool deviceExists(const QString& path);

// Whether this user may read and write the device; true where the system cannot tell beforehand.
bool mayReadAndWrite(const QString& path);
