#pragma once

#include <QStringList>

// Standard error (or another descriptor) as the operating system shows it. One implementation
// file per platform: terminal_unix.cpp and terminal_win.cpp.

// A reader that went away (a closed pipe, `| head`) must not stop a dump: writes to it just fail.
void ignoreBrokenPipes();

// Standard input, output and error closed when the program started are opened on the null
// device, so that no descriptor the program opens later (a pipe of its own) takes their number
// and receives what is printed.
void keepStandardDescriptors();

// The command line as the operator typed it, the program's name first, every letter kept.
QStringList commandLine(int argc, char* argv[]);

bool isTerminal(int fd);
// Writes the text to the descriptor as UTF-8; a Windows console is written in its own UTF-16,
// with its escape sequences turned on (it would show bytes in its code page, and "\033[K" as
// text). A failing descriptor has nowhere to be reported.
void writeText(int fd, const QString& text);
// Width of the terminal in columns; 0 when it cannot be told.
int terminalColumns(int fd);
