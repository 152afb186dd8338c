#pragma once

#include "simlog.h"

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

// The loader's end of a pseudo-terminal pair.
//
// The simulator keeps the slave open itself, so the tool may close and reopen the device
// without the master ever seeing a hangup. It also watches the slave's device node (inotify)
// to know whether the tool has the port open: a tool that closes the port in the middle of the
// dialogue is reported instead of waited for, and the simulator knows when a dump is over.
//
// Every wait is a ppoll that also reads what the tool sends, so neither side can block the
// other, and that lets SIGTERM/SIGINT through (see StopSignals).
class PtyLink {
public:
    using Clock = std::chrono::steady_clock;

    explicit PtyLink(const SimLog& log);
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Opens the pair, puts the slave in raw mode and starts watching it.
    void open();
    // Makes `path` a symbolic link to the slave, replacing whatever is there.
    void createLink(const std::string& path);
    const std::string& slavePath() const { return m_slavePath; }

    // Pace what is sent at baud/10 bytes per second; 0 sends at once.
    // Paces what is sent at baud/10 bytes per second (0: unpaced), handed over `piece` bytes at
    // a time.
    void setBaud(unsigned baud, std::size_t piece);
    // How long receive() waits for a byte before throwing SimError(Timeout); 0 waits forever.
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }
    // Appends every received byte to the file.
    void setRecordFile(const std::string& path);
    // While set, receive() throws SimError(ToolClosedPort) once the tool has closed the port and
    // nothing more is buffered.
    void setToolRequired(bool required) { m_toolRequired = required; }

    // Whether the simulator can tell when the tool opens and closes the port.
    bool knowsToolPresence() const { return m_presenceKnown; }
    bool toolHasPortOpen() const { return m_toolOpenCount > 0; }
    // How often the port has been closed so far.
    unsigned long closeCount() const { return m_closeCount; }

    void send(std::string_view bytes);

    unsigned char receive();
    // The next byte if one arrives within `wait` (or is buffered), else nothing; also nothing
    // when the tool closes the port meanwhile.
    std::optional<unsigned char> receiveWithin(std::chrono::milliseconds wait);
    // Puts a byte back in front of the received ones.
    void unreceive(unsigned char byte) { m_received.push_front(static_cast<char>(byte)); }
    // Everything buffered, once at least one byte is there.
    std::string receiveSome();
    // Waits until the port has been closed after `closesSeen` closes (or nobody has it open)
    // and returns what arrived while it was still open. What arrives together with or after
    // the close stays buffered: it may already be the next dump's break-in.
    std::string awaitClose(unsigned long closesSeen);

    // The tool's exclusive-use flag survives a tool that did not clear it (the simulator holds
    // the slave, so the tool's close is never the last one); clear it between dumps.
    void clearExclusiveUse();

    // Closes everything and removes the link, as a device that is unplugged.
    void vanish();

    // Waits until `when`, reading what the tool sends meanwhile.
    void sleepUntil(Clock::time_point when);

private:
    using Deadline = std::optional<Clock::time_point>;

    bool pump(Deadline deadline, bool wantWrite);
    void readMaster();
    void readWatch();
    void writeAll(std::string_view bytes);
    Deadline idleDeadline() const;
    bool toolGone() const;
    bool awaitTrailingBytes();
    std::string takeReceived();
    [[noreturn]] void idleTimeoutExpired() const;
    void closeAll();

    const SimLog& m_log;
    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1;
    int m_record = -1;
    std::string m_slavePath;
    std::string m_linkPath;
    std::deque<char> m_received;
    int m_toolOpenCount = 0;
    unsigned long m_closeCount = 0;
    bool m_presenceKnown = false;
    bool m_toolRequired = false;
    std::chrono::nanoseconds m_byteTime{0};
    std::size_t m_piece = 16;
    Clock::time_point m_lineFreeAt;
    std::chrono::milliseconds m_idleTimeout{0};
};
