#include "blockmap.h"

#include "ledger.h"

#include <QPainter>

#include <algorithm>

namespace {

using State = BlockMap::State;

// The mark inside a cell in a state the operator must act on, so that it never relies on hue
// alone: a cross for a bad sum, a bar for a block that differs. Black, at 5:1 or more against
// either fill; drawn inside a one-pixel rim so that the cell's corners keep its colour.
void drawCell(QPainter& painter, const QRect& cell, State state) {
    painter.fillRect(cell, BlockMap::color(state));
    const QRect inside = cell.adjusted(1, 1, -1, -1);
    if (inside.width() < 1 || (state != State::BadSum && state != State::Differs))
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 0));
    if (state == State::BadSum) {
        painter.drawLine(inside.topLeft(), inside.bottomRight());
        painter.drawLine(inside.bottomLeft(), inside.topRight());
    } else {
        painter.drawLine(inside.left(), inside.center().y(), inside.right(), inside.center().y());
    }
    painter.restore();
}

} // namespace

BlockMap::BlockMap(const BlockRange& range)
    : m_range{range.first, std::clamp(range.count, 0, BlockRange::LargestCount)},
      m_states(m_range.count, State::Pending) {}

BlockMap::State BlockMap::stateOf(const Facts& facts) {
    if (facts.differs)
        return State::Differs;
    // A block read well but not compared is, as far as the file goes, still to come.
    if (!facts.inFile || (facts.uncompared && facts.sumOk))
        return State::Pending;
    if (!facts.sumOk)
        return State::BadSum;
    return facts.readAgain ? State::ReadAgain : State::Received;
}

BlockMap BlockMap::fromLedger(const Ledger& ledger) {
    BlockMap map(ledger.range);
    for (int record = 0; record < map.range().count; ++record) {
        const int block = ledger.range.first + record;
        Facts facts;
        facts.inFile = record < ledger.records();
        // The ledger keeps its bad and differing blocks in ascending order.
        facts.sumOk = !std::binary_search(ledger.badBlocks.begin(), ledger.badBlocks.end(), block);
        facts.readAgain =
            std::any_of(ledger.runs.begin(), ledger.runs.end(), [block](const Ledger::Run& run) {
                return run.kind == Ledger::RunKind::Repair && run.range.contains(block);
            });
        facts.differs =
            ledger.verified && std::binary_search(ledger.verified->differingBlocks.begin(),
                                                  ledger.verified->differingBlocks.end(), block);
        map.set(block, stateOf(facts));
    }
    return map;
}

BlockMap::State BlockMap::state(qint64 block) const {
    return m_range.contains(block) ? m_states.at(block - m_range.first) : State::Pending;
}

bool BlockMap::set(qint64 block, State state) {
    if (!m_range.contains(block))
        return false;
    m_states[block - m_range.first] = state;
    return true;
}

// Okabe and Ito's colours for colour-blind readers, pending a mid grey.
QColor BlockMap::color(State state) {
    switch (state) {
    case State::Pending:
        return QColor(0x80, 0x80, 0x80);
    case State::Received:
        return QColor(0x00, 0x72, 0xb2); // blue
    case State::BadSum:
        return QColor(0xd5, 0x5e, 0x00); // vermillion
    case State::ReadAgain:
        return QColor(0x56, 0xb4, 0xe9); // sky blue
    case State::Differs:
        return QColor(0xe6, 0x9f, 0x00); // orange
    }
    return Qt::black;
}

int BlockMap::rows() const {
    return std::max(1, (m_range.count + Columns - 1) / Columns);
}

int BlockMap::pitch(const QRect& area) const {
    const int byWidth = area.width() / Columns;
    const int byHeight = (area.height() - LegendHeight) / rows();
    return std::clamp(std::min(byWidth, byHeight), 1, MaxPitch);
}

QRect BlockMap::cellRect(qint64 block, const QRect& area) const {
    if (!m_range.contains(block))
        return {};
    const int step = pitch(area);
    const qint64 index = block - m_range.first;
    // A gap of one pixel between cells, once they are large enough to show it.
    const int size = step > 2 ? step - 1 : step;
    return {area.left() + int(index % Columns) * step, area.top() + int(index / Columns) * step,
            size, size};
}

std::optional<qint64> BlockMap::blockAt(const QPoint& point, const QRect& area) const {
    const int step = pitch(area);
    const int column = (point.x() - area.left()) / step;
    const int row = (point.y() - area.top()) / step;
    if (point.x() < area.left() || point.y() < area.top() || column >= Columns || row >= rows())
        return std::nullopt;
    const qint64 block = qint64(m_range.first) + qint64(row) * Columns + column;
    if (!m_range.contains(block))
        return std::nullopt;
    return block;
}

void BlockMap::paint(QPainter& painter, const QRect& area, const Labels& labels,
                     const QRect& exposed) const {
    const QRect shown = exposed.isNull() ? area : exposed;
    const int step = pitch(area);
    // Only the rows the exposed part meets: a block arriving repaints its own cell alone.
    const int firstRow = std::max(0, (shown.top() - area.top()) / step);
    const int lastRow = std::min(rows() - 1, (shown.bottom() - area.top()) / step);
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const qint64 block = qint64(m_range.first) + qint64(row) * Columns + column;
            if (!m_range.contains(block))
                break;
            const QRect cell = cellRect(block, area);
            if (cell.intersects(shown))
                drawCell(painter, cell, state(block));
        }
    }
    const QRect legend(area.left(), area.top() + rows() * step + 4, area.width(), LegendHeight);
    if (!legend.intersects(shown))
        return;
    int x = legend.left();
    const QFontMetrics metrics = painter.fontMetrics();
    for (int i = 0; i < StateCount; ++i) {
        const int swatch = std::min(10, legend.height() - 6);
        // Each state's cell, marks and all.
        drawCell(painter, QRect(x, legend.top() + 3, swatch, swatch), State(i));
        x += swatch + 4;
        painter.setPen(Qt::black);
        painter.drawText(QRect(x, legend.top(), legend.right() - x, legend.height()),
                         Qt::AlignLeft | Qt::AlignTop, labels.at(i));
        x += metrics.horizontalAdvance(labels.at(i)) + 12;
    }
}

QImage BlockMap::image(int width, const Labels& labels) const {
    const int margin = 8;
    const QRect area(margin, margin, width - 2 * margin,
                     rows() * std::min(MaxPitch, (width - 2 * margin) / Columns) + LegendHeight +
                         4);
    QImage picture(width, area.bottom() + margin, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    paint(painter, area, labels);
    return picture;
}
