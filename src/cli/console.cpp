#include "console.h"

#include "terminal.h"

namespace {

constexpr int FallbackColumns = 80;
const char* const EraseLine = "\r\033[K";

// A line as the terminal shows it: control characters (from a device name, a path or a file
// the operator gave) spelt out as \xNN instead of acting on the terminal.
QString withoutControls(const QString& line) {
    QString shown;
    shown.reserve(line.size());
    for (const QChar c : line) {
        if (isControlCharacter(c.unicode()))
            shown += QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace

Console::Console(int fd) : m_fd(fd), m_terminal(::isTerminal(fd)) {}

void Console::printLine(const QString& line) {
    // One write per change, so the terminal never shows the status half redrawn.
    write(erasure() + withoutControls(line) + QLatin1Char('\n') + m_status);
}

void Console::setStatus(const QString& status) {
    if (!m_terminal)
        return;
    const QString erase = erasure();
    // A status wider than the terminal would wrap, and the redraw would then start a new line.
    m_status = status.left(columns() - 1);
    write(erase + m_status);
}

void Console::keepStatus() {
    if (m_status.isEmpty())
        return;
    write(QStringLiteral("\n"));
    m_status.clear();
}

QString Console::erasure() const {
    return m_status.isEmpty() ? QString() : QString::fromLatin1(EraseLine);
}

int Console::columns() const {
    const int columns = terminalColumns(m_fd);
    return columns > 1 ? columns : FallbackColumns;
}

void Console::write(const QString& text) {
    writeText(m_fd, text);
}
