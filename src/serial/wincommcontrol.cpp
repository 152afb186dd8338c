#include "wincommcontrol.h"

#include "portlog.h"
#include "portnaming.h"
#include "systemerror_win.h"

#include <QWinEventNotifier>

#include <qt_windows.h>

#include <algorithm>
#include <string>
#include <utility>

namespace {

// How long closing waits for queued output to leave, per write, before giving up on it.
constexpr DWORD drainTimeoutMs = 100;

// Fewer bytes due than this are read as they come, as on Linux: a frame read saves wake-ups
// only where a frame spans many of the pieces a UART or a USB adapter hands over.
constexpr int frameMinimum = 64;

// The most a frame read asks for.
constexpr int readBufferSize = 64 * 1024;

// The most a read of whatever comes asks for: a stream without pauses is still handed over
// every 4 KiB (0.36 s of the line).
constexpr DWORD idleReadSize = 4096;

constexpr qint64 BitsPerByte = 10; // 8N1

// A frame read's deadline is the time the line takes to carry what is due, plus an eighth for
// a sender whose clock runs slow, plus the latency timer a USB adapter holds a frame's tail for.
constexpr qint64 frameSlackMs = 16;

// The time the line takes to carry `bytes`, rounded up, with the slack above.
DWORD frameDeadlineMs(int bytes) {
    const qint64 lineMs =
        (qint64(bytes) * BitsPerByte * 1000 + CommControl::BaudRate - 1) / CommControl::BaudRate;
    return DWORD(lineMs + lineMs / 8 + frameSlackMs);
}

// While no frame is due, a read completes as soon as anything has come: after the first byte it
// waits only for a gap of a millisecond in the stream. (The documented "return at once with
// what is there" setting, MAXDWORD alone, never completes under wine.)
constexpr DWORD idleIntervalMs = 1;

// Errors an open port's I/O ends with when its device has left the system (an adapter pulled
// out, a pseudo-terminal whose other side closed under wine) or its driver gave up on it.
bool deviceRemoved(DWORD error) {
    switch (error) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED: // only seen here when the port did not cancel it itself
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
        return true;
    default:
        return false;
    }
}

// A read whose deadline passed with nothing: not a failure (wine reports it as an error).
bool nothingYet(DWORD error) {
    return error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
}

// What CreateFileW opens for a name: COM10 and above only open as \\.\COM10, so a bare device
// name gets the prefix; a path (a name with a separator or a drive) is opened as it is.
std::wstring nativePath(const QString& name) {
    const bool path = name.contains(u'\\') || name.contains(u'/') || name.contains(u':');
    return (path ? name : QStringLiteral("\\\\.\\") + name).toStdWString();
}

} // namespace

struct WinCommControl::Operation {
    // Its event is manual reset, as overlapped I/O needs; the port resets it after each end.
    Operation() { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Operation() {
        notifier.setEnabled(false);
        CloseHandle(overlapped.hEvent);
    }

    // What an overlapped ReadFile or WriteFile returned: ERROR_SUCCESS when it ended at once or
    // is under way, else the system's error, and then nothing is pending.
    DWORD started(BOOL done) {
        if (done)
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING)
            return ERROR_SUCCESS;
        pending = false;
        return error;
    }

    OVERLAPPED overlapped{};
    QWinEventNotifier notifier;
    bool pending = false;
};

WinCommControl::WinCommControl(QObject* parent)
    : CommControl(parent), m_read(std::make_unique<Operation>()),
      m_write(std::make_unique<Operation>()), m_readBuffer(readBufferSize) {
    for (Operation* operation : {m_read.get(), m_write.get()}) {
        operation->notifier.setHandle(operation->overlapped.hEvent);
        operation->notifier.setEnabled(false);
    }
    connect(&m_read->notifier, &QWinEventNotifier::activated, this, &WinCommControl::readDone);
    connect(&m_write->notifier, &QWinEventNotifier::activated, this, &WinCommControl::writeDone);
}

WinCommControl::~WinCommControl() {
    // Pending I/O still writes into the buffers and OVERLAPPEDs of this object: it is cancelled
    // and waited for before they go.
    m_failed = true;
    closeDevice();
}

