#include "ShareTestSupport.h"

#include "share/ShareView.h"
#include "share/ShareViewController.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

using namespace sendova;
using namespace sendova::test;

namespace {

// The file name the upload's body carries, empty when nothing was uploaded.
QString uploadedName(const LoopbackHttpServer &server)
{
    for (const RecordedRequest &request : server.requests()) {
        const qsizetype from = request.body.indexOf("filename=\"") + 10;
        if (from >= 10)
            return QString::fromUtf8(request.body.mid(from, request.body.indexOf('"', from) - from));
    }
    return {};
}

// Standard input replaced for the length of a test.
class StandardInput
{
public:
    explicit StandardInput(const QByteArray &content)
    {
        m_file.open();
        m_file.write(content);
        m_file.flush();
        const int fd = ::open(QFile::encodeName(m_file.fileName()).constData(), O_RDONLY);
        ::dup2(fd, STDIN_FILENO);
        ::close(fd);
    }
    ~StandardInput()
    {
        ::dup2(m_saved, STDIN_FILENO);
        ::close(m_saved);
    }

private:
    int m_saved = ::dup(STDIN_FILENO);
    QTemporaryFile m_file;
};

} // namespace

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
        QVERIFY(writeFile(m_first, "first") && writeFile(m_second, "second"));
        QVERIFY(writeFile(m_root.filePath(QStringLiteral("notes:today.txt")), "colon"));
        setKeychainKey(QStringLiteral("key-9"));
    }

    void init() { LocalizationService::shared().setLanguage(Language::english); }
    void cleanupTestCase() { setKeychainKey(QString()); }

    // Which file the run uploads, or which text it ends with, and how many
    // of the shared files the window says were left out.
    void firstUsableAttachment_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("uploaded");
        QTest::addColumn<QString>("errorKey");
        QTest::addColumn<int>("filesLeftOut");

        const QByteArray url = QUrl::fromLocalFile(m_second).toEncoded();
        QTest::newRow("no arguments") << QStringList{} << QByteArray() << QString()
                                      << QStringLiteral("share.error.no_files_found") << 0;
        QTest::newRow("two files: the first, relative path")
            << QStringList{QStringLiteral("first.txt"), m_second} << QByteArray()
            << QStringLiteral("first.txt") << QString() << 1;
        QTest::newRow("existing file whose name looks like a URL")
            << QStringList{QStringLiteral("notes:today.txt")} << QByteArray()
            << QStringLiteral("notes:today.txt") << QString() << 0;
        QTest::newRow("search passes over the unusable")
            << QStringList{QStringLiteral("https://example.com/a"), QString(), QString::fromUtf8(url),
                           m_first}
            << QByteArray() << QStringLiteral("second.txt") << QString() << 1;
        QTest::newRow("malformed file URL stops the search")
            << QStringList{QStringLiteral("file://[bad/x"), m_first} << QByteArray() << QString()
            << QStringLiteral("share.error.could_not_get_file") << 1;
        // Standard input is the first usable attachment: the file after it
        // is never looked at.
        QTest::newRow("file URL on standard input") << QStringList{QStringLiteral("-"), m_first} << url + "\n"
                                                    << QStringLiteral("second.txt") << QString() << 1;
        QTest::newRow("raw bytes on standard input")
            << QStringList{QStringLiteral("-")} << QByteArray("just some text\n") << QString()
            << QStringLiteral("share.error.unsupported_file_type") << 0;
    }

    void firstUsableAttachment()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, uploaded);
        QFETCH(QString, errorKey);
        QFETCH(int, filesLeftOut);

        LoopbackHttpServer server;
        server.enqueue(uploadReply(sharedLink));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));
        StandardInput stdinReplaced(input);

        ShareViewController controller(arguments);
        controller.loadView();
        controller.viewDidLoad();
        ShareViewModel *model = controller.viewModel();
        QTRY_VERIFY(model->state().isFinal());
        // Anything else would have been sent by now: the run is over.
        QCoreApplication::processEvents();
        QCOMPARE(uploadedName(server), uploaded);
        QCOMPARE(server.requests().size(), uploaded.isEmpty() ? 0 : 1);
        QCOMPARE(model->state(), errorKey.isEmpty()
                                     ? ShareState::success(sharedLink)
                                     : ShareState::error(english(errorKey.toUtf8().constData())));
        QCOMPARE(model->filesLeftOut(), filesLeftOut);
    }

    // The whole run as the program makes it, event loop included: how the
    // user ends it gives the exit status and the line on standard error, and
    // ending it a second time changes nothing.
    void endingTheRequest_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("status");

        QTest::newRow("Return after success") << QStringList{m_first} << QStringLiteral("return") << 0;
        QTest::newRow("closing the window after success")
            << QStringList{m_first} << QStringLiteral("close") << 1;
    }

    void endingTheRequest()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, action);
        QFETCH(int, status);

        LoopbackHttpServer server;
        server.enqueue(uploadReply(sharedLink));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        ShareViewController controller(arguments);
        const auto act = [&controller, action] {
            ShareView *view = controller.view();
            if (action == QLatin1String("close"))
                view->close();
            else
                QTest::keyClick(view, Qt::Key_Return);
            view->endButton()->click();
            view->close();
        };
        connect(
            controller.viewModel(), &ShareViewModel::stateChanged, this,
            [act](const ShareState &state) {
                if (state.isFinal())
                    act();
            },
            Qt::QueuedConnection);

        FILE *errors = std::tmpfile();
        QVERIFY(errors);
        QCOMPARE(controller.exec(errors), status);
        std::rewind(errors);
        char buffer[512] = {};
        const size_t length = std::fread(buffer, 1, sizeof buffer - 1, errors);
        std::fclose(errors);
        QCOMPARE(QString::fromUtf8(buffer, qsizetype(length)),
                 status == 0 ? QString()
                             : QStringLiteral("com.sendova.share (code -1): %1\n")
                                   .arg(english("share.error.cancelled_by_user")));
    }

    // The program itself: a terminating signal cancels like the window does,
    // whether before the file is read or while its body is on its way, and
    // the reason reaches standard error in the chosen language.
    void programCancelledBySignal_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("stall");
        QTest::addColumn<QString>("description");

        QTest::newRow("file URL on standard input, Portuguese")
            << QStringList{QStringLiteral("-")} << QUrl::fromLocalFile(m_first).toEncoded() + "\n"
            << QStringLiteral("pt") << false << QStringLiteral("Cancelado pelo usuário");
        QTest::newRow("mid-upload") << QStringList{QStringLiteral("big.bin")} << QByteArray()
                                    << QStringLiteral("en") << true
                                    << english("share.error.cancelled_by_user");
    }

    void programCancelledBySignal()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, language);
        QFETCH(bool, stall);
        QFETCH(QString, description);

        QVERIFY(writeFile(m_root.filePath(QStringLiteral("big.bin")),
                          QByteArray(stall ? 8 * 1024 * 1024 : 1, 'b')));
        LoopbackHttpServer server;
        server.setKeepBodies(!stall);
        ScriptedReply reply = uploadReply(sharedLink);
        reply.reading = stall ? ScriptedReply::Reading::stall : ScriptedReply::Reading::normal;
        server.enqueue(reply);
        QJsonObject settings = config(server.baseUrl(), QString(), false, false);
        settings[u"languageCode"_qs] = language;
        writeConfig(QJsonDocument(settings).toJson());

        ShareProgram program(arguments);
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
        if (stall)
            QVERIFY(server.waitForRequests(1));
        else
            QTRY_COMPARE_WITH_TIMEOUT(uploadedName(server), QStringLiteral("first.txt"), 20000);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString errorOutput = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(errorOutput.endsWith(QStringLiteral("com.sendova.share (code -1): %1\n").arg(description)),
                 qPrintable(errorOutput));
        QCOMPARE(server.requests().size(), 1);
    }
};

QTEST_MAIN(ShareViewControllerTest)
#include "ShareViewControllerTest.moc"
