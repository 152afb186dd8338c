#include "firstcontactwatch.h"

namespace {

// What a loader's lines are made of: printable ASCII, CR, LF and TAB.
bool isText(char byte) {
    return (byte >= 0x20 && byte <= 0x7e) || byte == '\r' || byte == '\n' || byte == '\t';
}

} // namespace

FirstContactWatch::FirstContactWatch(QObject* parent) : QObject(parent), m_silence(this) {
    m_silence.setSingleShot(true);
    m_silence.setInterval(SilenceMs);
    connect(&m_silence, &QTimer::timeout, this, &FirstContactWatch::nothingYet);
}

void FirstContactWatch::start() {
    m_watching = true;
    m_silence.start();
}

void FirstContactWatch::stop() {
    m_watching = false;
    m_silence.stop();
}

void FirstContactWatch::received(const QByteArray& bytes) {
    if (!m_watching || bytes.isEmpty())
        return;
    m_silence.stop();
    if (m_toldNotText)
        return;
    bool lineTooLong = false;
    for (const char byte : bytes) {
        m_sinceLineEnd = byte == '\n' ? 0 : m_sinceLineEnd + 1;
        lineTooLong = lineTooLong || m_sinceLineEnd > LongestLine;
        ++(isText(byte) ? m_textBytes : m_otherBytes);
    }
    const bool mostlyOther = m_textBytes + m_otherBytes >= Sample && m_otherBytes > m_textBytes;
    if (lineTooLong || mostlyOther) {
        m_toldNotText = true;
        Q_EMIT notLoaderText();
    }
}
