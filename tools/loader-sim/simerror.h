#pragma once

#include <stdexcept>
#include <string>

// A reason to stop the simulator; its kind decides the exit status.
class SimError : public std::runtime_error {
public:
    enum class Kind {
        Protocol,       // the tool sent something the dialogue does not allow
        ToolClosedPort, // the tool closed the port while the loader waited for it
        Usage,          // bad command line
        Timeout,        // nothing arrived within --timeout
        System,         // a pseudo-terminal or file operation failed
        Stopped,        // SIGTERM or SIGINT
    };

    SimError(Kind kind, const std::string& message, int signalNumber = 0);

    Kind kind() const { return m_kind; }
    int exitStatus() const;

    // The same error with the circumstances appended, for callers that know what was going on;
    // a stop by signal stays as it is.
    SimError explained(const std::string& circumstances) const;

private:
    Kind m_kind;
    int m_signalNumber;
};
