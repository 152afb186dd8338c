#include "console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int FallbackColumns = 80;
const char* const EraseLine = "\r\033[K";

} // namespace

Console::Console(int fd) : m_fd(fd), m_terminal(::isatty(fd) == 1) {}

void Console::printLine(const QString& line) {
    // One write per change, so the terminal never shows the status half redrawn.
    write(erasure() + line + QLatin1Char('\n') + m_status);
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
    winsize size{};
    if (::ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col;
    return FallbackColumns;
}

void Console::write(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // nowhere to report a failing standard error
        data += written;
        left -= written;
    }
}
