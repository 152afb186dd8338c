#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the event loop: the handler only writes the
// signal's number into a socket pair, and a notifier on the other end reads it.
// One instance at a time.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    static const char* nameOf(int signalNumber);

Q_SIGNALS:
    void signalled(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};
