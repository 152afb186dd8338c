#pragma once

#include "portfailure.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>
#include <stdexcept>

class WireTrace;

// Raised by setPortOpen(true) when the device cannot be opened; failure() is what happened and
// what() its technical text. Each front end words the failure (lastFailure()) in its language.
class PortOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    PortOpenError(const PortFailure& failure, const QString& description)
        : std::runtime_error(description.toStdString()), m_failure(failure) {}

    const PortFailure& failure() const { return m_failure; }

private:
    PortFailure m_failure;
};

// The serial control the dialogue talks through. Every byte is one character both ways.
// The receive side lives here, so the real adapter and the in-memory fake raise receive events
// exactly alike; a subclass only opens, closes and writes its device and hands over what it
// received through deliver().
class CommControl : public QObject {
    Q_OBJECT
public:
    static constexpr int comEvReceive = 2;
    static constexpr int comEvDeviceLost = 1001;
    static constexpr int BaudRate = 115200;

    explicit CommControl(QObject* parent = nullptr);
    ~CommControl() override;

    int CommPort() const { return m_commPort; }
    void setCommPort(int port) { m_commPort = port; }

    bool PortOpen() const { return m_open; }
    // Opening throws PortOpenError. Closing drops whatever was still buffered.
    void setPortOpen(bool open);

    // Queues the bytes for sending, in order. Ignored while the port is closed.
    void setOutput(const QByteArray& text);

    // Removes and returns up to InputLen waiting bytes (all of them when InputLen is 0).
    QByteArray Input();
    int InputLen() const { return m_inputLen; }
    void setInputLen(int length) { m_inputLen = length; }
    int InBufferCount() const { return static_cast<int>(m_rx.size() - m_rxPos); }

    // 0: no receive events; n > 0: a receive event while at least n bytes are waiting, which
    // with n = 1 is one event per received byte as long as the handler reads one each time.
    int RThreshold() const { return m_rThreshold; }
    void setRThreshold(int threshold) { m_rThreshold = threshold; }

    int CommEvent() const { return m_commEvent; }

    // The receiver takes `bytes` at once (a frame) as soon as that many are waiting; 0 (after
    // opening, and once it has taken input): it takes whatever comes. The port may then hold
    // back waking the receiver until they can all be there, but never delays the last of them.
    void expectInput(int bytes);

    // The device the current CommPort stands for (a path on Linux).
    virtual QString deviceName() const = 0;

    // Records every byte both ways into the trace, its clock started when the port opens; null
    // records nothing. The trace must outlive the port's use of it.
    void setTrace(WireTrace* trace) { m_trace = trace; }
    // When not empty, this device is opened instead of the one CommPort stands for: a port the
    // system reports beyond COM1 to COM4, or a path given on the command line.
    QString devicePath() const { return m_devicePath; }
    void setDevicePath(const QString& path) { m_devicePath = path; }

    // What went wrong last, opening the device or while it was open; none when the device gave
    // no kind of failure (the last opening failed for a reason of its own, in what()).
    const std::optional<PortFailure>& lastFailure() const { return m_lastFailure; }

Q_SIGNALS:
    void OnComm();
    // Raised after every arrival of bytes, whatever RThreshold is: the block transfer waits on it.
    void inputArrived();
    // Each arrival as it came, before its receive events: for watching the line (the bytes are
    // still to be taken with Input()).
    void bytesArrived(const QByteArray& bytes);
    // The port went from open to closed, by setPortOpen(false) or because the device went away.
    void closed();
    // The device went away while open. Raised once, before closed(); the port is already closed
    // when it arrives. The description is technical: lastFailure() tells the kind.
    void deviceLost(const QString& description);

protected:
    virtual void openDevice() = 0;
    // The bytes still to come before the receiver takes what it expects: 0 when it takes
    // whatever comes. By default nothing is done with it.
    virtual void dueChanged(int due);
    virtual void closeDevice() = 0;
    virtual void writeDevice(const QByteArray& bytes) = 0;

    // Called by the subclass with every chunk it received, in arrival order.
    void deliver(const QByteArray& bytes);
    // Called by the subclass when its device vanished; closes the port and reports it once.
    void lose(const QString& description);
    void lose(const PortFailure& failure);
    // Throws the PortOpenError for a device that could not be opened.
    [[noreturn]] void refuseOpen(const PortFailure& failure);

private:
    void raiseEvents();
    void clearInput();
    void updateDue();

    WireTrace* m_trace = nullptr;

    int m_commPort = 1;
    QString m_devicePath;
    std::optional<PortFailure> m_lastFailure;
    bool m_open = false;
    int m_inputLen = 1;
    int m_rThreshold = 1;
    int m_commEvent = 0;
    QByteArray m_rx;
    qsizetype m_rxPos = 0;
    quint64 m_arrivals = 0;
    int m_expected = 0;
    int m_due = 0;
    bool m_delivering = false;
};
