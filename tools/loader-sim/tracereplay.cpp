#include "tracereplay.h"

#include "simerror.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr char BreakIn = 31;
// How long to keep collecting after a differing byte, to show what the tool sent instead.
constexpr std::chrono::milliseconds unexpectedTail{100};
// Longer events are logged by their size, not their bytes.
constexpr std::size_t quotedUpTo = 64;

// Event times lie from 0 to WireTraceFile::MaxMicroseconds, so their differences cannot overflow,
// and neither can one added in the clock's resolution to the start of the replay (a time since
// boot, far below half the clock's range).
static_assert(std::chrono::microseconds(WireTraceFile::MaxMicroseconds) <
              PtyLink::Clock::duration::max() / 2);

std::string withoutBreakIns(std::string bytes) {
    std::erase(bytes, BreakIn);
    return bytes;
}

std::string shown(const std::string& bytes) {
    return bytes.size() <= quotedUpTo ? SimLog::quoted(bytes)
                                      : std::to_string(bytes.size()) + " bytes";
}

} // namespace

TraceReplay::TraceReplay(PtyLink& link, const WireTraceFile& trace, const SimOptions& options,
                         const SimLog& log)
    : m_link(link), m_trace(trace), m_options(options), m_log(log) {
    const auto& events = m_trace.events();
    const auto firstFromTool = std::find_if(events.begin(), events.end(),
                                            [](const auto& event) { return event.fromTool; });
    if (firstFromTool != events.end()) {
        m_baseMicroseconds = firstFromTool->microseconds;
    }
}

void TraceReplay::play() {
    m_link.setToolRequired(false);
    m_log.detail("waiting for the tool's first byte (" + std::to_string(m_trace.events().size()) +
                 " events to replay)");
    unsigned char first = 0;
    try {
        first = m_link.receive();
    } catch (const SimError& error) {
        throw error.explained(" while waiting for the tool's first byte");
    }
    m_zero = PtyLink::Clock::now();
    m_link.unreceive(first);
    m_closesAtStart = m_link.closeCount();
    m_link.setToolRequired(true);

    const auto& events = m_trace.events();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].fromTool) {
            expectToolBytes(i, events[i]);
        } else {
            sendLoaderBytes(i, events[i]);
        }
    }
    finish();
    m_log.info("the tool matched the whole trace (" + std::to_string(events.size()) + " events)");
}

void TraceReplay::expectToolBytes(std::size_t index, const WireTraceFile::Event& event) {
    const std::string expected = withoutBreakIns(event.bytes);
    if (expected.empty()) {
        return;
    }
    const std::string where = eventName(index, event);
    std::string received;
    for (const char want : expected) {
        const unsigned char byte = nextToolByte(where + " (" + SimLog::quoted(expected) + ")");
        received += static_cast<char>(byte);
        if (byte == static_cast<unsigned char>(want)) {
            continue;
        }
        while (received.size() < expected.size() + 16) {
            const auto more = m_link.receiveWithin(unexpectedTail);
            if (!more) {
                break;
            }
            if (*more != BreakIn) {
                received += static_cast<char>(*more);
            }
        }
        throw SimError(SimError::Kind::Protocol, "the tool's bytes differ from " + where +
                                                     ": expected " + SimLog::quoted(expected) +
                                                     ", received " + SimLog::quoted(received));
    }
    m_log.detail(where + ": received " + shown(expected));
}

void TraceReplay::sendLoaderBytes(std::size_t index, const WireTraceFile::Event& event) {
    if (m_options.replayPace == SimOptions::Pace::Recorded) {
        const auto offset =
            std::chrono::microseconds(std::max(0LL, event.microseconds - m_baseMicroseconds));
        m_link.sleepUntil(m_zero + offset);
    }
    m_link.send(event.bytes);
    m_log.detail(eventName(index, event) + ": sent " + shown(event.bytes));
}

unsigned char TraceReplay::nextToolByte(const std::string& where) {
    for (;;) {
        unsigned char byte = 0;
        try {
            byte = m_link.receive();
        } catch (const SimError& error) {
            throw error.explained(" while expecting " + where);
        }
        if (byte != BreakIn) {
            return byte;
        }
    }
}

void TraceReplay::finish() {
    m_link.setToolRequired(false);
    if (!m_link.knowsToolPresence()) {
        return;
    }
    m_log.detail("end of the trace; waiting for the tool to close the port");
    std::string bytes;
    try {
        bytes = m_link.awaitClose(m_closesAtStart);
    } catch (const SimError& error) {
        throw error.explained(" while waiting for the tool to close the port");
    }
    // What came with the close stays buffered; nothing may follow the trace.
    while (const auto byte = m_link.receiveWithin(std::chrono::milliseconds(0))) {
        bytes += static_cast<char>(*byte);
    }
    bytes = withoutBreakIns(bytes);
    if (!bytes.empty()) {
        throw SimError(SimError::Kind::Protocol,
                       "unexpected bytes from the tool after the end of the trace: " +
                           SimLog::quoted(bytes));
    }
}

std::string TraceReplay::eventName(std::size_t index, const WireTraceFile::Event& event) const {
    std::array<char, 32> seconds{};
    std::snprintf(seconds.data(), seconds.size(), "%.6f", double(event.microseconds) / 1e6);
    return "event " + std::to_string(index + 1) + " (line " + std::to_string(event.line) + ", " +
           seconds.data() + " s)";
}
