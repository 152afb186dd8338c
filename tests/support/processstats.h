#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>
#include <QtGlobal>

#include <ctime>
#include <filesystem>
#include <iterator>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// What the soak tests watch in their own process.

// Time, CPU and memory figures are printed in every build but asserted only in the plain one:
// sanitizers slow the code down many times and hold on to freed memory.
#ifdef DECODUMP_SANITIZED
inline constexpr bool FiguresAsserted = false;
#else
inline constexpr bool FiguresAsserted = true;
#endif

// QVERIFY2 for a figure: in a sanitized build a figure over its budget is only reported.
#define VERIFY_FIGURE(condition, message)                                                          \
    do {                                                                                           \
        if (FiguresAsserted)                                                                       \
            QVERIFY2(condition, message);                                                          \
        else if (!(condition))                                                                     \
            qInfo("over budget, not asserted under sanitizers: %s", message);                      \
    } while (false)

// Files, devices and other handles the process holds open.
inline int openFileDescriptors() {
#ifdef Q_OS_WIN
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    return static_cast<int>(handles);
#else
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<int>(std::distance(begin(entries), end(entries)));
#endif
}

// Resident set size in kB; -1 when /proc does not tell.
inline qint64 residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // Files of /proc report no size: read to the end rather than up to atEnd().
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

inline double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}
