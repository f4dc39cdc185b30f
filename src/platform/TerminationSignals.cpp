#include "platform/TerminationSignals.h"

#include <QList>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sendova {

namespace {

// Everything the handler touches: a pipe, a counter and a terminal state,
// all usable from a signal handler.
int signalPipe[2] = {-1, -1};
std::atomic<int> signalsSeen{0};
std::atomic<bool> terminalSaved{false};
termios savedTerminal{};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void onSignal(int signalNumber)
{
    if (signalsSeen.fetch_add(1) > 0) {
        if (terminalSaved.load())
            ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        ::_exit(TerminationSignals::exitCodeFor(signalNumber));
    }
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

struct TerminationSignals::Installed
{
    QList<int> numbers;
    QList<struct sigaction> previous;
    std::unique_ptr<QSocketNotifier> notifier;
};

TerminationSignals::TerminationSignals(std::initializer_list<int> signalNumbers, QObject *parent)
    : QObject(parent), m_installed(std::make_unique<Installed>())
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    signalsSeen = 0;
    m_installed->notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(m_installed->notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::deliver);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t handled;
    sigemptyset(&handled);
    for (const int number : signalNumbers) {
        struct sigaction previous = {};
        ::sigaction(number, &action, &previous);
        m_installed->numbers.append(number);
        m_installed->previous.append(previous);
        sigaddset(&handled, number);
    }
    // A caller that blocked them (to deliver one only once we are ready)
    // passes that mask on to us.
    ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    for (qsizetype i = 0; i < m_installed->numbers.size(); ++i)
        ::sigaction(m_installed->numbers[i], &m_installed->previous[i], nullptr);
    m_installed->notifier.reset();
    for (int &end : signalPipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void TerminationSignals::setTerminalToRestore(const termios *state)
{
    terminalSaved = false;
    if (!state)
        return;
    savedTerminal = *state;
    terminalSaved = true;
}

void TerminationSignals::deliver()
{
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        Q_EMIT received(int(byte));
}

} // namespace sendova
