#pragma once

#include <signal.h>

// SIGTERM and SIGINT end the simulator through the normal clean-up path. The signals stay
// blocked except inside the simulator's waits (ppoll with waitMask()), so none can slip in
// between a check and a wait.
class StopSignals {
public:
    static void install();
    static const sigset_t* waitMask();
    // Throws SimError(Stopped) once a stop signal has arrived.
    static void throwIfStopped();
};
