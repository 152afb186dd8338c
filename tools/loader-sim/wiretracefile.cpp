#include "wiretracefile.h"

#include "simerror.h"

#include <charconv>
#include <fstream>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

WireTraceFile WireTraceFile::read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw SimError(SimError::Kind::System, "cannot read the trace " + path);
    }
    const auto malformed = [&](long long line, const std::string& problem) {
        return SimError(SimError::Kind::Usage,
                        "trace " + path + " line " + std::to_string(line) + ": " + problem);
    };
    const std::string header = "# decodump wire trace ";

    WireTraceFile trace;
    bool headerSeen = false;
    std::string text;
    for (long long line = 1; std::getline(file, text); ++line) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (text.empty()) {
            continue;
        }
        if (!headerSeen) {
            if (text != header + std::to_string(Format)) {
                throw malformed(line,
                                "expected the header \"" + header + std::to_string(Format) + "\"");
            }
            headerSeen = true;
            continue;
        }
        if (text.front() == '#') {
            continue;
        }

        Event event;
        event.line = line;
        const char* at = text.data();
        const char* const end = text.data() + text.size();
        const auto [afterTime, error] = std::from_chars(at, end, event.microseconds);
        if (error != std::errc() || event.microseconds < 0 || afterTime == at) {
            throw malformed(line, "expected the microseconds since arming");
        }
        at = afterTime;
        if (end - at < 4 || at[0] != ' ' || (at[1] != '>' && at[1] != '<') || at[2] != ' ') {
            throw malformed(line, "expected \" > \" or \" < \" and bytes after the time");
        }
        event.fromTool = at[1] == '>';
        at += 3;
        if ((end - at) % 2 != 0) {
            throw malformed(line, "odd number of hex digits");
        }
        for (; at < end; at += 2) {
            const int high = hexValue(at[0]);
            const int low = hexValue(at[1]);
            if (high < 0 || low < 0) {
                throw malformed(line, "\"" + std::string(at, 2) + "\" is not a hex byte");
            }
            event.bytes += static_cast<char>(high * 16 + low);
        }
        trace.m_events.push_back(std::move(event));
    }
    if (file.bad()) {
        throw SimError(SimError::Kind::System, "cannot read the trace " + path);
    }
    if (!headerSeen) {
        throw malformed(1, "empty file, expected the header \"" + header + std::to_string(Format) +
                               "\"");
    }
    return trace;
}
