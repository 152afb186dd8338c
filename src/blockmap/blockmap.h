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

// The picture of a dump's blocks: one cell per block of its range, in rows of 64, each in the
// state the dump has left it, and a legend below. The window draws it as blocks come, and
// decodump-cli --map writes it as an image; both with this code, each in its own words.
class BlockMap {
public:
    // One byte a block: the map of the largest range keeps about ten kilobytes.
    enum class State : quint8 { Pending, Received, BadSum, ReadAgain, Differs };
    static_assert(sizeof(State) == 1);
    static constexpr int StateCount = 5;
    static constexpr int Columns = 64;
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

    BlockMap() = default;
    // Every block of the range still to come. A range is kept to the count a dump can hold.
    explicit BlockMap(const BlockRange& range);
    // The blocks as the ledger describes the file: the records it vouches for received (read
    // again, where a repair wrote them), its bad blocks bad, the blocks a verification found
    // differing, the rest still to come.
    static BlockMap fromLedger(const Ledger& ledger);

    const BlockRange& range() const { return m_range; }
    State state(qint64 block) const;
    // False for a block outside the range.
    bool set(qint64 block, State state);

    // The fill of a cell in each state, told apart by deuteranopes and protanopes too, and
    // pending cells at 3:1 at least against the window's and the image's backgrounds. The
    // cells of a bad sum and of a difference carry a mark inside besides.
    static QColor color(State state);

    // Where things go when the map is drawn into `area`: the cells as large as fit, at most
    // MaxPitch pixels apart, and the legend below them.
    static constexpr int MaxPitch = 9;
    static constexpr int LegendHeight = 18;
    QRect cellRect(qint64 block, const QRect& area) const;
    std::optional<qint64> blockAt(const QPoint& point, const QRect& area) const;

    // Draws the cells that meet `exposed` (all of them by default) and the legend.
    void paint(QPainter& painter, const QRect& area, const Labels& labels,
               const QRect& exposed = {}) const;
    // The whole map as an image of the given width, for a file.
    QImage image(int width, const Labels& labels) const;

private:
    int rows() const;
    int pitch(const QRect& area) const;

    BlockRange m_range;
    QList<State> m_states;
};
