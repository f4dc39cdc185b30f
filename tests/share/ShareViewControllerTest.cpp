#include "LoopbackHttpServer.h"
#include "ShareTestSupport.h"

#include "share/ShareView.h"
#include "share/ShareViewController.h"
#include "support/LocalizationService.h"

#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

using namespace sendova;
using namespace sendova::test;

namespace {

const QString sharedLink = QStringLiteral("https://files.example/s/Zz9");

QByteArray uploadReply()
{
    return QStringLiteral(R"({"Success":true,"Data":{"Url":"%1"}})").arg(sharedLink).toUtf8();
}

// The file name the upload's body carries, empty when nothing was uploaded.
QString uploadedName(const LoopbackHttpServer &server)
{
    for (const RecordedRequest &request : server.requests()) {
        const QByteArray marker = "filename=\"";
        const qsizetype start = request.body.indexOf(marker);
        if (start >= 0) {
            const qsizetype from = start + marker.size();
            return QString::fromUtf8(request.body.mid(from, request.body.indexOf('"', from) - from));
        }
    }
    return {};
}

QString english(const char *key)
{
    // The English table, whatever language the process is in right now.
    LocalizationService table(QStringLiteral(":/i18n"), {QStringLiteral("en")});
    return table.localized(key);
}

// Standard input replaced for the length of a test.
class StandardInput
{
public:
    explicit StandardInput(const QByteArray &content)
    {
        m_saved = ::dup(STDIN_FILENO);
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
    int m_saved = -1;
    QTemporaryFile m_file;
};

} // namespace

class ShareViewControllerTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_first;
    QString m_second;
    QString m_colonName;

