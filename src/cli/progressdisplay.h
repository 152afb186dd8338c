#pragma once

#include "progressmeter.h"

#include <QString>

class Console;

// Shows how far a transfer has come: on a terminal one status line, redrawn at most ten times a
// second; elsewhere a plain line at every tenth of the blocks.
class ProgressDisplay {
public:
    explicit ProgressDisplay(Console& console);

    void start(int count);
    // index: blocks done so far in this transfer, 1 to count.
    void blockDone(int index);
    // Leaves the last status on the screen.
    void finish();

    bool running() const { return m_running; }

private:
    QString statusText(bool withBar) const;

    Console& m_console;
    ProgressMeter m_meter;
    bool m_running = false;
    qint64 m_lastDrawMs = 0;
    int m_lastTenth = 0;
};
