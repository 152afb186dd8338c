#pragma once

#include <QElapsedTimer>
#include <QString>

#include <deque>
#include <utility>

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
    // KB/s over the last couple of seconds; a block is one kilobyte.
    double currentRate(qint64 now) const;

    Console& m_console;
    QElapsedTimer m_clock;
    bool m_running = false;
    int m_count = 0;
    int m_done = 0;
    qint64 m_lastDrawMs = 0;
    int m_lastTenth = 0;
    std::deque<std::pair<qint64, int>> m_recent; // (ms since start, blocks done)
};
