#pragma once

#include <QElapsedTimer>
#include <QString>

#include <deque>
#include <optional>
#include <utility>

// How far a run has come through the blocks of its file, and how long the rest should take at
// the pace of the last couple of seconds (a loader's pace changes as the line does).
class ProgressMeter {
public:
    // total: the blocks the file has; doneBefore: those it held when the run began (a resume
    // starts where the file stands).
    void start(int total, int doneBefore = 0);
    // doneThisRun: blocks of this run so far.
    void reach(int doneThisRun);

    int total() const { return m_total; }
    int done() const { return m_before + m_doneThisRun; }
    int percent() const;
    // Kilobytes (blocks) a second lately; 0 until two blocks are some time apart.
    double rate() const;
    // At the recent pace; none until a pace is known or once every block is there.
    std::optional<double> secondsLeft() const;
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

private:
    static constexpr qint64 RateWindowMs = 2000;

    QElapsedTimer m_clock;
    int m_total = 0;
    int m_before = 0;
    int m_doneThisRun = 0;
    std::deque<std::pair<qint64, int>> m_recent; // (ms since start, blocks done this run)
};

// "1:05", "12:00", "1:02:03": a duration as a clock shows it, rounded to the second.
QString clockDuration(double seconds);
