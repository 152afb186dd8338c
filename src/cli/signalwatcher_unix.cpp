#include "signalwatcher.h"

#include "exitstatus.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace {

std::array<int, 2> wakePair{-1, -1}; // [0] written by the handler, [1] read by the notifier
constexpr std::array<int, 4> WatchedSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile std::sig_atomic_t deferred = 0;

void onSignal(int signalNumber) {
    if (!deferred)
        ::_exit(ExitInterrupted);
    const int savedErrno = errno;
    const auto byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t ignored = ::write(wakePair[0], &byte, 1);
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakePair.data()) != 0)
        return; // without the pair the signals keep their default action
    m_notifier = new QSocketNotifier(wakePair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
    for (const int signalNumber : WatchedSignals)
        setHandler(signalNumber, onSignal);
}

SignalWatcher::~SignalWatcher() {
    if (!m_notifier)
        return;
    for (const int signalNumber : WatchedSignals)
        setHandler(signalNumber, SIG_DFL);
    deferred = 0;
    delete m_notifier;
    ::close(wakePair[0]);
    ::close(wakePair[1]);
    wakePair = {-1, -1};
}

const char* SignalWatcher::nameOf(int signalNumber) {
    switch (signalNumber) {
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    default:
        return "SIGINT";
    }
}

void SignalWatcher::deferToEventLoop() {
    deferred = 1;
}

void SignalWatcher::readSignal() {
    char byte = 0;
    while (::read(wakePair[1], &byte, 1) == 1)
        Q_EMIT signalled(static_cast<unsigned char>(byte));
}
