#pragma once

#include <QProcess>

#include <csignal>
#include <sys/types.h>

namespace sendova::test {

// kill() given an id of 0 or less signals a whole process group: this test,
// its runner and whatever started the runner. An id read from a child that has
// already ended (QProcess then reports 0) or from a garbled report must never
// get that far.
inline bool signalChild(qint64 pid, int signalNumber)
{
    return pid > 0 && ::kill(pid_t(pid), signalNumber) == 0;
}

inline bool signalChild(const QProcess &process, int signalNumber)
{
    return process.state() == QProcess::Running && signalChild(process.processId(), signalNumber);
}

} // namespace sendova::test
