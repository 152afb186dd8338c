#pragma once

// What decodump-cli returns to the shell.
enum ExitStatus : int {
    // every record there with a good sum and vouched for by a total (a verification: identical)
    ExitComplete = 0,
    // ran to the end, but a total differed, blocks failed their sum, or records were never
    // checked by a total (a verification: different)
    ExitIncomplete = 1,
    ExitUsage = 2,         // bad command line
    ExitPortOrFile = 3,    // the port or a file could not be used
    ExitTimeoutOrLost = 4, // the loader fell silent or the device went away
    ExitInterrupted = 130, // SIGINT or SIGTERM
};
