#include "simerror.h"

SimError::SimError(Kind kind, const std::string& message, int signalNumber)
    : std::runtime_error(message), m_kind(kind), m_signalNumber(signalNumber) {}

int SimError::exitStatus() const {
    switch (m_kind) {
    case Kind::Protocol:
    case Kind::ToolClosedPort:
        return 1;
    case Kind::Usage:
        return 2;
    case Kind::Timeout:
        return 3;
    case Kind::System:
        return 4;
    case Kind::Stopped:
        return 128 + m_signalNumber;
    }
    return 1;
}

SimError SimError::explained(const std::string& circumstances) const {
    if (m_kind == Kind::Stopped) {
        return *this;
    }
    return SimError(m_kind, what() + circumstances, m_signalNumber);
}
