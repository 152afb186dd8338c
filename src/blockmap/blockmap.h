#pragma once

#include "blockrange.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <array>
#include <optional>

class Ledger;
class QPainter;

// The picture of a dump's blocks: a cell per block of its range (or per few consecutive blocks,
// when the range has more than fit), each in the state the dump has left it, the first block of
// the rows at their left and a legend below. The window draws it as blocks come, and
// decodump-cli --map writes it as an image; both with this code, each in its own words.
class BlockMap {
public:
    // One byte a block: the map of the largest range keeps about ten kilobytes.
    enum class State : quint8 { Pending, Received, BadSum, ReadAgain, Differs };
    static_assert(sizeof(State) == 1);
    static constexpr int StateCount = 5;
    // The legend's words for each state, in the order of State.
    using Labels = std::array<QString, StateCount>;

    // What is known of one block, as it arrives or as the ledger keeps it.
    struct Facts {
        bool inFile = false;     // it came (live), or the ledger vouches for its record
        bool sumOk = true;       // its sum was right
        bool readAgain = false;  // a repair wrote it
        bool differs = false;    // a verification found the device's block unlike the record
        bool uncompared = false; // a verification read it but had no record to compare with
    };
    // A block's state: one rule for the live map and the map from a ledger.
    static State stateOf(const Facts& facts);
    // The state a cell shared by blocks in states a and b shows: the one that asks more of the
    // operator (the order is in blockmap.cpp, with its reasons).
    static State worse(State a, State b);

    BlockMap() = default;
    // Every block of the range still to come. A range is kept to the count a dump can hold.
    explicit BlockMap(const BlockRange& range);
    // The blocks as the ledger describes the file: the records it vouches for received (read
    // again, where a repair wrote them), its bad blocks bad, the blocks a verification found
    // differing, the rest still to come.
    static BlockMap fromLedger(const Ledger& ledger);

    const BlockRange& range() const { return m_range; }
    State state(qint64 block) const;
    // The worst state of the blocks (see worse()), those outside the range left out.
    State worstOf(const BlockRange& blocks) const;
    // False for a block outside the range.
    bool set(qint64 block, State state);

    // The fill of a cell in each state, told apart by deuteranopes and protanopes too, and
    // pending cells at 3:1 at least against the window's and the image's backgrounds.
    static QColor color(State state);
    // A block number as the row labels and the image's title write it: with leading zeros to
    // four digits, or to five for a range that reaches past 9999.
    QString number(qint64 block) const;

    // Where things go when the map is drawn into `area`: row labels at the left, the cells
    // MinPitch to MaxPitch pixels apart in rows of 64 or more (a multiple of 16, as the width
    // lets), the legend below.
    // When the range has more blocks than cells of MinPitch fit, consecutive blocks share a
    // cell: as few a cell as lets them all fit, the same for every cell of the map.
    static constexpr int MinPitch = 6;
    static constexpr int MaxPitch = 9;
    static constexpr int LegendHeight = 18;
    // The image's title line, above the map.
    static constexpr int TitleHeight = 20;
    // The cell of the block's group; empty outside the range.
    QRect cellRect(qint64 block, const QRect& area) const;
    // The first block of the cell under the point.
    std::optional<qint64> blockAt(const QPoint& point, const QRect& area) const;
    // The blocks that share the block's cell; empty outside the range.
    BlockRange cellBlocks(qint64 block, const QRect& area) const;

    // Draws the cells and row labels that meet `exposed` (all of them by default) and the
    // legend, in black on a light background the caller has painted.
    void paint(QPainter& painter, const QRect& area, const Labels& labels,
               const QRect& exposed = {}) const;
    // The whole map as an image of the given width on white, every block in its own cell,
    // under a title line when there is one, for a file.
    QImage image(int width, const Labels& labels, const QString& title = {}) const;

private:
    struct Layout {
        QRect cells; // the rows of cells, row labels left of it
        int pitch = MinPitch;
        int columns = 0;
        int group = 1; // blocks a cell
        int rows = 0;
        int labelEvery = 1; // rows from one label to the next
    };
    Layout layout(const QRect& area) const;
    int gutter() const;
    std::optional<QRect> cellAt(const Layout& at, qint64 cell) const;

    BlockRange m_range;
    QList<State> m_states;
};
