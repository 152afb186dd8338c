#include "wiretracefile.h"

#include "simerror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

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

[[noreturn]] void unreadable(const std::string& path, const std::string& why) {
    throw SimError(SimError::Kind::System, "cannot read the trace " + path + ": " + why);
}

std::string fileKind(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "of an unknown kind";
}

// Closes the file however reading it ends.
class OpenFile {
public:
    explicit OpenFile(int fd) : m_fd(fd) {}
    ~OpenFile() { ::close(m_fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// The whole file, refused before reading when it is not a regular file or too large. The open
// does not block, so that a FIFO is refused at once instead of waiting for a writer past a stop
// signal; a regular file's reads do not block anyway.
std::string readRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        unreadable(path, std::strerror(errno));
    }
    const OpenFile file(fd);
    struct stat status = {};
    if (::fstat(file.fd(), &status) != 0) {
        unreadable(path, std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        unreadable(path, "it is " + fileKind(status.st_mode) + ", not a regular file");
    }
    const std::string tooLarge =
        "more than the " + std::to_string(WireTraceFile::MaxFileBytes) + " bytes a trace may have";
    if (status.st_size > WireTraceFile::MaxFileBytes) {
        unreadable(path, "it holds " + std::to_string(status.st_size) + " bytes, " + tooLarge);
    }
    // Read up to the end rather than st_size bytes: the file may grow meanwhile, and some files
    // (those of /proc) tell a size of 0.
    std::string bytes;
    std::array<char, 65536> chunk{};
    for (;;) {
        const ssize_t got = ::read(file.fd(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            unreadable(path, std::strerror(errno));
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
        if (bytes.size() > static_cast<std::size_t>(WireTraceFile::MaxFileBytes)) {
            unreadable(path, "it grew while being read to " + tooLarge);
        }
    }
}

} // namespace

WireTraceFile WireTraceFile::read(const std::string& path) {
    const std::string content = readRegularFile(path);
    const auto malformed = [&](long long line, const std::string& problem) {
        return SimError(SimError::Kind::Usage,
                        "trace " + path + " line " + std::to_string(line) + ": " + problem);
    };
    const std::string header = "# decodump wire trace ";

    WireTraceFile trace;
    bool headerSeen = false;
    std::size_t lineStart = 0;
    for (long long line = 1; lineStart < content.size(); ++line) {
        const std::size_t lineEnd = std::min(content.find('\n', lineStart), content.size());
        std::string_view text(content.data() + lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
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
        if (error == std::errc::result_out_of_range ||
            (error == std::errc() && event.microseconds > MaxMicroseconds)) {
            throw malformed(line, "the time " + std::string(at, afterTime) +
                                      " is more than a week (" + std::to_string(MaxMicroseconds) +
                                      " microseconds) after arming");
        }
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
    if (!headerSeen) {
        throw malformed(1, "empty file, expected the header \"" + header + std::to_string(Format) +
                               "\"");
    }
    return trace;
}
