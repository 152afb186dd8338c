#include "clirun.h"

#include "eventwait.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

constexpr int RunTimeoutMs = 30000;

// The program's standard error on a pseudo-terminal of the test's own, read as it comes.
class TerminalCapture {
public:
    TerminalCapture() {
        winsize size{};
        size.ws_col = 100;
        size.ws_row = 30;
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, &size) != 0)
            return;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        // Only the standard error the child is given may stay open in it.
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { drain(); });
    }
    ~TerminalCapture() {
        m_notifier.reset();
        closeSlave();
        if (m_master >= 0)
            ::close(m_master);
    }
    TerminalCapture(const TerminalCapture&) = delete;
    TerminalCapture& operator=(const TerminalCapture&) = delete;

    bool ok() const { return m_master >= 0; }
    int slave() const { return m_slave; }
    // Once the child holds the terminal, the test's copy of its end must go: the master then
    // sees the end of the output when the child exits.
    void closeSlave() {
        if (m_slave >= 0)
            ::close(m_slave);
        m_slave = -1;
    }
    void drain() {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got > 0) {
                m_bytes.append(buffer, got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0 || errno != EAGAIN)
                m_notifier->setEnabled(false); // EIO: the child's end has closed
            return;
        }
    }
    QByteArray bytes() const { return m_bytes; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_bytes;
};

} // namespace

QString cliProgram() {
    return qEnvironmentVariable("DECODUMP_BIN") + QStringLiteral("/decodump-cli");
}

CliRun runCli(const QStringList& arguments, const CliRunOptions& options) {
    CliRun run;
    QProcess process;
    TerminalCapture terminal;
    const bool onTerminal = options.onTerminal;
    if (onTerminal && !terminal.ok()) {
        run.errors = QStringLiteral("no pseudo-terminal for standard error");
        return run;
    }
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    if (onTerminal || options.childSetup) {
        const int slave = onTerminal ? terminal.slave() : -1;
        process.setChildProcessModifier([slave, setup = options.childSetup] {
            if (slave >= 0)
                ::dup2(slave, STDERR_FILENO);
            if (setup)
                setup();
        });
    }
    QByteArray piped;
    const auto errors = [&] {
        piped += process.readAllStandardError();
        if (onTerminal)
            terminal.drain();
        return QString::fromUtf8(onTerminal ? terminal.bytes() : piped);
    };

    QElapsedTimer clock;
    clock.start();
    process.start(options.program.isEmpty() ? cliProgram() : options.program, arguments);
    terminal.closeSlave();
    run.ended = waitFor(
        [&] {
            if (options.onOutput)
                options.onOutput(errors());
            return process.state() == QProcess::NotRunning;
        },
        RunTimeoutMs);
    run.elapsedMs = clock.elapsed();
    if (!run.ended) {
        process.kill();
        process.waitForFinished();
    }
    QString text = errors();
    if (onTerminal) {
        text.remove(QStringLiteral("\r\033[K"));
        text.remove(QLatin1Char('\r'));
    }
    run.errors = text;
    run.output = process.readAllStandardOutput();
    run.exitStatus = process.exitStatus();
    if (run.ended && run.exitStatus == QProcess::NormalExit)
        run.status = process.exitCode();
    return run;
}
