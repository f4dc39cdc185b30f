#pragma once

#include <QDir>
#include <QFile>
#include <QList>
#include <QtGlobal>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace sendova::test {

// kill() given an id of 0 or less signals a whole process group: this test,
// its runner and whatever started the runner. QProcess::processId() is 0 once
// the child has ended, and a garbled report may carry any id; neither must get
// that far.
inline bool signalChild(qint64 pid, int signalNumber)
{
    return pid > 0 && ::kill(pid_t(pid), signalNumber) == 0;
}

// The clipboard keepers still running whose parent is the given process.
inline QList<qint64> keepersOf(qint64 parent)
{
    QList<qint64> keepers;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        // "pid (name) state ppid ...", the name cut to 15 bytes; Z for ended.
        const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (line.contains("(sendova-clipboa)") && rest.value(0) != "Z" && rest.value(1).toLongLong() == parent)
            keepers << entry.toLongLong();
    }
    return keepers;
}

// The clipboard keepers still running that this process adopted. Keepers
// detach from whoever started them; a test that made itself a child
// subreaper (prctl PR_SET_CHILD_SUBREAPER) adopts them instead of init, and
// can then find them and watch them leave instead of guessing.
inline QList<qint64> adoptedKeepers()
{
    return keepersOf(::getpid());
}

} // namespace sendova::test
