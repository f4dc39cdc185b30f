#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <QCoroTask>

#include <memory>
#include <optional>

#include <termios.h>

class QSocketNotifier;

namespace sendova {

// One line of standard input, read as it arrives rather than with a blocking
// read, so that the event loop (and with it Ctrl-C) keeps running while the
// user types. On a terminal the prompt goes to standard error and echo is
// off until the line ends or the prompt is abandoned.
class PasswordPrompt : public QObject
{
    Q_OBJECT

public:
    PasswordPrompt();
    ~PasswordPrompt() override;

    // The line without its end; nothing when the input ends or fails first.
    // prompt is shown only when standard input is a terminal.
    QCoro::Task<std::optional<QString>> read(QString prompt);

    // Gives the terminal back as it was and ends the prompt's line; the
    // pending read never completes.
    void abandon();

Q_SIGNALS:
    void ended();

private:
    void readAvailable();
    void stopWatching();
    void restoreTerminal();

    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_line;
    bool m_complete = false;
    bool m_failed = false;
    std::optional<termios> m_savedTerminal;
};

} // namespace sendova
