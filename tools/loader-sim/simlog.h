#pragma once

#include <string>
#include <string_view>

// Progress and received bytes, in readable form, on stderr. Each line goes out in one write so
// that it never mixes with other output.
class SimLog {
public:
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // Always written: start, end, faults and errors.
    void info(std::string_view text) const;
    // Step by step progress; left out with --quiet.
    void detail(std::string_view text) const;

    // The bytes between double quotes, with CR, LF, quote, backslash and every byte outside
    // printable ASCII escaped (\r, \n, \xNN).
    static std::string quoted(std::string_view bytes);

private:
    bool m_quiet = false;
};
