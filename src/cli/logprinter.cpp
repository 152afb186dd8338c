#include "logprinter.h"

#include <utility>

LogPrinter::LogPrinter(std::function<void(const QString&)> printLine)
    : m_printLine(std::move(printLine)) {}

void LogPrinter::append(const QString& piece) {
    if (piece == u"o") {
        m_line += u'.';
        m_lineEndsInMarker = true;
        return;
    }
    for (const QChar c : piece) {
        if (c == u'\r')
            continue;
        if (c == u'\n') {
            endLine();
            continue;
        }
        if (m_lineEndsInMarker) {
            m_line += u' '; // a note that follows the markers on their line
            m_lineEndsInMarker = false;
        }
        m_line += c;
    }
}

void LogPrinter::flush() {
    endLine();
}

void LogPrinter::endLine() {
    if (!m_line.isEmpty())
        m_printLine(m_line);
    m_line.clear();
    m_lineEndsInMarker = false;
}
