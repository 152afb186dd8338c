#include "deviceaccess.h"

#include <QFileInfo>

#include <qt_windows.h>

// Windows names serial ports COM1, COM2...; the port opens them as \\.\COMn itself. Whether a
// port is free shows only when it is opened, so the open's own error is reported.

QString systemLocation(const QString& name) {
    return name;
}

bool deviceExists(const QString& path) {
    const QString name = canonicalDevice(path);
    if (name.contains(u'\\') || name.contains(u'/') || name.contains(u':'))
        return QFileInfo::exists(path);
    // A port is a device name the system defines (COM5 -> \Device\Serial4).
    wchar_t target[512];
    return QueryDosDeviceW(reinterpret_cast<const wchar_t*>(name.utf16()), target, 512) != 0 ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

bool mayReadAndWrite(const QString&) {
    return true;
}

QString canonicalDevice(const QString& path) {
    // \\.\COM5 and com5 are the same port.
    const QString prefix = QStringLiteral("\\\\.\\");
    return (path.startsWith(prefix) ? path.mid(prefix.size()) : path).toUpper();
}

std::optional<int> latencyTimerMs(const QString&) {
    return std::nullopt;
}

LowLatency requestLowLatency(NativeDevice) {
    // The FTDI driver for Windows keeps its latency timer in the device's advanced settings.
    return LowLatency::NotSupported;
}

qint64 bytesWaiting(NativeDevice device) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(device, &errors, &status) ? qint64(status.cbInQue) : -1;
}
