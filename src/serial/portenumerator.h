#pragma once

#include <QList>
#include <QString>

#include <optional>

// A serial device as the system reports it.
struct SerialDevice {
    QString name;           // ttyUSB0, COM5: what the operator picks and --port takes
    QString systemLocation; // /dev/ttyUSB0: what is opened
    QString description;    // FT232R USB UART
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
};

// The serial devices present, asked afresh at each call. The system's list comes from
// SystemPortEnumerator; a test hands its own, since the system does not list pseudo-terminals.
class PortEnumerator {
public:
    virtual ~PortEnumerator() = default;
    virtual QList<SerialDevice> devices() const = 0;
};
