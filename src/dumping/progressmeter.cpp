#include "progressmeter.h"

#include <QString>

void ProgressMeter::start(int total, int doneBefore) {
    m_clock.start();
    m_total = total;
    m_before = doneBefore;
    m_doneThisRun = 0;
    m_recent.assign(1, {0, 0});
}

void ProgressMeter::reach(int doneThisRun) {
    const qint64 now = m_clock.elapsed();
    m_doneThisRun = doneThisRun;
    m_recent.emplace_back(now, doneThisRun);
    while (m_recent.size() > 2 && m_recent[1].first <= now - RateWindowMs)
        m_recent.pop_front();
}

int ProgressMeter::percent() const {
    return m_total > 0 ? static_cast<int>(qint64(done()) * 100 / m_total) : 100;
}

double ProgressMeter::rate() const {
    if (m_recent.empty())
        return 0.0;
    const qint64 now = m_clock.elapsed();
    const auto& [since, doneThen] = m_recent.front();
    if (now <= since || m_doneThisRun <= doneThen)
        return 0.0;
    return double(m_doneThisRun - doneThen) * 1000.0 / double(now - since);
}

std::optional<double> ProgressMeter::secondsLeft() const {
    const double pace = rate();
    if (pace <= 0.0 || done() >= m_total)
        return std::nullopt;
    return (m_total - done()) / pace;
}

QString clockDuration(double seconds) {
    const auto total = static_cast<qint64>(seconds + 0.5);
    const qint64 hours = total / 3600;
    const qint64 minutes = total / 60 % 60;
    const qint64 secs = total % 60;
    const QString rest = QStringLiteral("%1:%2")
                             .arg(minutes, hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                             .arg(secs, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(rest) : rest;
}
