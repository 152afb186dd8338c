#include "dispatcherinput.h"

#include <array>

namespace {

// Arrival limits from one byte per arrival to a frame and more at once.
constexpr std::array<qsizetype, 8> ArrivalLimits{1, 2, 5, 13, 64, 517, 1032, 8192};

} // namespace

DispatcherInput::DispatcherInput(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    const auto byte = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };
    const auto latin1 = [&](int length) {
        QString text;
        for (int i = 0; i < length && pos < size; ++i)
            text += QChar(data[pos++]);
        return text;
    };

    m_flags = byte();
    const int startLength = byte() % (MaxEntryLength + 1);
    const int countLength = byte() % (MaxEntryLength + 1);
    m_startBlock = latin1(startLength);
    m_blockCount = latin1(countLength);
    const std::uint8_t arrivals = byte();
    m_maxArrival = ArrivalLimits[arrivals % ArrivalLimits.size()];
    m_random = 0x9e3779b9u ^ arrivals;
    const std::uint8_t close = byte();
    m_received =
        QByteArray(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(size - pos));
    m_closeAt = m_received.size() * close / 255;
}

qsizetype DispatcherInput::nextArrivalSize() {
    // xorshift32: a cheap, reproducible variation of the arrival sizes.
    m_random ^= m_random << 13;
    m_random ^= m_random >> 17;
    m_random ^= m_random << 5;
    return 1 + static_cast<qsizetype>(m_random % static_cast<std::uint32_t>(m_maxArrival));
}
