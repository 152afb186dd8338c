#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the operator's stop requests (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT; on Windows the
// console's Ctrl-C, Ctrl-Break and close) into a Qt signal on the event loop. One instance at a
// time. Until deferToEventLoop() nothing is at stake: a request ends the program at once with
// the interrupted status, wherever it waits.
// signalwatcher_unix.cpp: the handler only writes the signal's number into a socket pair, and a
// notifier on the other end reads it. signalwatcher_win.cpp: a console control handler, which
// Windows runs on a thread of its own, queues the signal to the watcher's thread.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    static const char* nameOf(int signalNumber);
    // From now on a request is handled by the event loop, through signalled().
    void deferToEventLoop();

Q_SIGNALS:
    void signalled(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};