    // The controller with its view loaded and the language applied, as the
    // program starts it.
    static std::unique_ptr<ShareViewController> started(const QStringList &arguments)
    {
        auto controller = std::make_unique<ShareViewController>(arguments);
        controller->loadView();
        controller->viewDidLoad();
        return controller;
    }

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
        m_colonName = QStringLiteral("notes:today.txt");
        QVERIFY(writeFile(m_first, "first"));
        QVERIFY(writeFile(m_second, "second"));
        QVERIFY(writeFile(m_root.filePath(m_colonName), "colon"));
        setKeychainKey(QStringLiteral("key-9"));
    }

    void init()
    {
        removeConfig();
        LocalizationService::shared().setLanguage(Language::english);
    }

    void cleanupTestCase() { setKeychainKey(QString()); }

    // Which file the run uploads, or which text it ends with.
    void firstUsableAttachment_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("uploaded");
        QTest::addColumn<QString>("errorKey");
        // Shared files the run does not send, which the window mentions.
        QTest::addColumn<int>("filesLeftOut");

        QTest::newRow("no arguments")
            << QStringList{} << QString() << QStringLiteral("share.error.no_files_found") << 0;
        QTest::newRow("two files: the first, relative path")
            << QStringList{QStringLiteral("first.txt"), m_second} << QStringLiteral("first.txt") << QString()
            << 1;
        QTest::newRow("existing file whose name looks like a URL")
            << QStringList{m_colonName} << m_colonName << QString() << 0;
        QTest::newRow("search passes over the unusable")
            << QStringList{QStringLiteral("https://example.com/a"), QString(),
                           QUrl::fromLocalFile(m_second).toString(), m_first}
            << QStringLiteral("second.txt") << QString() << 1;
        QTest::newRow("malformed file URL stops the search")
            << QStringList{QStringLiteral("file://[bad/x"), m_first} << QString()
            << QStringLiteral("share.error.could_not_get_file") << 1;
    }

    void firstUsableAttachment()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, uploaded);
        QFETCH(QString, errorKey);
        QFETCH(int, filesLeftOut);

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply()));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        const auto controller = started(arguments);
        ShareViewModel *model = controller->viewModel();
        QTRY_VERIFY(model->state().isFinal());
        // Anything else would have been sent by now: the run is over.
        QCoreApplication::processEvents();
        QCOMPARE(uploadedName(server), uploaded);
        QCOMPARE(server.requests().size(), uploaded.isEmpty() ? 0 : 1);
        if (errorKey.isEmpty())
            QCOMPARE(model->state(), ShareState::success(sharedLink));
        else
            QCOMPARE(model->state(), ShareState::error(english(errorKey.toUtf8().constData())));
        QCOMPARE(model->filesLeftOut(), filesLeftOut);
    }

    void standardInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("uploaded");

        const QByteArray url = QUrl::fromLocalFile(m_second).toEncoded();
        QTest::newRow("file URL and a newline") << url + "\n" << QStringLiteral("second.txt");
        QTest::newRow("raw bytes") << QByteArray("just some text\n") << QString();
        QTest::newRow("a path is not a URL") << m_second.toUtf8() << QString();
        QTest::newRow("two URLs") << url + "\n" + url << QString();
    }

    void standardInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, uploaded);

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply()));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));
        StandardInput stdinReplaced(input);

        // The data attachment is the first usable one: the file after it is
        // never looked at.
        const auto controller = started({QStringLiteral("-"), m_first});
        ShareViewModel *model = controller->viewModel();
        QTRY_VERIFY(model->state().isFinal());
        QCoreApplication::processEvents();
        QCOMPARE(uploadedName(server), uploaded);
        if (uploaded.isEmpty()) {
            QCOMPARE(model->state(), ShareState::error(english("share.error.unsupported_file_type")));
            QCOMPARE(server.requests().size(), 0);
        } else {
            QCOMPARE(model->state(), ShareState::success(sharedLink));
        }
    }

    void language_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("couldNotGet");
        QTest::addColumn<QString>("closeButton");

        QTest::newRow("pt") << QStringLiteral("pt")
                            << QStringLiteral("Não foi possível obter o arquivo compartilhado")
                            << QStringLiteral("Fechar");
        QTest::newRow("fr gives English") << QStringLiteral("fr") << english("share.error.could_not_get_file")
                                          << english("share.button.close");
    }

    // The load handlers run after the language is chosen, so their texts
    // follow it, as does the window.
    void language()
    {
        QFETCH(QString, code);
        QFETCH(QString, couldNotGet);
        QFETCH(QString, closeButton);

        QByteArray config = configJson(QStringLiteral("http://127.0.0.1:9"), QString(), false, false);
        config.replace("\"languageCode\" : \"en\"", "\"languageCode\" : \"" + code.toUtf8() + "\"");
        writeConfig(config);

        const auto controller = started({QStringLiteral("file://[bad/x")});
        QTRY_VERIFY(controller->viewModel()->state().isFinal());
        QCOMPARE(controller->viewModel()->state(), ShareState::error(couldNotGet));
        QCOMPARE(controller->view()->endButton()->text(), closeButton);
    }

    void endingTheRequest_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("completes");

        QTest::newRow("Return after success") << QStringList{m_first} << QStringLiteral("return") << true;
        QTest::newRow("Close after an error") << QStringList{} << QStringLiteral("button") << false;
        QTest::newRow("closing the window after success")
            << QStringList{m_first} << QStringLiteral("close") << false;
    }

    void endingTheRequest()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, action);
        QFETCH(bool, completes);

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply()));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        const auto controller = started(arguments);
        QSignalSpy completed(controller.get(), &ShareViewController::requestCompleted);
        QSignalSpy cancelled(controller.get(), &ShareViewController::requestCancelled);
        ShareView *view = controller->view();
        view->show();
        QTRY_VERIFY(controller->viewModel()->state().isFinal());

        if (action == QLatin1String("button"))
            view->endButton()->click();
        else if (action == QLatin1String("return"))
            QTest::keyClick(view, Qt::Key_Return);
        else
            view->close();
        // Ending twice is ending once.
        view->endButton()->click();
        view->close();

        QCOMPARE(completed.size(), completes ? 1 : 0);
        QCOMPARE(cancelled.size(), completes ? 0 : 1);
        if (!completes) {
            const auto error = cancelled.at(0).at(0).value<ShareCancellation>();
            QCOMPARE(error.domain, QStringLiteral("com.sendova.share"));
            QCOMPARE(error.code, -1);
            QCOMPARE(error.description, english("share.error.cancelled_by_user"));
        }
    }

    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errorOutput");

        const QString cancelLine =
            QStringLiteral("com.sendova.share (code -1): %1\n").arg(english("share.error.cancelled_by_user"));
        QTest::newRow("completed") << QStringList{m_first} << int(Qt::Key_Return) << 0 << QString();
        QTest::newRow("cancelled") << QStringList{m_first} << int(Qt::Key_Escape) << 1 << cancelLine;
    }

    // The whole run as the program makes it, event loop included.
    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, key);
        QFETCH(int, status);
        QFETCH(QString, errorOutput);

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply()));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        ShareViewController controller(arguments);
        if (key == Qt::Key_Return) {
            connect(
                controller.viewModel(), &ShareViewModel::stateChanged, this,
                [&controller](const ShareState &state) {
                    if (state.kind() == ShareState::Kind::success)
                        QTest::keyClick(controller.view(), Qt::Key_Return);
                },
                Qt::QueuedConnection);
        } else {
            // Queued ahead of the file's load: the flow has not started yet.
            QTimer::singleShot(0, this,
                               [&controller, key] { QTest::keyClick(controller.view(), Qt::Key(key)); });
        }

        FILE *errors = std::tmpfile();
        QVERIFY(errors);
        QCOMPARE(controller.exec(errors), status);
        std::rewind(errors);
        char buffer[512] = {};
        const size_t length = std::fread(buffer, 1, sizeof buffer - 1, errors);
        std::fclose(errors);
        QCOMPARE(QString::fromUtf8(buffer, qsizetype(length)), errorOutput);
    }

    // The program itself: a terminating signal cancels like the window does,
    // and the reason reaches standard error in the chosen language.
    void programCancelledBySignal_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("uploaded");
        QTest::addColumn<QString>("description");

        QTest::newRow("no arguments") << QStringList{} << QByteArray() << QStringLiteral("en") << QString()
                                      << english("share.error.cancelled_by_user");
        QTest::newRow("file URL on standard input")
            << QStringList{QStringLiteral("-")} << QUrl::fromLocalFile(m_first).toEncoded() + "\n"
            << QStringLiteral("pt") << QStringLiteral("first.txt")
            << QStringLiteral("Cancelado pelo usuário");
    }

    // Cancelling while the body is on its way still ends the program the
    // same way: the transfer in flight does not hold it up or crash it.
    void programCancelledMidUpload()
    {
        const QString path = m_root.filePath(QStringLiteral("big.bin"));
        QVERIFY(writeFile(path, QByteArray(8 * 1024 * 1024, 'b')));
        LoopbackHttpServer server;
        server.setKeepBodies(false);
        ScriptedReply stall = ScriptedReply::json(200, uploadReply());
        stall.reading = ScriptedReply::Reading::stall;
        server.enqueue(stall);
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        QProcess program;
        program.setProgram(QStringLiteral(SENDOVA_SHARE_PROGRAM));
        program.setArguments({path});
        program.start();
        QVERIFY(program.waitForStarted());
        const auto stop = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });
        QVERIFY(server.waitForRequests(1));
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QVERIFY(program.readAllStandardError().endsWith(QStringLiteral("com.sendova.share (code -1): %1\n")
                                                            .arg(english("share.error.cancelled_by_user"))
                                                            .toUtf8()));
        QFile::remove(path);
    }

    void programCancelledBySignal()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, language);
        QFETCH(QString, uploaded);
        QFETCH(QString, description);

        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, uploadReply()));
        QByteArray config = configJson(server.baseUrl(), QString(), false, false);
        config.replace("\"languageCode\" : \"en\"", "\"languageCode\" : \"" + language.toUtf8() + "\"");
        writeConfig(config);

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
        const auto stop = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });
        program.write(input);
        QVERIFY(input.isEmpty() || program.waitForBytesWritten());
        program.closeWriteChannel();
        if (!uploaded.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(uploadedName(server), uploaded, 20000);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString errorOutput = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(errorOutput.endsWith(QStringLiteral("com.sendova.share (code -1): %1\n").arg(description)),
                 qPrintable(errorOutput));
        QCOMPARE(server.requests().size(), uploaded.isEmpty() ? 0 : 1);
    }
};

QTEST_MAIN(ShareViewControllerTest)
#include "ShareViewControllerTest.moc"
