#include "wiretrace.h"

#include "safefile.h"

#include <QDateTime>

WireTrace::~WireTrace() {
    close();
}

bool WireTrace::open(const QString& path) {
    close();
    m_error.clear();
    m_clock.invalidate();
    m_path = path;
    // Unbuffered: every event reaches the file with its own write.
    QString problem;
    if (!createGrowingFile(m_file, path, &problem)) {
        m_error = QStringLiteral("cannot write the trace %1: %2").arg(path, problem);
        return false;
    }
    const QByteArray header =
        "# decodump wire trace " + QByteArray::number(Format) + "\n# opened " +
        QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1() + "\n";
    return writeLine(header);
}

void WireTrace::close() {
    QString problem;
    if (!closeWritten(m_file, &problem) && m_error.isEmpty())
        m_error = QStringLiteral("cannot write the trace %1: %2").arg(m_path, problem);
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
    m_error = QStringLiteral("cannot write the trace %1: %2").arg(m_path, m_file.errorString());
    QString ignored;
    closeWritten(m_file, &ignored);
    return false;
}