QString WinCommControl::deviceName() const {
    return m_handle ? m_openDevice : targetName();
}

QString WinCommControl::targetName() const {
    return portDevice(CommPort(), devicePath());
}

void WinCommControl::openDevice() {
    const QString name = targetName();
    const HANDLE handle = CreateFileW(nativePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            refuseOpen({PortFailure::Kind::DoesNotExist, name, {}});
        case ERROR_ACCESS_DENIED: // what Windows says of a port another program holds
        case ERROR_SHARING_VIOLATION:
            refuseOpen({PortFailure::Kind::Busy, name, {}});
        default:
            refuseOpen({PortFailure::Kind::NotOpened, name, systemErrorText(error)});
        }
    }
    const auto refuse = [&] {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        refuseOpen({PortFailure::Kind::NotOpened, name, systemErrorText(error)});
    };

    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(handle, &line)) // not a serial device
        refuse();
    line.BaudRate = BaudRate;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fTXContinueOnXoff = TRUE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fRtsControl = RTS_CONTROL_DISABLE;
    // Otherwise a line error (a framing error from noise) stops all I/O until it is cleared.
    line.fAbortOnError = FALSE;
    if (!SetCommState(handle, &line))
        refuse();
    // Room for a few frames while the receiver is busy; a driver may keep its own sizes.
    SetupComm(handle, readBufferSize, 4096);
    PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    DWORD lineErrors = 0;
    ClearCommError(handle, &lineErrors, nullptr);

    m_handle = handle;
    m_openDevice = name;
    m_failed = false;
    m_due = 0;
    m_timeoutsFor = 0;
    m_read->notifier.setEnabled(true);
    m_write->notifier.setEnabled(true);
    // The port is not open yet for the contract, so a first read that cannot start is an open
    // failure.
    if (const DWORD error = startRead(); error != ERROR_SUCCESS) {
        closeDevice();
        refuseOpen({PortFailure::Kind::NotOpened, name, systemErrorText(error)});
    }
}

void WinCommControl::closeDevice() {
    if (!m_handle)
        return;
    if (!m_failed)
        drainOutput();
    // Cancelled I/O still completes into this object's buffers: each operation is waited for
    // before the handle goes, so nothing is written into them afterwards.
    CancelIoEx(m_handle, nullptr);
    finishPending(*m_read);
    finishPending(*m_write);
    CloseHandle(m_handle);
    m_handle = nullptr;
    m_read->notifier.setEnabled(false);
    m_write->notifier.setEnabled(false);
    m_writing.clear();
    m_outQueue.clear();
    m_openDevice.clear();
    m_timeoutsFor = 0;
}

void WinCommControl::finishPending(Operation& operation) {
    if (!operation.pending)
        return;
    DWORD transferred = 0;
    GetOverlappedResult(m_handle, &operation.overlapped, &transferred, TRUE);
    operation.pending = false;
    ResetEvent(operation.overlapped.hEvent);
}

void WinCommControl::drainOutput() {
    // Output still queued would be lost by closing; each wait is for one write, so a stuck
    // device costs at most one timeout per write (two: the one in flight and the rest queued).
    while (m_write->pending) {
        if (WaitForSingleObject(m_write->overlapped.hEvent, drainTimeoutMs) != WAIT_OBJECT_0)
            return;
        if (!completeWrite())
            return;
        if (m_outQueue.isEmpty() || startWrite() != ERROR_SUCCESS)
            return;
    }
}

void WinCommControl::writeDevice(const QByteArray& bytes) {
    m_outQueue += bytes;
    if (m_write->pending)
        return;
    if (const DWORD error = startWrite(); error != ERROR_SUCCESS)
        fail(PortFailure::Kind::WriteFailed, error);
}

WinCommControl::Error WinCommControl::startWrite() {
    m_writing = std::exchange(m_outQueue, QByteArray());
    m_write->pending = true;
    // Completed at once or later, the end shows in the event: writeDone() takes it from there.
    return m_write->started(WriteFile(m_handle, m_writing.constData(), DWORD(m_writing.size()),
                                      nullptr, &m_write->overlapped));
}

