#pragma once

#include <string>
#include <vector>

// A wire trace as decodump records it with --trace: the header line "# decodump wire trace 1",
// then one event a line, "<microseconds since arming> <direction> <bytes in hex>", where '>'
// is from the tool to the loader and '<' from the loader to the tool. Other lines starting
// with '#', and empty lines, are skipped; a CR before the LF is allowed.
class WireTraceFile {
public:
    static constexpr int Format = 1;
    // A dump is recorded in minutes; a week is far beyond any real trace, and keeps every event
    // time small enough for the replay's clock to add without overflowing.
    static constexpr long long MaxMicroseconds = 7LL * 24 * 60 * 60 * 1'000'000;
    // A trace of a whole 2 MiB dump is a little over 4 MiB (the flash in hex, one event a piece),
    // so this leaves room for traces of many dumps and still refuses a file that is no trace before
    // it is held in memory.
    static constexpr long long MaxFileBytes = 256LL * 1024 * 1024;

    struct Event {
        long long microseconds = 0;
        bool fromTool = false;
        std::string bytes;
        long long line = 0; // in the file, from 1
    };

    // Throws SimError: System when the file cannot be read, is not a regular file or is larger
    // than MaxFileBytes; Usage when it is not a trace of this format (naming the line and the
    // problem), which includes an event time beyond MaxMicroseconds.
    static WireTraceFile read(const std::string& path);

    const std::vector<Event>& events() const { return m_events; }

private:
    std::vector<Event> m_events;
};
