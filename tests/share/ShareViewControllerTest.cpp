#include "../support/ChildSignal.h"
#include "../support/XvfbDisplay.h"
#include "ShareTestSupport.h"

#include "share/ShareView.h"
#include "share/ShareViewController.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

using namespace sendova;
using namespace sendova::test;

class ShareViewControllerTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_first;
    QString m_second;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        qputenv("XDG_DATA_HOME", m_root.filePath(QStringLiteral("data")).toLocal8Bit());
        qunsetenv("SENDOVA_SERVER");
        QVERIFY(ConfigService::shared().configURL().startsWith(m_root.path()));
        QVERIFY(QDir::setCurrent(m_root.path()));
        m_first = m_root.filePath(QStringLiteral("first.txt"));
        m_second = m_root.filePath(QStringLiteral("second.txt"));
        QVERIFY(writeAll(m_first, "first") && writeAll(m_second, "second"));
        QVERIFY(writeAll(m_root.filePath(QStringLiteral("notes:today.txt")), "colon"));
        setKeychainKey(QStringLiteral("key-9"));
        LocalizationService::shared().setLanguage(Language::english);
    }

    void cleanupTestCase() { setKeychainKey(QString()); }

    // The whole run as the program makes it, event loop included: which file
    // it uploads and how many of the shared files the window says were left
    // out. The user ends the run with Return or by closing the window, which
    // after a success is no cancellation, and then once more, which changes
    // nothing.
    void firstUsableAttachment_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("uploaded");
        QTest::addColumn<int>("filesLeftOut");
        QTest::addColumn<bool>("closeWindow");

        QTest::newRow("two files: the first, relative path")
            << QStringList{QStringLiteral("first.txt"), m_second} << QStringLiteral("first.txt") << 1
            << false;
        QTest::newRow("existing file whose name looks like a URL, window closed")
            << QStringList{QStringLiteral("notes:today.txt")} << QStringLiteral("notes:today.txt") << 0
            << true;
    }

    void firstUsableAttachment()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, uploaded);
        QFETCH(int, filesLeftOut);
        QFETCH(bool, closeWindow);

        LoopbackHttpServer server;
        server.enqueue(uploadReply(sharedLink));
        writeConfig(configJson(server.baseUrl()));

        ShareViewController controller(arguments);
        ShareViewModel *model = controller.viewModel();
        connect(
            model, &ShareViewModel::stateChanged, this,
            [&controller, closeWindow](const ShareState &state) {
                if (!state.isFinal())
                    return;
                ShareView *view = controller.view();
                if (closeWindow)
                    view->close();
                else
                    QTest::keyClick(view, Qt::Key_Return);
                view->endButton()->click();
                view->close();
            },
            Qt::QueuedConnection);
        QCOMPARE(controller.exec(), 0);
        QCOMPARE(model->fileName().value_or(QString()), uploaded);
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(model->state(), ShareState::success(sharedLink));
        QCOMPARE(model->filesLeftOut(), filesLeftOut);
    }

    // A pipe would be read for ever: refused before anything is read or sent.
    void pipeRefused()
    {
        const QString pipe = m_root.filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        LoopbackHttpServer server;
        writeConfig(configJson(server.baseUrl()));
        ShareViewController controller({pipe});
        controller.loadView();
        QTRY_VERIFY(controller.viewModel()->state().isFinal());
        QCOMPARE(controller.viewModel()->state(),
                 ShareState::error(u"pipe is not an ordinary file; only files can be uploaded."_qs));
        QCOMPARE(server.requests().size(), 0);
    }

    // What the program says before it opens a window.
    void programWithoutWindow_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("--help") << u"--help"_qs << 0 << QByteArray("Usage: sendova-share [--] FILE…\n")
                                << QByteArray();
        QTest::newRow("--version") << u"--version"_qs << 0
                                   << QByteArray("sendova-share " SENDOVA_VERSION "\n") << QByteArray();
        QTest::newRow("no display") << m_first << 2 << QByteArray()
                                    << QByteArray("sendova-share: no graphical session; to upload from a "
                                                  "terminal use 'sendova upload FILE'\n");
    }

    void programWithoutWindow()
    {
        QFETCH(QString, argument);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs})
            env.remove(name);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(SENDOVA_SHARE_PROGRAM), {argument});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), status);
        const QByteArray output = program.readAllStandardOutput();
        QVERIFY2(output.startsWith(out), output.constData());
        QCOMPARE(program.readAllStandardError(), err);
    }

    // The program itself: a terminating signal cancels like the window does,
    // whether after a finished run or while the body is on its way, and the
    // reason reaches standard error in the language of config.json. The link a
    // finished run copied is still there to paste once the program is gone.
    void programCancelledBySignal_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("stall");

        QTest::newRow("link copied, file URL on standard input")
            << QStringList{QStringLiteral("-")} << QUrl::fromLocalFile(m_first).toEncoded() + "\n"
            << false;
        QTest::newRow("mid-upload") << QStringList{QStringLiteral("big.bin")} << QByteArray() << true;
    }

    void programCancelledBySignal()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(bool, stall);

        QVERIFY(writeAll(m_root.filePath(QStringLiteral("big.bin")), QByteArray(8 * 1024 * 1024, 'b')));
        LoopbackHttpServer server;
        server.setKeepBodies(false);
        ScriptedReply reply = uploadReply(sharedLink);
        reply.reading = stall ? ScriptedReply::Reading::stall : ScriptedReply::Reading::normal;
        server.enqueue(reply);
        writeConfig(configJson(server.baseUrl(), !stall, false, {{u"languageCode"_qs, u"pt"_qs}}));

        QProcess program;
        program.setProgram(QStringLiteral(SENDOVA_SHARE_PROGRAM));
        program.setArguments(arguments);
        // SIGTERM waits, blocked, until the program is ready to treat it as a
        // cancellation, however early the test sends it.
        program.setChildProcessModifier([] {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGTERM);
            ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
        });
        program.start();
        QVERIFY(program.waitForStarted());
        program.write(input);
        QVERIFY(input.isEmpty() || program.waitForBytesWritten());
        program.closeWriteChannel();
        if (stall) {
            QVERIFY(server.waitForRequests(1));
        } else {
            // A deadline rather than QTRY: that counts polls, not time, and
            // each read starts a process, which a loaded machine makes slow.
            QDeadlineTimer deadline(20000);
            while (readClipboard() != sharedLink.toUtf8() && !deadline.hasExpired() &&
                   program.state() == QProcess::Running)
                QTest::qWait(100);
        }
        if (!signalChild(program.processId(), SIGTERM))
            QFAIL("the program ended before the signal: " + program.readAllStandardError());
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString errorOutput = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(
            errorOutput.endsWith(QStringLiteral("com.sendova.share (code -1): Cancelado pelo usuário\n")),
            qPrintable(errorOutput));
        QCOMPARE(server.requests().size(), 1);
        if (!stall)
            QCOMPARE(readClipboard(), std::optional(sharedLink.toUtf8()));
    }
};

// The share program copies to a private X display; this process stays on the
// platform it started on.
int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.start()) {
        std::fprintf(stderr, "%s\n", display.errorText().constData());
        return 1;
    }
    qputenv("DISPLAY", display.name());
    QApplication app(argc, argv);
    qputenv("QT_QPA_PLATFORM", "xcb");
    ShareViewControllerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ShareViewControllerTest.moc"
