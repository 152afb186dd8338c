#include "receivermodel.h"

void ReceiverModel::sent(std::string_view bytes) {
    for (const char byte : bytes) {
        m_pending.push_back(static_cast<unsigned char>(byte));
    }
}

bool ReceiverModel::takeFrame() {
    if (m_pending.size() < FrameSize) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < 1024; ++i) {
        sum += m_pending[i];
    }
    const bool sumMatches = (sum & 0xFF) == m_pending[1024];
    m_total += sum;
    m_pending.erase(m_pending.begin(), m_pending.begin() + FrameSize);
    return sumMatches;
}

bool ReceiverModel::takeTotal() {
    if (m_pending.empty()) {
        return false;
    }
    const unsigned char total = m_pending.front();
    m_pending.pop_front();
    return total == (m_total & 0xFF);
}
