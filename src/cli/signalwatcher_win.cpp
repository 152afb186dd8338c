#include "signalwatcher.h"

#include "exitstatus.h"

#include <QMetaObject>

#include <windows.h>

#include <csignal>

namespace {

SignalWatcher* watcher = nullptr;
volatile LONG deferred = 0;
// Set once the watcher is gone, when the run has written what it had.
HANDLE finished = nullptr;

// Windows ends the program about five seconds after a console is closed (or the user logs off)
// whatever the handler does; a little less is waited for the run to stop.
constexpr DWORD closingWaitMs = 4500;

BOOL WINAPI onConsoleControl(DWORD event) {
    const int signalNumber = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (!watcher)
        return FALSE;
    if (!deferred)
        ::ExitProcess(ExitInterrupted);
    // Runs on a thread Windows starts for the handler: hand the signal to the event loop.
    QMetaObject::invokeMethod(
        watcher, [signalNumber] { Q_EMIT watcher->signalled(signalNumber); }, Qt::QueuedConnection);
    // After these events the process ends as soon as the handler returns: the run is given the
    // time to keep its records and write its ledger first.
    // Once it has, the main thread is on its way out with the interrupted status, which
    // returning here would replace.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (::WaitForSingleObject(finished, closingWaitMs) == WAIT_OBJECT_0)
            ::Sleep(closingWaitMs);
    }
    return TRUE;
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    watcher = this;
    finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

SignalWatcher::~SignalWatcher() {
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    watcher = nullptr;
    deferred = 0;
    // The handle stays open: a handler still waiting on it ends the program next.
    ::SetEvent(finished);
}

const char* SignalWatcher::nameOf(int signalNumber) {
    return signalNumber == SIGTERM ? "SIGTERM" : "SIGINT";
}

void SignalWatcher::deferToEventLoop() {
    deferred = 1;
}

void SignalWatcher::readSignal() {}
