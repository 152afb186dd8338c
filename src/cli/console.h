#pragma once

#include <QString>

// A character that acts on a terminal instead of showing: the C0 controls, DEL and the C1
// controls. What the command line prints spells these out.
inline bool isControlCharacter(char16_t c) {
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f);
}

// Standard error as the operator sees it. On a terminal one status line can stand below the
// printed lines and be redrawn in place; printing a line keeps it at the bottom. Elsewhere there
// is no status line, only whole lines.
class Console {
public:
    explicit Console(int fd = 2);

    bool isTerminal() const { return m_terminal; }

    void printLine(const QString& line);
    // Terminal only: replaces the status line.
    void setStatus(const QString& status);
    // Leaves the status line where it stands, as an ordinary printed line.
    void keepStatus();

private:
    void write(const QString& text);
    // What takes the status line off the screen, if one is shown.
    QString erasure() const;
    int columns() const;

    int m_fd;
    bool m_terminal;
    QString m_status;
};
