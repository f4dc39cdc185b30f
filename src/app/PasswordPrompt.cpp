#include "app/PasswordPrompt.h"

#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <QCoroSignal>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace sendova {

PasswordPrompt::PasswordPrompt() = default;

PasswordPrompt::~PasswordPrompt()
{
    restoreTerminal();
}

QCoro::Task<std::optional<QString>> PasswordPrompt::read(QString prompt)
{
    if (::isatty(STDIN_FILENO)) {
        termios saved{};
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            m_savedTerminal = saved;
            // A second Ctrl-C ends the process from the signal handler; the
            // user's shell must not be left without echo.
            TerminationSignals::setTerminalToRestore(&saved);
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
        // Only now: a user quick to type must not see the password echoed.
        std::fputs(prompt.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    // A closed standard input would never become readable.
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0)
        co_return std::nullopt;
    m_notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PasswordPrompt::readAvailable);
    // The notifier only fires from the event loop, which runs once this waits.
    auto ending = qCoro(this, &PasswordPrompt::ended);
    co_await std::move(ending);

    const bool echoWasOff = m_savedTerminal.has_value();
    restoreTerminal();
    if (echoWasOff) {
        // The user's Return was not echoed either.
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    if (m_failed || (!m_complete && m_line.isEmpty()))
        co_return std::nullopt;
    co_return QString::fromLocal8Bit(m_line);
}

void PasswordPrompt::abandon()
{
    if (!m_notifier)
        return;
    stopWatching();
    const bool echoWasOff = m_savedTerminal.has_value();
    restoreTerminal();
    if (echoWasOff) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
}

void PasswordPrompt::readAvailable()
{
    char buffer[512];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count > 0) {
        m_line.append(buffer, count);
        const qsizetype end = m_line.indexOf('\n');
        if (end < 0)
            return;
        m_line.truncate(end);
        m_complete = true;
    } else {
        m_failed = count < 0;
    }
    stopWatching();
    Q_EMIT ended();
}

void PasswordPrompt::stopWatching()
{
    // Called from the notifier's own signal, so it goes once that returns.
    m_notifier->setEnabled(false);
    m_notifier.release()->deleteLater();
}

void PasswordPrompt::restoreTerminal()
{
    if (!m_savedTerminal)
        return;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &*m_savedTerminal);
    TerminationSignals::setTerminalToRestore(nullptr);
    m_savedTerminal.reset();
}

} // namespace sendova
