#include "terminal.h"

#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

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

int terminalColumns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handleOf(fd), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}
