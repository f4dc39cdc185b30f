#pragma once

#include <QObject>

#include <initializer_list>
#include <memory>

struct termios;

namespace sendova {

// Ctrl-C, SIGTERM and their kin for a program that stops cleanly. The first
// signal reaches the event loop as received(); the program then stops its
// work and leaves. Should a second one arrive before it has (a save that
// must not be cut short, a hung call), the process ends at once from the
// signal handler, with exit status 128 + signal, after putting back a
// terminal state the program registered (a password prompt turns echo off).
//
// One instance at a time per process; the handlers go when it does.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~TerminationSignals() override;

    // What a shell reports for a program that a signal ended.
    static int exitCodeFor(int signalNumber) { return 128 + signalNumber; }

    // While set, a signal that ends the process from its handler first
    // writes this state back to standard input's terminal. Null clears it.
    static void setTerminalToRestore(const termios *state);

Q_SIGNALS:
    void received(int signalNumber);

private:
    void deliver();

    struct Installed;
    std::unique_ptr<Installed> m_installed;
};

} // namespace sendova
