#pragma once

#include <QtGlobal>

#include <csignal>
#include <sys/types.h>

namespace sendova::test {

// kill() given an id of 0 or less signals a whole process group: this test,
// its runner and whatever started the runner. QProcess::processId() is 0 once
// the child has ended, and a garbled report may carry any id; neither must get
// that far.
inline bool signalChild(qint64 pid, int signalNumber)
{
    return pid > 0 && ::kill(pid_t(pid), signalNumber) == 0;
}

} // namespace sendova::test
