#pragma once

#include "blockrange.h"

#include <QString>

// The first-block and block-count boxes read as the transfer reads them: each made a whole
// number (halves to even), the first block from 0 and the count from 1, neither above the four
// digits the loader is told (BlockRange's limits). Anything else is refused before arming, and
// the operator is told which box is wrong.
class BlockBoxes {
public:
    enum class Problem { None, FirstBlock, Count };

    static BlockBoxes read(const QString& firstBlockText, const QString& countText);

    bool ok() const { return problem == Problem::None; }

    Problem problem = Problem::None;
    BlockRange range; // when ok()
};
