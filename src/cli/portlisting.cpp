#include "portlisting.h"

#include "console.h"
#include "deviceaccess.h"
#include "ledger.h"
#include "portdetails.h"
#include "portenumerator.h"
#include "portnaming.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
        else if (isControlCharacter(code))
            shown += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// QJsonDocument writes the C0 controls in strings as escapes but DEL and the C1 controls as
// they are; they become \u escapes too. Outside strings JSON has only ASCII, and in UTF-8 the
// byte 0xc2 followed by 0x80..0x9f is exactly U+0080..U+009F, so the bytes can be matched.
QByteArray withControlsEscaped(const QByteArray& json) {
    QByteArray safe;
    safe.reserve(json.size());
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<uchar>(json.at(i));
        const auto next = i + 1 < json.size() ? static_cast<uchar>(json.at(i + 1)) : uchar(0);
        if (byte == 0x7f) {
            safe += "\\u007f";
        } else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
            safe += "\\u00" + QByteArray::number(next, 16);
            ++i;
        } else {
            safe += char(byte);
        }
    }
    return safe;
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
        // What each frame's tail may wait in the adapter (see docs/serial-ports.md).
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

QByteArray PortListing::json(const PortEnumerator& ports) {
    QJsonArray devices;
    for (const SerialDevice& device : ports.devices()) {
        QJsonObject object{{QStringLiteral("name"), device.name},
                           {QStringLiteral("path"), device.systemLocation}};
        // What the system does not tell is left out.
        const auto insertText = [&object](const QString& key, const QString& value) {
            if (!value.isEmpty())
                object.insert(key, value);
        };
        insertText(QStringLiteral("description"), device.description);
        insertText(QStringLiteral("manufacturer"), device.manufacturer);
        insertText(QStringLiteral("serial"), device.serialNumber);
        if (device.vendorId)
            object.insert(QStringLiteral("vid"), usbIdText(*device.vendorId));
        if (device.productId)
            object.insert(QStringLiteral("pid"), usbIdText(*device.productId));
        if (const std::optional<int> latency = latencyTimerMs(device.name))
            object.insert(QStringLiteral("latency_timer_ms"), *latency);
        devices.append(object);
    }
    QJsonArray entries;
    for (const ComEntry& entry : comEntries()) {
        entries.append(QJsonObject{{QStringLiteral("entry"), entry.name},
                                   {QStringLiteral("device"), entry.device},
                                   {QStringLiteral("exists"), entry.exists}});
    }
    const QJsonObject listing{{QStringLiteral("devices"), devices},
                              {QStringLiteral("com_entries"), entries}};
    return withControlsEscaped(QJsonDocument(listing).toJson(QJsonDocument::Indented));
}
