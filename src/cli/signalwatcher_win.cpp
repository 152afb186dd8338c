#include "signalwatcher.h"

#include "exitstatus.h"

#include <QMetaObject>

#include <windows.h>

#include <csignal>

namespace {

SignalWatcher* watcher = nullptr;
volatile LONG deferred = 0;

BOOL WINAPI onConsoleControl(DWORD event) {
    const int signalNumber = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (!watcher)
        return FALSE;
    if (!deferred)
        ::ExitProcess(ExitInterrupted);
    // Runs on a thread Windows starts for the handler: hand the signal to the event loop.
    QMetaObject::invokeMethod(
        watcher, [signalNumber] { Q_EMIT watcher->signalled(signalNumber); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    watcher = this;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

SignalWatcher::~SignalWatcher() {
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    watcher = nullptr;
    deferred = 0;
}

const char* SignalWatcher::nameOf(int signalNumber) {
    return signalNumber == SIGTERM ? "SIGTERM" : "SIGINT";
}

void SignalWatcher::deferToEventLoop() {
    deferred = 1;
}

void SignalWatcher::readSignal() {}
