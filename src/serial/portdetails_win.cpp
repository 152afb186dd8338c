#include "portdetails.h"

#include "deviceaccess.h"
#include "systemportenumerator.h"

PortDetails PortDetails::of(const QString& devicePath) {
    PortDetails details;
    const QString device = canonicalDevice(devicePath);
    for (const SerialDevice& port : SystemPortEnumerator().devices()) {
        if (canonicalDevice(port.systemLocation) != device || !port.vendorId)
            continue;
        details.vendorId = port.vendorId;
        details.productId = port.productId;
        details.serialNumber = port.serialNumber;
        details.description = port.description;
        break;
    }
    return details;
}
