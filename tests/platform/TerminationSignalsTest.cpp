#include "platform/TerminationSignals.h"

#include <QTest>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

using namespace sendova;

class TerminationSignalsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The first signal only asks the program to stop (the command-line tests
    // show it doing so); should it not manage, the second one ends it from
    // the handler, even with no event loop running, with the shell's code
    // for that signal.
    void secondSignalEndsTheProcess()
    {
        const TerminationSignals handlers({SIGINT, SIGTERM});
        // The child inherits the handlers and does nothing else a forked copy
        // of a threaded program may not do.
        const pid_t child = ::fork();
        if (child == 0) {
            ::raise(SIGINT);
            ::raise(SIGTERM);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 128 + SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TerminationSignalsTest)
#include "TerminationSignalsTest.moc"
