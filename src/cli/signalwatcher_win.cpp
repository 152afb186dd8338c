#include "signalwatcher.h"

#include <QMetaObject>

#include <windows.h>

#include <csignal>

namespace {

SignalWatcher* watcher = nullptr;

BOOL WINAPI onConsoleControl(DWORD event) {
    const int signalNumber = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (!watcher)
        return FALSE;
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
}

const char* SignalWatcher::nameOf(int signalNumber) {
    return signalNumber == SIGTERM ? "SIGTERM" : "SIGINT";
}

void SignalWatcher::readSignal() {}
