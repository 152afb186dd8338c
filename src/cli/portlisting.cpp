#include "portlisting.h"

#include "deviceaccess.h"
#include "portenumerator.h"
#include "portnaming.h"

#include <QStringList>
#include <QTextStream>

void PortListing::print(QTextStream& out, const PortEnumerator& ports) {
    const QList<SerialDevice> devices = ports.devices();
    if (devices.isEmpty())
        out << "No serial devices found.\n";
    for (const SerialDevice& device : devices) {
        QStringList details;
        if (!device.description.isEmpty())
            details.append(device.description);
        if (!device.manufacturer.isEmpty())
            details.append(device.manufacturer);
        if (device.vendorId && device.productId)
            details.append(QStringLiteral("USB %1:%2")
                               .arg(*device.vendorId, 4, 16, QLatin1Char('0'))
                               .arg(*device.productId, 4, 16, QLatin1Char('0')));
        if (!device.serialNumber.isEmpty())
            details.append(QStringLiteral("serial ") + device.serialNumber);
        // What each frame's tail may wait in the adapter (see the README on USB adapters).
        if (const std::optional<int> latency = latencyTimerMs(device.name))
            details.append(QStringLiteral("latency timer %1 ms").arg(*latency));
        out << device.name << " (" << device.systemLocation << ')';
        if (!details.isEmpty())
            out << "  " << details.join(QStringLiteral(", "));
        out << '\n';
    }
    out << "\nCOM entries (--port COMn):\n";
    for (int port = 1; port <= ComPortCount; ++port) {
        const QString device = deviceForCommPort(port);
        out << "COM" << port << " -> " << device;
        if (!deviceExists(systemLocation(device)))
            out << " (no such device)";
        out << '\n';
    }
}