bool WinCommControl::completeWrite() {
    DWORD written = 0;
    if (!GetOverlappedResult(m_handle, &m_write->overlapped, &written, FALSE)) {
        m_writeError = GetLastError();
        if (m_writeError == ERROR_IO_INCOMPLETE)
            return false;
    } else {
        m_writeError = ERROR_SUCCESS;
    }
    m_write->pending = false;
    ResetEvent(m_write->overlapped.hEvent);
    if (m_writeError != ERROR_SUCCESS)
        return false;
    // No write timeout is set, so a write ends short only when the driver says so; the rest
    // goes first with the next one.
    if (qsizetype(written) < m_writing.size())
        m_outQueue.prepend(m_writing.mid(qsizetype(written)));
    m_writing.clear();
    return true;
}

void WinCommControl::writeDone() {
    if (!m_write->pending)
        return;
    if (!completeWrite()) {
        if (m_write->pending) // woken before the end (a notice left from an earlier write)
            return;
        fail(PortFailure::Kind::WriteFailed, m_writeError);
        return;
    }
    if (m_outQueue.isEmpty())
        return;
    if (const DWORD error = startWrite(); error != ERROR_SUCCESS)
        fail(PortFailure::Kind::WriteFailed, error);
}

void WinCommControl::dueChanged(int due) {
    // Taken up by the next read. A read pending now is not cancelled: one for whatever comes
    // ends with the first piece of the frame, one for a frame at its deadline, so neither
    // holds bytes for long.
    m_due = due;
}

bool WinCommControl::applyTimeouts(int frameBytes) {
    const int wanted = frameBytes > 0 ? int(frameDeadlineMs(frameBytes)) : -1;
    if (wanted == m_timeoutsFor)
        return true;
    COMMTIMEOUTS timeouts{};
    if (frameBytes > 0) {
        timeouts.ReadTotalTimeoutConstant = DWORD(wanted);
    } else {
        timeouts.ReadIntervalTimeout = idleIntervalMs;
    }
    // Writes have no timeout: the line always takes its bytes (there is no flow control).
    if (!SetCommTimeouts(m_handle, &timeouts))
        return false;
    m_timeoutsFor = wanted;
    return true;
}

WinCommControl::Error WinCommControl::startRead() {
    const int frameBytes = m_due >= frameMinimum ? std::min(m_due, readBufferSize) : 0;
    if (!applyTimeouts(frameBytes))
        return GetLastError();
    const DWORD size = frameBytes > 0 ? DWORD(frameBytes) : idleReadSize;
    m_read->pending = true;
    // Completed at once or later, the end shows in the event: readDone() takes it from there.
    return m_read->started(
        ReadFile(m_handle, m_readBuffer.data(), size, nullptr, &m_read->overlapped));
}

void WinCommControl::readDone() {
    if (!m_read->pending)
        return;
    DWORD got = 0;
    DWORD error = ERROR_SUCCESS;
    if (!GetOverlappedResult(m_handle, &m_read->overlapped, &got, FALSE)) {
        error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE) // woken before the end
            return;
    }
    m_read->pending = false;
    ResetEvent(m_read->overlapped.hEvent);
    // Delivered before the next read starts, so that it asks for what is due after these bytes;
    // what comes meanwhile waits in the driver. Bytes that came before a failure are delivered
    // too, then the loss is reported. The handler may close the port, or close and open it
    // again (which starts a read of its own on another handle).
    void* const handle = m_handle;
    if (got > 0)
        deliver(QByteArray(m_readBuffer.data(), qsizetype(got)));
    if (m_handle != handle || m_read->pending)
        return;
    if (error != ERROR_SUCCESS && !nothingYet(error)) {
        fail(PortFailure::Kind::ReadFailed, error);
        return;
    }
    if (const DWORD next = startRead(); next != ERROR_SUCCESS)
        fail(PortFailure::Kind::ReadFailed, next);
}

void WinCommControl::fail(PortFailure::Kind kind, Error error) {
    m_failed = true;
    lose(PortFailure{deviceRemoved(error) ? PortFailure::Kind::Gone : kind, m_openDevice,
                     systemErrorText(error)});
}
