#pragma once

// What decodump-cli returns to the shell.
enum ExitStatus : int {
    ExitComplete = 0,      // every block written, total matched, no bad sums
    ExitIncomplete = 1,    // ran to the end, but the total differed or blocks failed their sum
    ExitUsage = 2,         // bad command line
    ExitPortOrFile = 3,    // the port or a file could not be used
    ExitTimeoutOrLost = 4, // the loader fell silent or the device went away
    ExitInterrupted = 130, // SIGINT or SIGTERM
};
