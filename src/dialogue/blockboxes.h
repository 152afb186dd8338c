#pragma once

#include "blockrange.h"

#include <QString>

// The first-block and block-count boxes read as the transfer reads them: each made a whole
// number (halves to even), the first block from 0 and the count from 1, the last block within
// 32 bits. Anything else is refused before arming, and the operator is told which box is wrong.
class BlockBoxes {
public:
    enum class Problem { None, FirstBlock, Count, LastBlock };
    // The largest first block, count and last block the boxes may give.
    static constexpr qint32 Largest = 2147483647;

    static BlockBoxes read(const QString& firstBlockText, const QString& countText);

    bool ok() const { return problem == Problem::None; }

    Problem problem = Problem::None;
    BlockRange range; // when ok()
};
