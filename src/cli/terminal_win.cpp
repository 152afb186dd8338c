#include "terminal.h"

#include "safefile.h"

#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>

namespace {

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

} // namespace

void ignoreBrokenPipes() {
    // Windows raises no signal for a closed pipe; the write fails.
}

void keepStandardDescriptors() {
    // A Windows program's standard handles are never reused by its own pipes.
}

QStringList commandLine(int, char*[]) {
    // argv holds the command line in the ANSI code page, which loses letters outside it.
    QStringList arguments;
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 0; words && i < count; ++i)
        arguments.append(QString::fromWCharArray(words[i]));
    ::LocalFree(words);
    return arguments;
}

bool isTerminal(int fd) {
    DWORD mode = 0;
    return ::GetConsoleMode(handleOf(fd), &mode) != 0;
}

void writeText(int fd, const QString& text) {
    const HANDLE console = handleOf(fd);
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode)) {
        writeAll(fd, text.toUtf8());
        return;
    }
    // The status line is redrawn with "\r\033[K"; consoles before Windows 10 show the escape.
    if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    const wchar_t* left = reinterpret_cast<const wchar_t*>(text.utf16());
    qsizetype count = text.size();
    while (count > 0) {
        DWORD written = 0;
        if (!::WriteConsoleW(console, left, DWORD(std::min<qsizetype>(count, 16384)), &written,
                             nullptr) ||
            written == 0)
            return;
        left += written;
        count -= written;
    }
}

int terminalColumns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handleOf(fd), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}
