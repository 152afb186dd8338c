#include "blockmap.h"

#include "ledger.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

using State = BlockMap::State;

// How much each state asks of the operator, mildest first. A cell that several blocks share
// shows the state of theirs that asks the most, so that sharing never hides what is left to do:
// a bad sum first (a record of the file is known wrong: a repair must read it again), then a
// block that differs (its record has a good sum but is not this device's: the whole file is in
// question), then a pending one (not in the file yet: the dump is not done), then one read
// again (good, and a repair's work worth seeing among the others), received last (nothing to do).
constexpr std::array<State, BlockMap::StateCount> BySeverity{
    State::Received, State::ReadAgain, State::Pending, State::Differs, State::BadSum};

int severity(State state) {
    return int(std::find(BySeverity.begin(), BySeverity.end(), state) - BySeverity.begin());
}

// Rows hold a multiple of this many cells, so that the row labels step by round counts.
constexpr int ColumnStep = 16;
// The row labels: digits of at most this width, this far left of the cells, and this far apart
// at least (rows closer than that are labelled every other row, or fewer).
constexpr int LabelDigitWidth = 5;
constexpr int LabelGap = 4;
constexpr int LabelPixelSize = 8;
constexpr int LabelSpacing = 8;
constexpr int ImageMargin = 8;

// Rows of 64 cells at least, as the map always had, and more where the width lets: the cells as
// large as 64 of them fit, within the pitch's bounds (fewer than 64 only in an area too narrow
// for them at the smallest pitch).
constexpr int LeastColumns = 64;

int widestPitch(int width) {
    return std::clamp(width / LeastColumns, BlockMap::MinPitch, BlockMap::MaxPitch);
}

int columnsFor(int width, int pitch) {
    return std::max(ColumnStep, width / pitch / ColumnStep * ColumnStep);
}

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

// The painter's font at most `pixelSize` pixels, and smaller until `width` holds `text`.
QFont fittingFont(const QFont& base, int pixelSize, const QString& text, int width) {
    QFont font = base;
    for (int size = pixelSize; size >= 6; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(text) <= width)
            break;
    }
    return font;
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

