#include "stopsignals.h"

#include "simerror.h"

namespace {
volatile sig_atomic_t g_stopSignal = 0;
sigset_t g_waitMask;

void onStopSignal(int signalNumber) {
    g_stopSignal = signalNumber;
}
} // namespace

void StopSignals::install() {
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSet, &g_waitMask);
    sigdelset(&g_waitMask, SIGTERM);
    sigdelset(&g_waitMask, SIGINT);

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A reader that went away must not kill the simulator in the middle of its clean-up.
    signal(SIGPIPE, SIG_IGN);
}

const sigset_t* StopSignals::waitMask() {
    return &g_waitMask;
}

void StopSignals::throwIfStopped() {
    if (g_stopSignal != 0) {
        const int signalNumber = g_stopSignal;
        throw SimError(SimError::Kind::Stopped,
                       signalNumber == SIGINT ? "interrupted (SIGINT)" : "terminated (SIGTERM)",
                       signalNumber);
    }
}
