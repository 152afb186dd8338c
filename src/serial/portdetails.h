#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// What the system tells of a serial device beyond its path: for a USB adapter its ids, serial
// number and description. Empty for other devices (a built-in port, a pseudo-terminal).
struct PortDetails {
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    QString serialNumber;
    QString description;

    bool isUsb() const { return vendorId.has_value(); }

    // The device at this path (links followed), as the system lists it.
    static PortDetails of(const QString& devicePath);
};
