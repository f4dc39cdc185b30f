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
    bool finished = false;
    int exitCode = -1;
    QByteArray outcome;
    qint64 keeperPid = 0;
};

WriterRun runWriter(const QByteArray &mode, const QByteArray &text,
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess writer;
    writer.setProcessEnvironment(environment);
    writer.start(QStringLiteral(CLIPBOARD_WRITER), {QString::fromLatin1(mode)});
    writer.write(text);
    writer.closeWriteChannel();
    WriterRun run;
    run.finished = writer.waitForFinished(60000);
    run.exitCode = writer.exitCode();
    const QList<QByteArray> words = writer.readAllStandardOutput().trimmed().split(' ');
    run.outcome = words.value(0);
    run.keeperPid = words.value(1).toLongLong();
    return run;
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
    void cleanup();

    void copiedLinkOutlivesTheCopier_data();
    void copiedLinkOutlivesTheCopier();
    void copyServedByTheCopierDiesWithIt();
    void keeperLeavesWhenTheClipboardIsTaken_data();
    void keeperLeavesWhenTheClipboardIsTaken();
    void keeperHoldsNoneOfTheCopiersStreams();
    void runningProgramServesItsCopyWithoutAnyWindow();
    void withoutADisplayNothingIsKept_data();
    void withoutADisplayNothingIsKept();

private:
    QList<qint64> m_keepers;
    std::unique_ptr<QProcess> m_otherOwner;
};

void ClipboardTest::cleanup()
{
    if (m_otherOwner) {
        m_otherOwner->kill();
        m_otherOwner->waitForFinished();
        m_otherOwner.reset();
    }
    for (qint64 pid : std::as_const(m_keepers)) {
        if (::kill(pid_t(pid), SIGTERM) == 0) {
            int status = 0;
            ::waitpid(pid_t(pid), &status, 0);
        }
    }
    m_keepers.clear();
    Clipboard::clear();
}

void ClipboardTest::copiedLinkOutlivesTheCopier_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("link, copier without GUI")
        << QByteArray("without-gui") << QByteArray("https://files.example/f/Ab3xZ9");
    QTest::newRow("non-ASCII, markup and lines")
        << QByteArray("persistent") << QStringLiteral("https://例え.テスト/ü?q=€ <i>\"q\" $(rm)\n2").toUtf8();
    // More than a socket buffer holds, so the hand-over must stream.
    QTest::newRow("300 KB") << QByteArray("without-gui") << QByteArray(300 * 1024, 'k');
}

void ClipboardTest::copiedLinkOutlivesTheCopier()
{
    QFETCH(QByteArray, mode);
    QFETCH(QByteArray, text);

    const WriterRun run = runWriter(mode, text);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outcome, QByteArray("kept-after-exit"));
    QVERIFY(run.keeperPid > 0);
    m_keepers << run.keeperPid;

    const auto seen = sendova::test::readClipboard();
    QVERIFY(seen.has_value());
    QCOMPARE(*seen, text);
    QVERIFY(!hasExited(run.keeperPid));
}

void ClipboardTest::copyServedByTheCopierDiesWithIt()
{
    // The failure the keeper exists for: without a clipboard manager, a copy
    // served by the copier itself is gone when it exits.
    const WriterRun run = runWriter("in-process", "https://files.example/f/lost");
    QVERIFY(run.finished);
    QCOMPARE(run.outcome, QByteArray("kept-while-running"));
    QVERIFY(!sendova::test::readClipboard().has_value());
}

void ClipboardTest::keeperLeavesWhenTheClipboardIsTaken_data()
{
    QTest::addColumn<QString>("taker");

    QTest::newRow("another program") << QStringLiteral("xclip");
    QTest::newRow("a later keeper") << QStringLiteral("keeper");
    QTest::newRow("this running program") << QStringLiteral("in-process");
}

