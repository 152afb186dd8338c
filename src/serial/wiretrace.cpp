#include "wiretrace.h"

#include <QDateTime>

bool WireTrace::open(const QString& path) {
    close();
    m_error.clear();
    m_clock.invalidate();
    m_file.setFileName(path);
    // Unbuffered: every event reaches the file with its own write.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = QStringLiteral("cannot write the trace %1: %2").arg(path, m_file.errorString());
        return false;
    }
    const QByteArray header =
        "# decodump wire trace " + QByteArray::number(Format) + "\n# opened " +
        QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1() + "\n";
    return writeLine(header);
}

void WireTrace::close() {
    if (m_file.isOpen())
        m_file.close();
}

void WireTrace::start() {
    if (!m_clock.isValid())
        m_clock.start();
}

void WireTrace::record(Direction direction, QByteArrayView bytes) {
    if (!m_file.isOpen() || bytes.isEmpty())
        return;
    if (!m_clock.isValid())
        m_clock.start();
    writeLine(eventLine(m_clock.nsecsElapsed() / 1000, direction, bytes));
}

QByteArray WireTrace::eventLine(qint64 microseconds, Direction direction, QByteArrayView bytes) {
    return QByteArray::number(microseconds) + (direction == Direction::ToLoader ? " > " : " < ") +
           bytes.toByteArray().toHex() + '\n';
}

bool WireTrace::writeLine(const QByteArray& line) {
    if (m_file.write(line) == line.size())
        return true;
    m_error = QStringLiteral("cannot write the trace %1: %2")
                  .arg(m_file.fileName(), m_file.errorString());
    m_file.close();
    return false;
}
