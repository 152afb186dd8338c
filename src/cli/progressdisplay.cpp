#include "progressdisplay.h"

#include "console.h"
#include "wording.h"

#include <QtGlobal>

namespace {

constexpr qint64 RedrawIntervalMs = 100;
constexpr qint64 RateWindowMs = 2000;
constexpr int BarWidth = 20;

QString duration(double seconds) {
    const auto total = static_cast<qint64>(seconds + 0.5);
    const qint64 hours = total / 3600;
    const qint64 minutes = total / 60 % 60;
    const qint64 secs = total % 60;
    const QString rest = QStringLiteral("%1:%2")
                             .arg(minutes, hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                             .arg(secs, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(rest) : rest;
}

} // namespace

ProgressDisplay::ProgressDisplay(Console& console) : m_console(console) {}

void ProgressDisplay::start(int count) {
    m_clock.start();
    m_running = true;
    m_count = count;
    m_done = 0;
    m_lastDrawMs = 0;
    m_lastTenth = 0;
    m_recent.assign(1, {0, 0});
    m_console.setStatus(statusText(true));
}

void ProgressDisplay::blockDone(int index) {
    if (!m_running)
        return;
    const qint64 now = m_clock.elapsed();
    m_done = index;
    m_recent.emplace_back(now, index);
    while (m_recent.size() > 2 && m_recent[1].first <= now - RateWindowMs)
        m_recent.pop_front();

    const bool last = index >= m_count;
    if (m_console.isTerminal()) {
        if (last || now - m_lastDrawMs >= RedrawIntervalMs) {
            m_lastDrawMs = now;
            m_console.setStatus(statusText(true));
        }
        return;
    }
    const int tenth = m_count > 0 ? static_cast<int>(qint64(index) * 10 / m_count) : 10;
    if (tenth > m_lastTenth) {
        m_lastTenth = tenth;
        m_console.printLine(statusText(false));
    }
}

void ProgressDisplay::finish() {
    if (!m_running)
        return;
    m_running = false;
    // Redraws are throttled, so the line on the screen may lag behind the last block.
    if (m_console.isTerminal())
        m_console.setStatus(statusText(true));
    m_console.keepStatus();
}

double ProgressDisplay::currentRate(qint64 now) const {
    const auto& [since, doneThen] = m_recent.front();
    if (now <= since || m_done <= doneThen)
        return 0.0;
    return double(m_done - doneThen) * 1000.0 / double(now - since);
}

QString ProgressDisplay::statusText(bool withBar) const {
    const int percent = m_count > 0 ? static_cast<int>(qint64(m_done) * 100 / m_count) : 100;
    QString text;
    if (withBar) {
        const int filled =
            m_count > 0 ? static_cast<int>(qint64(m_done) * BarWidth / m_count) : BarWidth;
        text = QLatin1Char('[') + QString(filled, u'#') + QString(BarWidth - filled, u'-') +
               QStringLiteral("] ");
    }
    text += QStringLiteral("%1/%2 %3%")
                .arg(m_done)
                .arg(counted(m_count, QStringLiteral("block")))
                .arg(percent, 3);
    const double rate = currentRate(m_clock.elapsed());
    if (rate > 0.0) {
        text += QStringLiteral("  %1 KB/s").arg(rate, 0, 'f', 1);
        if (m_done < m_count)
            text += QStringLiteral("  %1 left").arg(duration((m_count - m_done) / rate));
    }
    return text;
}
