#include "ptyclient.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyClient::~PtyClient() {
    close();
}

bool PtyClient::open(const QString& device) {
    close();
    m_fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        return false;
    }
    termios settings{};
    if (::tcgetattr(m_fd, &settings) != 0) {
        close();
        return false;
    }
    ::cfmakeraw(&settings);
    ::tcsetattr(m_fd, TCSANOW, &settings);
    m_hungUp = false;
    return true;
}

void PtyClient::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool PtyClient::send(const QByteArray& bytes) {
    m_sent += bytes;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::write(m_fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written > 0) {
            done += written;
            continue;
        }
        if (written < 0 && errno == EAGAIN) {
            pollfd fd = {m_fd, POLLOUT, 0};
            if (::poll(&fd, 1, 2000) <= 0) {
                return false;
            }
        } else if (written < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

QByteArray PtyClient::read(qsizetype count, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray bytes;
    while (bytes.size() < count && waitReadable(static_cast<int>(deadline.remainingTime()))) {
        char buffer[4096];
        const auto wanted = std::min<qsizetype>(count - bytes.size(), sizeof buffer);
        const ssize_t got = ::read(m_fd, buffer, static_cast<size_t>(wanted));
        if (got > 0) {
            bytes.append(buffer, got);
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            m_hungUp = true;
        }
    }
    return bytes;
}

QByteArray PtyClient::readLine(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray line;
    while (!line.endsWith('\n')) {
        const QByteArray byte = read(1, static_cast<int>(deadline.remainingTime()));
        if (byte.isEmpty()) {
            break;
        }
        line += byte;
    }
    return line;
}

QByteArray PtyClient::readFor(int ms) {
    const QDeadlineTimer deadline(ms);
    QByteArray bytes;
    while (!deadline.hasExpired() && !m_hungUp) {
        bytes += read(4096, static_cast<int>(deadline.remainingTime()));
    }
    return bytes;
}

bool PtyClient::waitForHangUp(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_hungUp && !deadline.hasExpired()) {
        read(4096, static_cast<int>(deadline.remainingTime()));
    }
    return m_hungUp;
}

bool PtyClient::waitReadable(int timeoutMs) {
    if (m_fd < 0 || m_hungUp) {
        return false;
    }
    pollfd fd = {m_fd, POLLIN, 0};
    const int ready = ::poll(&fd, 1, std::max(0, timeoutMs));
    if (ready > 0 && (fd.revents & POLLIN)) {
        return true;
    }
    if (ready > 0 && (fd.revents & (POLLHUP | POLLERR))) {
        m_hungUp = true;
    }
    return false;
}
