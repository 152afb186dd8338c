#include "systemportenumerator.h"

#include <QCollator>
#include <QSerialPortInfo>

#include <algorithm>

QList<SerialDevice> SystemPortEnumerator::devices() const {
    QList<SerialDevice> found;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialDevice device{info.portName(),
                            info.systemLocation(),
                            info.description(),
                            info.manufacturer(),
                            info.serialNumber(),
                            {},
                            {}};
        if (info.hasVendorIdentifier())
            device.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            device.productId = info.productIdentifier();
        found.append(device);
    }
    // ttyUSB2 before ttyUSB10.
    QCollator byNumber;
    byNumber.setNumericMode(true);
    std::sort(found.begin(), found.end(), [&](const SerialDevice& a, const SerialDevice& b) {
        return byNumber.compare(a.name, b.name) < 0;
    });
    return found;
}