BlockMap::State BlockMap::worse(State a, State b) {
    return severity(a) >= severity(b) ? a : b;
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

BlockMap::State BlockMap::worstOf(const BlockRange& blocks) const {
    const qint64 from = std::max<qint64>(blocks.first, m_range.first);
    const qint64 to = std::min(blocks.last(), m_range.last());
    State worst = State::Received;
    for (qint64 block = from; block <= to && worst != BySeverity.back(); ++block)
        worst = worse(worst, state(block));
    return worst;
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

QString BlockMap::number(qint64 block) const {
    return QStringLiteral("%1").arg(block, m_range.last() > 9999 ? 5 : 4, 10, QLatin1Char('0'));
}

int BlockMap::gutter() const {
    return int(number(m_range.last()).size()) * LabelDigitWidth + LabelGap;
}

BlockMap::Layout BlockMap::layout(const QRect& area) const {
    const int width = area.width() - gutter();
    const int height = area.height() - LegendHeight;
    const auto rowsAt = [height](int pitch) { return std::max(1, height / pitch); };
    const auto fits = [&](int pitch, qint64 cells) {
        return qint64(columnsFor(width, pitch)) * rowsAt(pitch) >= cells;
    };
    Layout at;
    // The smallest group that fits at the smallest pitch, then the largest pitch that fits.
    const qint64 capacity = qint64(columnsFor(width, MinPitch)) * rowsAt(MinPitch);
    at.group = int(std::max<qint64>(1, (m_range.count + capacity - 1) / capacity));
    const int cells = (m_range.count + at.group - 1) / at.group;
    at.pitch = widestPitch(width);
    while (at.pitch > MinPitch && !fits(at.pitch, cells))
        --at.pitch;
    at.columns = columnsFor(width, at.pitch);
    at.rows = (cells + at.columns - 1) / at.columns;
    at.labelEvery = (LabelSpacing + at.pitch - 1) / at.pitch;
    at.cells = QRect(area.left() + gutter(), area.top(), at.columns * at.pitch, at.rows * at.pitch);
    return at;
}

std::optional<QRect> BlockMap::cellAt(const Layout& at, qint64 cell) const {
    if (cell < 0 || cell * at.group >= m_range.count)
        return std::nullopt;
    // A gap of one pixel between cells.
    return QRect(at.cells.left() + int(cell % at.columns) * at.pitch,
                 at.cells.top() + int(cell / at.columns) * at.pitch, at.pitch - 1, at.pitch - 1);
}

QRect BlockMap::cellRect(qint64 block, const QRect& area) const {
    if (!m_range.contains(block))
        return {};
    const Layout at = layout(area);
    return cellAt(at, (block - m_range.first) / at.group).value_or(QRect());
}

std::optional<qint64> BlockMap::blockAt(const QPoint& point, const QRect& area) const {
    const Layout at = layout(area);
    if (!at.cells.contains(point))
        return std::nullopt;
    const int column = (point.x() - at.cells.left()) / at.pitch;
    const int row = (point.y() - at.cells.top()) / at.pitch;
    const qint64 cell = qint64(row) * at.columns + column;
    if (!cellAt(at, cell))
        return std::nullopt;
    return m_range.first + cell * at.group;
}

BlockRange BlockMap::cellBlocks(qint64 block, const QRect& area) const {
    if (!m_range.contains(block))
        return {};
    const int group = layout(area).group;
    const int first = m_range.first + int(block - m_range.first) / group * group;
    return {first, int(std::min<qint64>(group, m_range.last() - first + 1))};
}

void BlockMap::paint(QPainter& painter, const QRect& area, const Labels& labels,
                     const QRect& exposed) const {
    const QRect shown = exposed.isNull() ? area : exposed;
    const Layout at = layout(area);
    // Only the rows the exposed part meets: a block arriving repaints its own cell alone.
    const int firstRow = std::max(0, (shown.top() - at.cells.top()) / at.pitch);
    const int lastRow = std::min(at.rows - 1, (shown.bottom() - at.cells.top()) / at.pitch);
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = 0; column < at.columns; ++column) {
            const qint64 cell = qint64(row) * at.columns + column;
            const std::optional<QRect> rect = cellAt(at, cell);
            if (!rect)
                break;
            if (rect->intersects(shown))
                drawCell(painter, *rect, worstOf({int(m_range.first + cell * at.group), at.group}));
        }
    }

    painter.save();
    painter.setPen(Qt::black);
    // Each labelled row's first block, right-aligned against the cells, centred on its row.
    const int labelWidth = gutter() - LabelGap;
    painter.setFont(
        fittingFont(painter.font(), LabelPixelSize, number(m_range.last()), labelWidth));
    for (int row = 0; row < at.rows; row += at.labelEvery) {
        const int middle = at.cells.top() + row * at.pitch + (at.pitch - 1) / 2;
        // The first row's label kept inside the area.
        const QRect label(area.left(), std::max(area.top(), middle - LabelSpacing / 2 - 1),
                          labelWidth, LabelSpacing + 3);
        if (label.intersects(shown))
            painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
                             number(m_range.first + qint64(row) * at.columns * at.group));
    }

    const QRect legend(area.left(), at.cells.bottom() + 1, area.width(), LegendHeight);
    if (legend.intersects(shown)) {
        // Each state's cell, marks and all, and its words; the words smaller when they would
        // not fit the width otherwise.
        constexpr int Swatch = 9, AfterSwatch = 4, BetweenEntries = 12;
        QString words;
        for (const QString& label : labels)
            words += label;
        const int room = area.width() - StateCount * (Swatch + AfterSwatch + BetweenEntries);
        painter.setFont(
            fittingFont(painter.font(), QFontInfo(painter.font()).pixelSize(), words, room));
        const QFontMetrics metrics = painter.fontMetrics();
        int x = legend.left();
        for (int i = 0; i < StateCount; ++i) {
            drawCell(painter, QRect(x, legend.center().y() - Swatch / 2, Swatch, Swatch), State(i));
            x += Swatch + AfterSwatch;
            painter.drawText(QRect(x, legend.top(), legend.right() - x, legend.height()),
                             Qt::AlignLeft | Qt::AlignVCenter, labels.at(i));
            x += metrics.horizontalAdvance(labels.at(i)) + BetweenEntries;
        }
    }
    painter.restore();
}

QImage BlockMap::image(int width, const Labels& labels, const QString& title) const {
    // As many rows as every block in its own cell needs.
    const int cellsWidth = width - 2 * ImageMargin - gutter();
    const int pitch = widestPitch(cellsWidth);
    const int columns = columnsFor(cellsWidth, pitch);
    const int rows = (m_range.count + columns - 1) / columns;
    const int top = ImageMargin + (title.isEmpty() ? 0 : TitleHeight);
    const QRect area(ImageMargin, top, width - 2 * ImageMargin, rows * pitch + LegendHeight);
    QImage picture(width, area.bottom() + 1 + ImageMargin, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    if (!title.isEmpty()) {
        painter.save();
        QFont bold = painter.font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(Qt::black);
        const QRect line(area.left(), ImageMargin, area.width(), TitleHeight - 4);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(title, Qt::ElideMiddle, line.width()));
        painter.restore();
    }
    paint(painter, area, labels);
    return picture;
}