void ClipboardTest::keeperLeavesWhenTheClipboardIsTaken()
{
    QFETCH(QString, taker);

    const WriterRun first = runWriter("persistent", "https://files.example/f/first");
    QCOMPARE(first.outcome, QByteArray("kept-after-exit"));
    m_keepers << first.keeperPid;

    const QByteArray newer = "https://files.example/f/newer";
    if (taker == QLatin1String("xclip")) {
        m_otherOwner = std::make_unique<QProcess>();
        m_otherOwner->start(QStringLiteral("xclip"),
                            {QStringLiteral("-i"), QStringLiteral("-quiet"), QStringLiteral("-selection"),
                             QStringLiteral("clipboard")});
        QVERIFY(m_otherOwner->waitForStarted());
        m_otherOwner->write(newer);
        m_otherOwner->closeWriteChannel();
    } else if (taker == QLatin1String("keeper")) {
        const WriterRun second = runWriter("persistent", newer);
        QCOMPARE(second.outcome, QByteArray("kept-after-exit"));
        m_keepers << second.keeperPid;
    } else {
        // Served here, or by a keeper when the display turns down this
        // process's stale claim; either way the first keeper must go.
        const Clipboard::CopyResult copy = Clipboard::writeText(QString::fromUtf8(newer));
        QVERIFY(copy.outcome == Clipboard::Outcome::keptWhileRunning ||
                copy.outcome == Clipboard::Outcome::keptAfterExit);
        if (copy.keeperPid)
            m_keepers << copy.keeperPid;
    }

    QTRY_VERIFY_WITH_TIMEOUT(hasExited(first.keeperPid), 30000);
    m_keepers.removeOne(first.keeperPid);
    const auto seen = sendova::test::readClipboard();
    QVERIFY(seen.has_value());
    QCOMPARE(*seen, newer);
}

void ClipboardTest::keeperHoldsNoneOfTheCopiersStreams()
{
    // A script that captures the client's output, url=$(sendova upload f),
    // reads until every writer of the pipe is gone; a keeper holding it would
    // stall the script until the clipboard changes hands.
    QProcess shell;
    shell.start(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("printf %s https://files.example/f/s | \"$0\" persistent 2>&1 "
                                "| cat"),
                 QStringLiteral(CLIPBOARD_WRITER)});
    const bool finished = shell.waitForFinished(60000);
    const QList<QByteArray> words = shell.readAllStandardOutput().trimmed().split(' ');
    if (words.size() == 2)
        m_keepers << words.at(1).toLongLong();
    QVERIFY2(finished, "the pipe stayed open after the copier exited");
    QCOMPARE(words.value(0), QByteArray("kept-after-exit"));
    QCOMPARE(sendova::test::readClipboard(), std::optional<QByteArray>("https://files.example/f/s"));
}

void ClipboardTest::runningProgramServesItsCopyWithoutAnyWindow()
{
    QVERIFY(QGuiApplication::topLevelWindows().isEmpty());
    QCOMPARE(Clipboard::writeText(QStringLiteral("https://files.example/f/tray")).outcome,
             Clipboard::Outcome::keptWhileRunning);
    QCOMPARE(sendova::test::readClipboard(), std::optional<QByteArray>("https://files.example/f/tray"));

    Clipboard::clear();
    QVERIFY(!sendova::test::readClipboard().has_value());
}

void ClipboardTest::withoutADisplayNothingIsKept_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QByteArray>("outcome");

    QTest::newRow("no display at all") << QString() << QByteArray("no-display");
    // The keeper cannot start there; the copier, on the offscreen platform,
    // keeps the text for its own lifetime and says so.
    QTest::newRow("display that does not answer")
        << QStringLiteral(":9999") << QByteArray("kept-while-running");
}

void ClipboardTest::withoutADisplayNothingIsKept()
{
    QFETCH(QString, display);
    QFETCH(QByteArray, outcome);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    const WriterRun run = runWriter("persistent", "https://files.example/f/x", environment);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outcome, outcome);
    QCOMPARE(run.keeperPid, 0);
}

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
