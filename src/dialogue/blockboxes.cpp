#include "blockboxes.h"

#include "numeric.h"

#include <optional>

BlockBoxes BlockBoxes::read(const QString& firstBlockText, const QString& countText) {
    BlockBoxes boxes;
    const std::optional<qint32> first = wholeNumber(numericValue(firstBlockText));
    const std::optional<qint32> count = wholeNumber(numericValue(countText));
    if (!first || *first < 0 || *first > BlockRange::LargestFirst) {
        boxes.problem = Problem::FirstBlock;
        return boxes;
    }
    if (!count || *count < 1 || *count > BlockRange::LargestCount) {
        boxes.problem = Problem::Count;
        return boxes;
    }
    boxes.range = {*first, *count};
    return boxes;
}
