#include "receivermodel.h"

void ReceiverModel::sent(std::string_view bytes) {
    for (const char byte : bytes) {
        m_pending.push_back(static_cast<unsigned char>(byte));
    }
}

std::optional<ReceiverModel::Frame> ReceiverModel::takeFrame() {
    if (m_pending.size() < FrameSize) {
        return std::nullopt;
    }
    Frame frame;
    frame.data.assign(m_pending.begin(), m_pending.begin() + DataSize);
    unsigned sum = 0;
    for (const char byte : frame.data) {
        sum += static_cast<unsigned char>(byte);
    }
    frame.sum = static_cast<unsigned char>(sum);
    frame.sumByte = m_pending[DataSize];
    m_total += sum;
    m_pending.erase(m_pending.begin(), m_pending.begin() + FrameSize);
    return frame;
}

std::optional<ReceiverModel::Total> ReceiverModel::takeTotal() {
    if (m_pending.empty()) {
        return std::nullopt;
    }
    const Total total{m_pending.front(), static_cast<unsigned char>(m_total)};
    m_pending.pop_front();
    return total;
}
