#include "ptylink.h"

#include "simerror.h"
#include "stopsignals.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

[[noreturn]] void systemError(const std::string& what) {
    throw SimError(SimError::Kind::System, what + ": " + std::strerror(errno));
}

// A late byte from the tool can still be on its way through the pty when the close shows up.
constexpr std::chrono::milliseconds trailingGrace{100};


} // namespace

PtyLink::PtyLink(const SimLog& log) : m_log(log) {}

PtyLink::~PtyLink() {
    closeAll();
}

void PtyLink::open() {
    std::array<char, PATH_MAX> name{};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    if (::openpty(&m_master, &m_slave, name.data(), &raw, nullptr) != 0) {
        systemError("openpty");
    }
    m_slavePath = name.data();
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);

    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 &&
        ::inotify_add_watch(m_watch, m_slavePath.c_str(), IN_OPEN | IN_CLOSE) >= 0) {
        m_presenceKnown = true;
    } else {
        m_log.info("cannot watch " + m_slavePath + " (" + std::strerror(errno) +
                   "): the simulator will not know when the tool closes the port");
        if (m_watch >= 0) {
            ::close(m_watch);
            m_watch = -1;
        }
    }
}

void PtyLink::createLink(const std::string& path) {
    const std::string temporary = path + ".loader-sim-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(m_slavePath.c_str(), temporary.c_str()) != 0) {
        systemError("cannot create the link " + path);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        systemError("cannot create the link " + path);
    }
    m_linkPath = path;
}

void PtyLink::setBaud(unsigned baud, std::size_t piece) {
    m_byteTime =
        baud == 0 ? std::chrono::nanoseconds(0) : std::chrono::nanoseconds(10'000'000'000LL / baud);
    m_piece = std::max<std::size_t>(piece, 1);
}

void PtyLink::setRecordFile(const std::string& path) {
    m_record = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_record < 0) {
        systemError("cannot open the record file " + path);
    }
}

void PtyLink::send(std::string_view bytes) {
    if (m_byteTime.count() == 0) {
        writeAll(bytes);
        return;
    }
    // Each piece is handed over once the line would have carried its last bit, so the tool
    // never receives a byte earlier than a real line could deliver it.
    const std::size_t piece = m_piece;
    // The pieces of one send follow each other on the line without a gap: each is due one piece
    // time after the previous one was due, not after the (slightly late) wake-up that sent it,
    // so wake-up latency does not add up over a frame.
    auto start = std::max(Clock::now(), m_lineFreeAt);
    while (!bytes.empty()) {
        const std::string_view now = bytes.substr(0, piece);
        const auto finish = start + m_byteTime * static_cast<long long>(now.size());
        sleepUntil(finish);
        writeAll(now);
        m_lineFreeAt = finish;
        start = finish;
        bytes.remove_prefix(now.size());
    }
}

unsigned char PtyLink::receive() {
    const Deadline deadline = idleDeadline();
    while (m_received.empty()) {
        if (toolGone()) {
            if (!awaitTrailingBytes()) {
                throw SimError(SimError::Kind::ToolClosedPort, "the tool closed the port");
            }
            break;
        }
        if (!pump(deadline, false)) {
            idleTimeoutExpired();
        }
    }
    const auto byte = static_cast<unsigned char>(m_received.front());
    m_received.pop_front();
    return byte;
}

std::optional<unsigned char> PtyLink::receiveWithin(std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    while (m_received.empty()) {
        if (m_presenceKnown && !toolHasPortOpen()) {
            if (!awaitTrailingBytes()) {
                return std::nullopt;
            }
            break;
        }
        if (!pump(deadline, false)) {
            return std::nullopt;
        }
    }
    const auto byte = static_cast<unsigned char>(m_received.front());
    m_received.pop_front();
    return byte;
}

std::string PtyLink::receiveSome() {
    const Deadline deadline = idleDeadline();
    while (m_received.empty()) {
        if (!pump(deadline, false)) {
            idleTimeoutExpired();
        }
    }
    return takeReceived();
}

std::string PtyLink::awaitClose(unsigned long closesSeen) {
    const auto closed = [&] {
        return !m_presenceKnown || !toolHasPortOpen() || m_closeCount > closesSeen;
    };
    std::string whileOpen;
    Deadline deadline = idleDeadline();
    while (!closed()) {
        whileOpen += takeReceived();
        if (!pump(deadline, false)) {
            idleTimeoutExpired();
        }
        if (!m_received.empty()) {
            deadline = idleDeadline();
        }
    }
    return whileOpen;
}

void PtyLink::clearExclusiveUse() {
    if (m_slave >= 0) {
        ::ioctl(m_slave, TIOCNXCL);
    }
}

