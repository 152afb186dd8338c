#include "portdetails.h"

#include <QFileInfo>
#include <QSerialPortInfo>

PortDetails PortDetails::of(const QString& devicePath) {
    PortDetails details;
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        return details;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (QFileInfo(info.systemLocation()).canonicalFilePath() != device ||
            !info.hasVendorIdentifier())
            continue;
        details.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            details.productId = info.productIdentifier();
        details.serialNumber = info.serialNumber();
        details.description = info.description();
        break;
    }
    return details;
}
