#include "platform/Clipboard.h"

#include "../support/XvfbDisplay.h"

#include <QGuiApplication>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <optional>

#include <sys/prctl.h>
#include <sys/wait.h>

using namespace sendova;

namespace {

struct WriterRun
{
    QByteArray outcome;
    qint64 keeperPid = 0;
};

// As a script that captures the copier's output, url=$(sendova upload f),
// which reads until every writer of the pipe is gone: a keeper holding it
// would stall the script until the clipboard changes hands.
WriterRun runWriter(const QByteArray &mode, const QByteArray &text,
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess writer;
    writer.setProcessEnvironment(environment);
    writer.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" 2>&1 | cat"),
                                        QStringLiteral(CLIPBOARD_WRITER), QString::fromLatin1(mode)});
    writer.write(text);
    writer.closeWriteChannel();
    if (!writer.waitForFinished(20000))
        return {"the pipe stayed open after the copier exited"};
    const QList<QByteArray> words = writer.readAllStandardOutput().trimmed().split(' ');
    return {words.value(0), words.value(1).toLongLong()};
}

// Keepers are orphans that this process adopted (it is a child subreaper),
// so their end can be observed and reaped here.
bool hasExited(qint64 pid)
{
    int status = 0;
    const pid_t reaped = ::waitpid(pid_t(pid), &status, WNOHANG);
    if (reaped == pid)
        return true;
    // QProcess may have reaped it for us; then the id names nobody any more.
    return reaped < 0 && errno == ECHILD && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

class ClipboardTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        for (qint64 pid : std::as_const(m_keepers)) {
            if (::kill(pid_t(pid), SIGTERM) == 0)
                ::waitpid(pid_t(pid), nullptr, 0);
        }
        m_keepers.clear();
        Clipboard::clear();
    }

    void copiedTextOutlivesTheCopier_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("non-ASCII, markup and lines, copier without GUI")
            << QByteArray("without-gui")
            << QStringLiteral("https://例え.テスト/ü?q=€ <i>\"q\" $(rm)\n2").toUtf8();
        // More than a socket buffer holds, so the hand-over must stream.
        QTest::newRow("300 KB") << QByteArray("persistent") << QByteArray(300 * 1024, 'k');
    }
    void copiedTextOutlivesTheCopier()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, text);
        const WriterRun run = runWriter(mode, text);
        m_keepers << run.keeperPid;
        QCOMPARE(run.outcome, QByteArray("kept-after-exit"));
        QCOMPARE(sendova::test::readClipboard(), std::optional<QByteArray>(text));
        QVERIFY(!hasExited(run.keeperPid));
    }

    void keeperLeavesWhenTheClipboardIsTaken()
    {
        const WriterRun first = runWriter("persistent", "https://files.example/f/first");
        m_keepers << first.keeperPid;
        const WriterRun second = runWriter("persistent", "https://files.example/f/newer");
        m_keepers << second.keeperPid;
        QCOMPARE(second.outcome, QByteArray("kept-after-exit"));
        QTRY_VERIFY_WITH_TIMEOUT(hasExited(first.keeperPid), 30000);
        m_keepers.removeOne(first.keeperPid);
        QCOMPARE(sendova::test::readClipboard(), std::optional<QByteArray>("https://files.example/f/newer"));
    }

    void withoutADisplayNothingIsKept()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const WriterRun run = runWriter("persistent", "https://files.example/f/x", environment);
        QCOMPARE(run.outcome, QByteArray("no-display"));
        QCOMPARE(run.keeperPid, 0);
    }

private:
    QList<qint64> m_keepers;
};

int main(int argc, char **argv)
{
    // Orphaned keepers are re-parented to this process, which can then watch
    // them leave instead of guessing.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    sendova::test::XvfbDisplay display;

    if (!display.startForThisProcess())
        return 1;
    QGuiApplication app(argc, argv);
    ClipboardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ClipboardTest.moc"
