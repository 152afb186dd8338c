#include "progressdisplay.h"

#include "console.h"
#include "wording.h"

#include <QtGlobal>

namespace {

constexpr qint64 RedrawIntervalMs = 100;
constexpr int BarWidth = 20;

} // namespace

ProgressDisplay::ProgressDisplay(Console& console) : m_console(console) {}

void ProgressDisplay::start(int count) {
    m_meter.start(count);
    m_running = true;
    m_lastDrawMs = 0;
    m_lastTenth = 0;
    m_console.setStatus(statusText(true));
}

void ProgressDisplay::blockDone(int index) {
    if (!m_running)
        return;
    const qint64 now = m_meter.elapsedMs();
    m_meter.reach(index);
    const int count = m_meter.total();
    const bool last = index >= count;
    if (m_console.isTerminal()) {
        if (last || now - m_lastDrawMs >= RedrawIntervalMs) {
            m_lastDrawMs = now;
            m_console.setStatus(statusText(true));
        }
        return;
    }
    const int tenth = count > 0 ? static_cast<int>(qint64(index) * 10 / count) : 10;
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

QString ProgressDisplay::statusText(bool withBar) const {
    const int count = m_meter.total();
    const int done = m_meter.done();
    QString text;
    if (withBar) {
        const int filled =
            count > 0 ? static_cast<int>(qint64(done) * BarWidth / count) : BarWidth;
        text = QLatin1Char('[') + QString(filled, u'#') + QString(BarWidth - filled, u'-') +
               QStringLiteral("] ");
    }
    text += QStringLiteral("%1/%2 %3%")
                .arg(done)
                .arg(counted(count, QStringLiteral("block")))
                .arg(m_meter.percent(), 3);
    const double rate = m_meter.rate();
    if (rate > 0.0) {
        text += QStringLiteral("  %1 KB/s").arg(rate, 0, 'f', 1);
        if (const std::optional<double> left = m_meter.secondsLeft())
            text += QStringLiteral("  %1 left").arg(clockDuration(*left));
    }
    return text;
}
