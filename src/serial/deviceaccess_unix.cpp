#include "deviceaccess.h"

#include <QFile>
#include <QFileInfo>

#include <sys/ioctl.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

QString systemLocation(const QString& name) {
    // A bare name such as ttyUSB0 lives in /dev; a name with a folder in it (/dev/ttyUSB0,
    // sub/link, ./link) is a path. QSerialPort would look for any relative name in /dev, so it
    // is given the path from the current folder.
    if (!name.contains(QLatin1Char('/')))
        return QLatin1String("/dev/") + name;
    return QFileInfo(name).isRelative() ? QFileInfo(name).absoluteFilePath() : name;
}

bool deviceExists(const QString& path) {
    return QFileInfo::exists(path);
}

bool mayReadAndWrite(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

QString canonicalDevice(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

std::optional<int> latencyTimerMs(const QString& name) {
    QFile timer(QStringLiteral("/sys/bus/usb-serial/devices/%1/latency_timer").arg(name));
    if (!timer.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int ms = timer.readAll().trimmed().toInt(&ok);
    return ok ? std::optional<int>(ms) : std::nullopt;
}

LowLatency requestLowLatency(NativeDevice device) {
#ifdef Q_OS_LINUX
    serial_struct settings{};
    if (::ioctl(device, TIOCGSERIAL, &settings) != 0)
        return LowLatency::NotSupported;
    if (settings.flags & ASYNC_LOW_LATENCY)
        return LowLatency::Set;
    settings.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(device, TIOCSSERIAL, &settings) == 0 ? LowLatency::Set : LowLatency::Refused;
#else
    Q_UNUSED(device);
    return LowLatency::NotSupported;
#endif
}

qint64 bytesWaiting(NativeDevice device) {
    int count = 0;
    return ::ioctl(device, FIONREAD, &count) == 0 ? count : -1;
}
