#include "deviceaccess.h"

// Windows names serial ports COM1, COM2...; QSerialPort adds the \\.\ prefix itself. Whether a
// port exists or is free shows only when it is opened, so the open's own error is reported.

QString systemLocation(const QString& name) {
    return name;
}

bool deviceExists(const QString&) {
    return true;
}

bool mayReadAndWrite(const QString&) {
    return true;
}

QString canonicalDevice(const QString& path) {
    // QSerialPortInfo reports \\.\COM5 where the operator writes com5.
    const QString prefix = QStringLiteral("\\\\.\\");
    return (path.startsWith(prefix) ? path.mid(prefix.size()) : path).toUpper();
}

std::optional<int> latencyTimerMs(const QString&) {
    return std::nullopt;
}

LowLatency requestLowLatency(const QSerialPort&) {
    // The FTDI driver for Windows keeps its latency timer in the device's advanced settings.
    return LowLatency::NotSupported;
}

qint64 bytesWaiting(const QSerialPort&) {
    // The port's own overlapped reads keep the driver's queue out of sight.
    return -1;
}
