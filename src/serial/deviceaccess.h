#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// What the serial adapter asks the operating system about a device before and after opening
// it. Each platform has its own implementation file; nothing else in the tool is
// platform-specific on the port side.

// An open device as the system hands it out: a HANDLE on Windows, a file descriptor elsewhere.
#ifdef Q_OS_WIN
using NativeDevice = void*;
#else
using NativeDevice = int;
#endif

// The path the serial adapter opens for a name the operator gave.
QString systemLocation(const QString& name);

// Whether the device exists as the system names it.
bool deviceExists(const QString& path);

// Whether this user may read and write the device; true where the system cannot tell beforehand.
bool mayReadAndWrite(const QString& path);

// The one name of a device however it was reached (through a symbolic link, for instance), to
// tell whether two names stand for the same device.
QString canonicalDevice(const QString& path);

// The latency timer of a USB serial adapter in ms, where the system tells it (Linux: sysfs).
std::optional<int> latencyTimerMs(const QString& name);

// What became of the request for the driver's low-latency mode (an adapter then hands over
// what it received at once instead of when its latency timer fires).
enum class LowLatency {
    NotSupported, // the device has no serial driver settings (a pseudo-terminal)
    Refused,      // the driver would not change them
    Set,          // on now
};
// Asks the driver of an open device for its low-latency mode.
LowLatency requestLowLatency(NativeDevice device);

// How many received bytes an open device holds that have not been read yet; -1 where the system
// does not tell.
qint64 bytesWaiting(NativeDevice device);
