#include "platform/Clipboard.h"

#include "../support/ChildSignal.h"
#include "../support/XvfbDisplay.h"

#include <QGuiApplication>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstdlib>

#include <sys/prctl.h>
#include <xcb/xcb.h>

using namespace sendova;

namespace {

// The copier's report, how it copied, read as a script that captures
// the copier's output does, url=$(sendova upload f): until every writer of
// the pipe is gone, which a keeper holding it would put off until the
// clipboard changes hands.
QByteArray runWriter(const QByteArray &mode, const QByteArray &text,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess writer;
    writer.setProcessEnvironment(environment);
    writer.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" 2>&1 | cat"),
                                        QStringLiteral(CLIPBOARD_WRITER), QString::fromLatin1(mode)});
    writer.write(text);
    writer.closeWriteChannel();
    if (!writer.waitForFinished(20000))
        return "the pipe stayed open after the copier exited";
    return writer.readAllStandardOutput().trimmed();
}

// Gives the clipboard to nobody, as a clipboard manager's "clear" does. The
// keeper is told only that it lost it, not to whom, and a later copy tells it
// nothing at all. (Qt's own clear would need this process to own it first.)
void clearWithoutOwning()
{
    xcb_connection_t *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(x11, xcb_intern_atom(x11, 0, 9, "CLIPBOARD"), nullptr);
    QVERIFY(atom);
    xcb_set_selection_owner(x11, XCB_NONE, atom->atom, XCB_CURRENT_TIME);
    std::free(atom);
    xcb_flush(x11);
}

} // namespace

class ClipboardTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        for (qint64 pid : sendova::test::adoptedKeepers())
            sendova::test::signalChild(pid, SIGTERM);
        QTRY_VERIFY(sendova::test::adoptedKeepers().isEmpty());
        Clipboard::clear();
    }

    // The copy outlives its copier, and its keeper leaves once a later copy
    // takes the clipboard, also when another program cleared it in between.
    // In a Wayland session where no data-control is to be had (GNOME; here a
    // Wayland socket nobody listens on) the copy goes to XWayland and is
    // reported as unconfirmed; with no display, nothing is started.
    void copiedTextOutlivesTheCopier_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("session");
        QTest::addColumn<bool>("clearedFirst");
        QTest::addColumn<QByteArray>("outcome");
        QTest::newRow("non-ASCII, markup and lines, copier without GUI")
            << QByteArray("without-gui")
            << QStringLiteral("https://例え.テスト/ü?q=€ <i>\"q\" $(rm)\n2").toUtf8() << QByteArray("x11")
            << false << QByteArray("kept-after-exit");
        // More than a socket buffer holds, so the hand-over must stream.
        QTest::newRow("300 KB, cleared before the next copy")
            << QByteArray("persistent") << QByteArray(300 * 1024, 'k') << QByteArray("x11") << true
            << QByteArray("kept-after-exit");
        QTest::newRow("Wayland without data-control")
            << QByteArray("without-gui") << QByteArray("https://f.example/g") << QByteArray("xwayland")
            << false << QByteArray("unconfirmed");
        QTest::newRow("no display") << QByteArray("persistent") << QByteArray("https://files.example/f/x")
                                    << QByteArray("none") << false << QByteArray("no-display");
    }
    void copiedTextOutlivesTheCopier()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, session);
        QFETCH(bool, clearedFirst);
        QFETCH(QByteArray, outcome);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (session == "none") {
            environment.remove(QStringLiteral("DISPLAY"));
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else if (session == "xwayland") {
            environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("/nonexistent/wayland-0"));
        }
        QCOMPARE(runWriter(mode, text, environment), outcome);
        const QList<qint64> keepers = sendova::test::adoptedKeepers();
        QCOMPARE(keepers.size(), session == "none" ? 0 : 1);
        if (session == "none")
            return;
        QCOMPARE(sendova::test::readClipboard(), std::optional<QByteArray>(text));

        if (clearedFirst) {
            clearWithoutOwning();
            QCOMPARE(sendova::test::readClipboard(), std::nullopt);
        }
        runWriter("persistent", "https://files.example/f/newer");
        QTRY_VERIFY_WITH_TIMEOUT(!sendova::test::adoptedKeepers().contains(keepers.first()), 30000);
    }
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
