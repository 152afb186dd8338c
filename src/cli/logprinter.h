#pragma once

#include <QString>

#include <functional>

// Turns the dialogue's log pieces into whole lines: CR LF ends a line, empty lines are dropped,
// and each "o" marker (one per line received from the loader) shows as a dot.
class LogPrinter {
public:
    explicit LogPrinter(std::function<void(const QString&)> printLine);

    void append(const QString& piece);
    // Prints what is left of an unfinished line.
    void flush();

private:
    void endLine();

    std::function<void(const QString&)> m_printLine;
    QString m_line;
    bool m_lineEndsInMarker = false;
};
