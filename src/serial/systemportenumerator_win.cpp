#include "systemportenumerator.h"

#include "deviceaccess.h"

#include <QHash>
#include <QRegularExpression>

#include <qt_windows.h>

#include <setupapi.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// The setup class of serial and parallel ports ("Ports").
constexpr GUID portsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

QString fromWide(const wchar_t* text, DWORD bytes) {
    qsizetype length = qsizetype(bytes / sizeof(wchar_t));
    while (length > 0 && text[length - 1] == L'\0')
        --length;
    return QString::fromWCharArray(text, length);
}

// The COM names the serial drivers registered: what every port, USB or built in, appears as.
QStringList registeredPorts() {
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = DWORD(std::size(valueName));
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const QString name = fromWide(data, dataBytes).trimmed();
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names.append(name);
    }
    RegCloseKey(key);
    return names;
}

QString deviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[1024];
    DWORD bytes = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof(wchar_t), &bytes))
        return {};
    // A multi-string (the hardware ids) gives its first entry.
    text[bytes / sizeof(wchar_t)] = L'\0';
    return QString::fromWCharArray(text);
}

std::optional<quint16> hexId(const QString& text, const QString& tag) {
    const QRegularExpression pattern(tag + QStringLiteral("[_+]([0-9A-F]{4})"),
                                     QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return quint16(match.captured(1).toUInt(nullptr, 16));
}

// A USB device's serial number is the last part of its instance id (USB\VID_0403&PID_6001\A1B2C3;
// FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000 carries it after the ids). A part with '&' in it is
// made up by Windows for a device without one.
QString serialFromInstance(const QString& instance) {
    const QStringList parts = instance.split(u'\\');
    if (parts.size() < 3)
        return {};
    if (parts.at(0).compare(QStringLiteral("FTDIBUS"), Qt::CaseInsensitive) == 0) {
        const QStringList ids = parts.at(1).split(u'+');
        QString serial = ids.size() >= 3 ? ids.at(2) : QString();
        // FTDI's driver adds the port letter (A for the first port) to the chip's number.
        if (serial.size() > 1 && serial.endsWith(u'A'))
            serial.chop(1);
        return serial;
    }
    return parts.at(2).contains(u'&') ? QString() : parts.at(2);
}

// What SetupAPI tells of each port present, by its COM name.
QHash<QString, SerialDevice> describedPorts() {
    QHash<QString, SerialDevice> found;
    const HDEVINFO devices = SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t name[256];
        DWORD bytes = sizeof name;
        DWORD type = 0;
        const bool named =
            RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                             &bytes) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        SerialDevice port;
        port.name = named ? fromWide(name, bytes).trimmed() : QString();
        // The class holds the parallel ports too.
        if (port.name.isEmpty() || port.name.startsWith(QStringLiteral("LPT"), Qt::CaseInsensitive))
            continue;
        port.systemLocation = port.name;
        port.description = deviceProperty(devices, device, SPDRP_FRIENDLYNAME);
        if (port.description.isEmpty())
            port.description = deviceProperty(devices, device, SPDRP_DEVICEDESC);
        port.manufacturer = deviceProperty(devices, device, SPDRP_MFG);
        const QString hardware = deviceProperty(devices, device, SPDRP_HARDWAREID);
        port.vendorId = hexId(hardware, QStringLiteral("VID"));
        port.productId = hexId(hardware, QStringLiteral("PID"));
        wchar_t instance[512];
        if (port.vendorId && SetupDiGetDeviceInstanceIdW(devices, &device, instance,
                                                         DWORD(std::size(instance)), nullptr))
            port.serialNumber = serialFromInstance(QString::fromWCharArray(instance));
        found.insert(canonicalDevice(port.name), port);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

// COM2 before COM10: the letters compared without case, then the number.
bool byNumber(const SerialDevice& a, const SerialDevice& b) {
    const auto split = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::pair(name.left(digits).toUpper(), name.mid(digits).toULongLong());
    };
    return split(a.name) < split(b.name);
}

} // namespace

QList<SerialDevice> SystemPortEnumerator::devices() const {
    const QHash<QString, SerialDevice> described = describedPorts();
    QList<SerialDevice> found;
    QStringList seen;
    // The registry lists every port a driver runs; SetupAPI may know ports it does not (a
    // driver that registers no name there) and tells what the ports are.
    QStringList names = registeredPorts();
    for (const SerialDevice& port : described)
        names.append(port.name);
    for (const QString& name : names) {
        const QString key = canonicalDevice(name);
        if (seen.contains(key))
            continue;
        seen.append(key);
        found.append(described.value(key, SerialDevice{name, name, {}, {}, {}, {}, {}}));
    }
    std::sort(found.begin(), found.end(), byNumber);
    return found;
}
