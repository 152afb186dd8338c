#include "blockrange.h"

#include "numeric.h"

#include <limits>
#include <optional>

namespace {

constexpr qint64 Largest = std::numeric_limits<qint32>::max();

} // namespace

BlockRange BlockRange::read(const QString& firstBlockText, const QString& countText) {
    BlockRange range;
    range.m_firstBlockText = firstBlockText;
    range.m_countText = countText;
    const std::optional<qint32> first = wholeNumber(numericValue(firstBlockText));
    const std::optional<qint32> count = wholeNumber(numericValue(countText));
    if (!first || *first < 0) {
        range.problem = Problem::FirstBlock;
        return range;
    }
    if (!count || *count < 1) {
        range.problem = Problem::Count;
        return range;
    }
    const qint64 last = qint64(*first) + *count - 1;
    if (last > Largest) {
        range.problem = Problem::LastBlock;
        return range;
    }
    range.first = *first;
    range.count = *count;
    range.last = static_cast<qint32>(last);
    return range;
}

QString BlockRange::spanishReason() const {
    switch (problem) {
    case Problem::None:
        return {};
    case Problem::FirstBlock:
        return QStringLiteral("El bloque inicial \"%1\" no es un número entero de 0 a %2.")
            .arg(m_firstBlockText)
            .arg(Largest);
    case Problem::Count:
        return QStringLiteral("El número de bloques \"%1\" no es un número entero de 1 a %2.")
            .arg(m_countText)
            .arg(Largest);
    case Problem::LastBlock:
        return QStringLiteral("El último bloque (bloque inicial %1 más %2 bloques) pasa de %3.")
            .arg(m_firstBlockText, m_countText)
            .arg(Largest);
    }
    return {};
}