void PtyLink::vanish() {
    closeAll();
}

// One wait for bytes from the tool, room to write (wantWrite) or news from the device node.
// Returns false when the deadline passed with nothing happening.
bool PtyLink::pump(Deadline deadline, bool wantWrite) {
    std::array<pollfd, 2> fds = {{
        {m_master, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
        {m_watch, POLLIN, 0},
    }};
    const nfds_t count = m_watch >= 0 ? 2 : 1;
    timespec left{};
    timespec* timeout = nullptr;
    if (deadline) {
        const auto rest = std::max(std::chrono::nanoseconds(0),
                                   std::chrono::nanoseconds(*deadline - Clock::now()));
        left.tv_sec = static_cast<time_t>(rest.count() / 1'000'000'000);
        left.tv_nsec = static_cast<long>(rest.count() % 1'000'000'000);
        timeout = &left;
    }
    const int ready = ::ppoll(fds.data(), count, timeout, StopSignals::waitMask());
    if (ready < 0) {
        if (errno != EINTR) {
            systemError("ppoll");
        }
        StopSignals::throwIfStopped();
        return true;
    }
    if (ready == 0) {
        return false;
    }
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
        readMaster();
    }
    if (count == 2 && (fds[1].revents & POLLIN)) {
        readWatch();
    }
    return true;
}

void PtyLink::readMaster() {
    std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t got = ::read(m_master, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            return;
        }
        if (got <= 0) {
            systemError("read from the pseudo-terminal");
        }
        m_received.insert(m_received.end(), buffer.data(), buffer.data() + got);
        if (m_record >= 0) {
            for (ssize_t done = 0; done < got;) {
                const ssize_t written =
                    ::write(m_record, buffer.data() + done, static_cast<std::size_t>(got - done));
                if (written < 0) {
                    systemError("write to the record file");
                }
                done += written;
            }
        }
    }
}

void PtyLink::readWatch() {
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t got = ::read(m_watch, buffer.data(), buffer.size());
        if (got <= 0) {
            return;
        }
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_OPEN) {
                ++m_toolOpenCount;
                m_log.detail("the port was opened (" + std::to_string(m_toolOpenCount) + " open)");
            } else if (event.mask & IN_CLOSE) {
                m_toolOpenCount = std::max(0, m_toolOpenCount - 1);
                ++m_closeCount;
                m_log.detail("the port was closed (" + std::to_string(m_toolOpenCount) + " open)");
            } else if (event.mask & (IN_Q_OVERFLOW | IN_IGNORED)) {
                m_presenceKnown = false;
                m_log.info("lost track of the tool opening and closing the port");
            }
        }
    }
}

void PtyLink::writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(m_master, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EAGAIN) {
            pump(std::nullopt, true);
        } else if (written < 0 && errno != EINTR) {
            systemError("write to the pseudo-terminal");
        }
    }
}

void PtyLink::sleepUntil(Clock::time_point when) {
    while (Clock::now() < when) {
        pump(when, false);
    }
}

PtyLink::Deadline PtyLink::idleDeadline() const {
    if (m_idleTimeout.count() == 0) {
        return std::nullopt;
    }
    return Clock::now() + m_idleTimeout;
}

bool PtyLink::toolGone() const {
    return m_toolRequired && m_presenceKnown && !toolHasPortOpen();
}

// After the tool has closed the port: true when bytes it wrote before closing still came in.
bool PtyLink::awaitTrailingBytes() {
    const auto deadline = Clock::now() + trailingGrace;
    while (m_received.empty() && pump(deadline, false)) {
    }
    return !m_received.empty();
}

std::string PtyLink::takeReceived() {
    std::string bytes(m_received.begin(), m_received.end());
    m_received.clear();
    return bytes;
}

void PtyLink::idleTimeoutExpired() const {
    const auto tenths = m_idleTimeout.count() / 100;
    throw SimError(SimError::Kind::Timeout, "nothing received for " + std::to_string(tenths / 10) +
                                                "." + std::to_string(tenths % 10) + " s");
}

void PtyLink::closeAll() {
    for (int* fd : {&m_master, &m_slave, &m_watch, &m_record}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    m_presenceKnown = false;
    if (!m_linkPath.empty()) {
        std::array<char, PATH_MAX> target{};
        const ssize_t length = ::readlink(m_linkPath.c_str(), target.data(), target.size() - 1);
        if (length > 0 &&
            m_slavePath == std::string_view(target.data(), static_cast<std::size_t>(length))) {
            ::unlink(m_linkPath.c_str());
        }
        m_linkPath.clear();
    }
}
