#include "portlisting.h"

#include "deviceaccess.h"
#include "portdetails.h"
#include "portenumerator.h"
#include "portnaming.h"

#include <QStringList>
#include <QTextStream>

namespace {

// Where a COMn entry points.
struct ComEntry {
    QString name;   // COM1
    QString device; // $DECODUMP_COMn, or the platform's own name
    bool exists = false;
};

QList<ComEntry> comEntries() {
    QList<ComEntry> entries;
    for (int port = 1; port <= ComPortCount; ++port) {
        const QString device = deviceForCommPort(port);
        entries.append(
            {QStringLiteral("COM%1").arg(port), device, deviceExists(systemLocation(device))});
    }
    return entries;
}

// What a terminal acts on instead of showing: C0, DEL and the C1 range.
bool isControl(char16_t c) {
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f);
}

// The text with its control characters spelt out: \r, \n and \t, the others as \xNN. A
// backslash is doubled, so that the spelt-out forms cannot be mistaken for a name's own text.
QString escaped(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\\')
            shown += QLatin1String("\\\\");
        else if (code == u'\r')
            shown += QLatin1String("\\r");
        else if (code == u'\n')
            shown += QLatin1String("\\n");
        else if (code == u'\t')
            shown += QLatin1String("\\t");
        else if (isControl(code))
            shown += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace

QByteArray PortListing::text(const PortEnumerator& ports) {
    QString text;
    QTextStream out(&text);
    const QList<SerialDevice> devices = ports.devices();
    if (devices.isEmpty())
        out << "No serial devices found.\n";
    for (const SerialDevice& device : devices) {
        QStringList details;
        if (!device.description.isEmpty())
            details.append(escaped(device.description));
        if (!device.manufacturer.isEmpty())
            details.append(escaped(device.manufacturer));
        if (device.vendorId && device.productId)
            details.append(QStringLiteral("USB %1:%2")
                               .arg(usbIdText(*device.vendorId), usbIdText(*device.productId)));
        if (!device.serialNumber.isEmpty())
            details.append(QStringLiteral("serial ") + escaped(device.serialNumber));
        // What each frame's tail may wait in the adapter (see the README on USB adapters).
        if (const std::optional<int> latency = latencyTimerMs(device.name))
            details.append(QStringLiteral("latency timer %1 ms").arg(*latency));
        out << escaped(device.name) << " (" << escaped(device.systemLocation) << ')';
        if (!details.isEmpty())
            out << "  " << details.join(QStringLiteral(", "));
        out << '\n';
    }
    out << "\nCOM entries (--port COMn):\n";
    for (const ComEntry& entry : comEntries()) {
        out << entry.name << " -> " << escaped(entry.device);
        if (!entry.exists)
            out << " (no such device)";
        out << '\n';
    }
    out.flush();
    return text.toUtf8();
}
