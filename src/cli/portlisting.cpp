#include "portlisting.h"

#include "portnaming.h"

#include <QSerialPortInfo>
#include <QStringList>
#include <QTextStream>

namespace {

QString usbIds(const QSerialPortInfo& info) {
    if (!info.hasVendorIdentifier() || !info.hasProductIdentifier())
        return {};
    return QStringLiteral("%1:%2")
        .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
        .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
}

} // namespace

void PortListing::print(QTextStream& out) {
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        out << "No serial devices found.\n";
    for (const QSerialPortInfo& info : ports) {
        QStringList details;
        if (!info.description().isEmpty())
            details.append(info.description());
        if (!info.manufacturer().isEmpty())
            details.append(info.manufacturer());
        const QString ids = usbIds(info);
        if (!ids.isEmpty())
            details.append(QStringLiteral("USB ") + ids);
        if (!info.serialNumber().isEmpty())
            details.append(QStringLiteral("serial ") + info.serialNumber());
        out << info.systemLocation();
        if (!details.isEmpty())
            out << "  " << details.join(QStringLiteral(", "));
        out << '\n';
    }
    out << "\nCOM entries (--port COMn):\n";
    for (int port = 1; port <= ComPortCount; ++port)
        out << "COM" << port << " -> " << deviceForCommPort(port) << '\n';
}
