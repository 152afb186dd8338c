#pragma once

#include "commcontrol.h"

#include <memory>
#include <vector>

// The serial control over a Windows serial port (COMn, opened as \\.\COMn): 115200 baud, 8 data
// bits, no parity, 1 stop bit, binary, no flow control, DTR on and RTS off while open. Reads and
// writes are overlapped; their completion events are watched from the event loop. A device that
// goes away while open closes the port and is reported once.
class WinCommControl : public CommControl {
    Q_OBJECT
public:
    explicit WinCommControl(QObject* parent = nullptr);
    ~WinCommControl() override;

    QString deviceName() const override;

protected:
    void openDevice() override;
    void closeDevice() override;
    void writeDevice(const QByteArray& bytes) override;
    // While a frame is due, a read asks for all of it at once, with a deadline from the line rate.
    void dueChanged(int due) override;

private:
    // A system error code (a DWORD), kept here so that this header does without <windows.h>.
    using Error = unsigned long;
    // One overlapped operation: its OVERLAPPED, its event and the notifier watching the event.
    struct Operation;

    // Each returns ERROR_SUCCESS once the operation is under way, else the system's error.
    Error startRead();
    Error startWrite();
    void readDone();
    void writeDone();
    // Takes the result of the write that ended; false when it failed (m_writeError) or has not
    // ended yet (still pending).
    bool completeWrite();
    bool applyTimeouts(int frameBytes);
    void finishPending(Operation& operation);
    void drainOutput();
    // Reports the loss of the device: Gone when the error says it left the system, else kind.
    void fail(PortFailure::Kind kind, Error error);
    QString targetName() const;

    void* m_handle = nullptr; // the open device's HANDLE; null while closed
    QString m_openDevice;
    // Their OVERLAPPEDs and the buffers below stay in place while an operation is pending.
    std::unique_ptr<Operation> m_read;
    std::unique_ptr<Operation> m_write;
    std::vector<char> m_readBuffer;
    QByteArray m_writing; // the bytes of the write in flight; they must live until it completes
    QByteArray m_outQueue;
    int m_due = 0;
    // The timeouts last given to the device: 0 while none yet, else the deadline of a frame read
    // in ms, or -1 for reads of whatever comes.
    int m_timeoutsFor = 0;
    Error m_writeError = 0;
    // The device failed: closing does not wait for output to leave.
    bool m_failed = false;
};
