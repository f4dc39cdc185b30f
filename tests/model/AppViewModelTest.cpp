#include "model/AppViewModel.h"

#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "support/LocalizationService.h"
#include "support/LogService.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

using namespace sendova;
using namespace sendova::test;
using namespace std::chrono_literals;

namespace {

const QByteArray uploadedReply =
    R"({"Success":true,"Data":{"Url":"https://s.example/f/abc","ShortCode":"abc","FileName":"stored.txt",)"
    R"("FileSize":4096,"ExpiresAt":"2027-01-01T00:00:00Z","IsDuplicate":false}})";
const QByteArray bareReply = R"({"Success":true,"Data":{"Url":"https://s.example/f/abc","ShortCode":"abc",)"
                             R"("FileName":"","FileSize":0,"IsDuplicate":true}})";
const QByteArray notStoredReply = R"({"Success":true,"Data":{"Exists":false}})";
const QByteArray storedReply = R"({"Success":true,"Data":{"Exists":true,"Url":"https://s.example/f/old"}})";
const QByteArray storedWithoutLinkReply = R"({"Success":true,"Data":{"Exists":true}})";
const QByteArray refusedWithErrorReply =
    R"({"Success":false,"Error":{"Code":"QUOTA","Message":"Over quota"}})";
const QByteArray refusedBareReply = R"({"Success":false})";
const QByteArray tooLargeReply =
    R"({"Success":false,"Error":{"Code":"FILE_TOO_LARGE","Message":"Too large for this server"}})";

// A listening socket in the file system, which stat() shows as a socket.
struct UnixSocket
{
    int fd = -1;
    bool bind(const QString &path)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        ::unlink(name.constData());
        std::memcpy(address.sun_path, name.constData(),
                    size_t(qMin(name.size(), qsizetype(sizeof address.sun_path - 1))));
        return fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~UnixSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// What read() has taken in, all threads of this process together.
qint64 bytesReadByThisProcess()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        qFatal("no /proc/self/io");
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            return line.mid(7).toLongLong();
    }
    return -1;
}

// "LEVEL   [Category] message", without the time stamp.
QStringList logLines()
{
    const QString text = LogService::shared().logText();
    QStringList lines;
    if (!text.isEmpty()) {
        for (const QString &line : text.split(QLatin1Char('\n')))
            lines << line.mid(line.indexOf(QLatin1String("] ")) + 2);
    }
    return lines;
}

QString sha256Text(const QByteArray &bytes)
{
    return QLatin1String("sha256:") +
           QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The desktop side of the workflow, recorded in call order.
struct DesktopRecorder
{
    QStringList calls;

    DesktopActions actions()
    {
        DesktopActions actions;
        actions.copyToClipboard = [this](const QString &text) { calls << QLatin1String("copy ") + text; };
        actions.showUploadComplete = [this](const QString &name, const QString &url) {
            calls << QLatin1String("complete ") + name + QLatin1Char(' ') + url;
        };
        actions.showDuplicate = [this](const QString &name, const QString &url) {
            calls << QLatin1String("duplicate ") + name + QLatin1Char(' ') + url;
        };
        actions.showError = [this](const QString &name, const QString &message) {
            calls << QLatin1String("error ") + name + QLatin1String(": ") + message;
        };
        return actions;
    }
};

// The state cases the progress went through, consecutive repeats folded.
struct StateRecorder
{
    QStringList cases;

    void attach(AppViewModel &model)
    {
        QObject::connect(&model, &AppViewModel::uploadProgressChanged, &model, [this, &model] {
            static const char *const names[] = {"idle",      "hashing",   "checking",
                                                "uploading", "completed", "failed"};
            const QString name = QLatin1String(names[int(model.uploadProgress().state.stateCase())]);
            if (cases.isEmpty() || cases.last() != name)
                cases << name;
        });
    }
};

} // namespace

class AppViewModelTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ConfigService> m_configService;
    std::unique_ptr<LoopbackHttpServer> m_server;
    DesktopRecorder m_desktop;

    QUrl writeFile(const QString &name, const QByteArray &contents)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            qFatal("cannot write the test file");
        return QUrl::fromLocalFile(path);
    }

    // A configured view model talking to the loopback server.
    std::unique_ptr<AppViewModel> makeModel(bool checkDuplicates = true, bool notify = true, bool copy = true)
    {
        auto model = std::make_unique<AppViewModel>(*m_configService, m_desktop.actions());
        AppConfig config;
        config._serverUrl = m_server->baseUrl();
        config.apiKey = QStringLiteral("key-123");
        config.checkForDuplicates = checkDuplicates;
        config.showNotifications = notify;
        config.autoCopyToClipboard = copy;
        model->setConfig(config);
        return model;
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        const QString folder =
            m_dir.filePath(QStringLiteral("data-") + QString::number(QRandomGenerator::global()->generate()));
        m_configService = std::make_unique<ConfigService>(folder);
        m_server = std::make_unique<LoopbackHttpServer>();
        m_desktop.calls.clear();
        LocalizationService::shared().setLanguage(Language::english);
        LogService::shared().clear();
    }

    void cleanup()
    {
        m_server.reset();
        m_configService.reset();
    }

    void notConfiguredOpensSetupOnly()
    {
        auto model = makeModel();
        AppConfig config = model->config();
        config.apiKey.clear();
        model->setConfig(config);
        model->setShowSetup(false);
        LogService::shared().log(QStringLiteral("INFO"), QStringLiteral("Test"), QStringLiteral("kept"));
        StateRecorder states;
        states.attach(*model);

        blockingWait(model->startUpload(writeFile(QStringLiteral("a.txt"), "abc")));

        QVERIFY(model->showSetup());
        QCOMPARE(logLines(), QStringList{QStringLiteral("INFO    [Test] kept")});
        QVERIFY(states.cases.isEmpty());
        QCOMPARE(model->uploadProgress(), UploadProgress{});
        QCOMPARE(m_server->requests().size(), 0);
    }

    void successfulPaths_data()
    {
        QTest::addColumn<bool>("checkDuplicates");
        QTest::addColumn<QByteArray>("lookupReply");
        QTest::addColumn<QStringList>("expectedStates");
        QTest::addColumn<bool>("expectTransfer");

        const QStringList transferred{u"hashing"_qs, u"checking"_qs, u"uploading"_qs, u"completed"_qs};
        QTest::newRow("no duplicate check")
            << false << QByteArray() << QStringList{u"hashing"_qs, u"uploading"_qs, u"completed"_qs} << true;
        QTest::newRow("not stored") << true << notStoredReply << transferred << true;
        QTest::newRow("stored without a link") << true << storedWithoutLinkReply << transferred << true;
        QTest::newRow("stored") << true << storedReply
                                << QStringList{u"hashing"_qs, u"checking"_qs, u"completed"_qs} << false;
    }

    void successfulPaths()
    {
        QFETCH(bool, checkDuplicates);
        QFETCH(QByteArray, lookupReply);
        QFETCH(QStringList, expectedStates);
        QFETCH(bool, expectTransfer);

        if (checkDuplicates)
            m_server->enqueue(ScriptedReply::json(200, lookupReply));
        m_server->enqueue(ScriptedReply::json(200, uploadedReply));
        auto model = makeModel(checkDuplicates);
        StateRecorder states;
        states.attach(*model);
        const QByteArray contents(4000, 'z');
        const QString hash = sha256Text(contents);

        blockingWait(model->startUpload(writeFile(QStringLiteral("report 1.txt"), contents)));

        QCOMPARE(states.cases, expectedStates);
        const QList<RecordedRequest> requests = m_server->requests();
        QCOMPARE(requests.size(), int(checkDuplicates) + int(expectTransfer));
        if (checkDuplicates)
            QCOMPARE(requests.first().target, "/api/check/" + hash.toLatin1());
        const QString server = m_server->baseUrl();
        QStringList expectedLog{
            u"INFO    [Upload] Starting upload: report 1.txt (4.0 kB)"_qs,
            u"DEBUG   [Upload] Server: "_qs + server,
            u"DEBUG   [Upload] CheckDuplicates: "_qs + (checkDuplicates ? u"true"_qs : u"false"_qs),
            u"DEBUG   [Hash] Calculating SHA-256..."_qs,
            u"INFO    [Hash] Calculated: "_qs + hash,
        };
        const UploadProgress &progress = model->uploadProgress();
        QCOMPARE(progress.fileName, u"report 1.txt"_qs);
        QCOMPARE(progress.fileSize, 4000);
        if (expectTransfer) {
            const RecordedRequest &post = requests.last();
            QCOMPARE(post.method, QByteArray("POST"));
            QCOMPARE(post.header("X-File-Hash"), std::optional<QByteArray>(hash.toLatin1()));
            QCOMPARE(post.header("X-API-Key"), std::optional<QByteArray>("key-123"));
            expectedLog << u"INFO    [Upload] Starting file transfer..."_qs
                        << u"INFO    [Upload] Completed: https://s.example/f/abc"_qs;
            QCOMPARE(progress.state, UploadState::completed(u"https://s.example/f/abc"_qs, false));
            QCOMPARE(m_desktop.calls, (QStringList{u"copy https://s.example/f/abc"_qs,
                                                   u"complete report 1.txt https://s.example/f/abc"_qs}));
            QCOMPARE(model->recentUploads().size(), 1);
            const RecentUpload &entry = model->recentUploads().first();
            QCOMPARE(entry.fileName, u"stored.txt"_qs);
            QCOMPARE(entry.fileSize, 4096);
            QCOMPARE(entry.expiresAt, QDateTime(QDate(2027, 1, 1), QTime(0, 0), QTimeZone::utc()));
            QCOMPARE(m_configService->loadRecentUploads(), model->recentUploads());
        } else {
            expectedLog << u"INFO    [Upload] Duplicate found: https://s.example/f/old"_qs;
            QCOMPARE(progress.state, UploadState::completed(u"https://s.example/f/old"_qs, true));
            QCOMPARE(m_desktop.calls, (QStringList{u"copy https://s.example/f/old"_qs,
                                                   u"duplicate report 1.txt https://s.example/f/old"_qs}));
            QVERIFY(model->recentUploads().isEmpty());
        }
        // The requests' own lines are the upload client's to test.
        const QStringList workflowLines =
            logLines().filter(QRegularExpression(u"^\\S+ +\\[(Upload|Hash)\\]"_qs));
        QCOMPARE(workflowLines, expectedLog);
    }

    void switchesOffMeanNoDesktopCalls()
    {
        m_server->enqueue(ScriptedReply::json(200, storedReply));
        auto duplicateModel = makeModel(true, false, false);
        blockingWait(duplicateModel->startUpload(writeFile(u"a.txt"_qs, "a")));
        QCOMPARE(duplicateModel->uploadProgress().state,
                 UploadState::completed(u"https://s.example/f/old"_qs, true));

        m_server->enqueue(ScriptedReply::json(200, uploadedReply));
        auto model = makeModel(false, false, false);
        blockingWait(model->startUpload(writeFile(u"b.txt"_qs, "b")));
        QCOMPARE(model->uploadProgress().state, UploadState::completed(u"https://s.example/f/abc"_qs, false));
        QVERIFY(m_desktop.calls.isEmpty());
    }

    void recentEntryFallsBackToTheLocalFile()
    {
        m_server->enqueue(ScriptedReply::json(201, bareReply));
        auto model = makeModel(false);
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        blockingWait(model->startUpload(writeFile(u"local name.bin"_qs, QByteArray(777, 'q'))));
        const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(1);

        QCOMPARE(model->uploadProgress().state, UploadState::completed(u"https://s.example/f/abc"_qs, true));
        QCOMPARE(model->recentUploads().size(), 1);
        const RecentUpload &entry = model->recentUploads().first();
        QCOMPARE(entry.fileName, u"local name.bin"_qs);
        QCOMPARE(entry.fileSize, 777);
        QVERIFY(entry.uploadedAt >= before && entry.uploadedAt <= after);
        // A week, as the other programs reading recents.json expect.
        QCOMPARE(entry.uploadedAt.secsTo(entry.expiresAt), qint64(7 * 24 * 3600));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("notify");
        QTest::addColumn<QString>("expectedMessage");
        QTest::addColumn<int>("expectedRequests");

        QTest::newRow("missing file") << u"missing"_qs << true << u"No such file or directory"_qs << 0;
        QTest::newRow("folder") << u"folder"_qs << true << u"is a folder, not a regular file"_qs << 0;
        QTest::newRow("socket") << u"socket"_qs << true << u"is a socket, not a regular file"_qs << 0;
        QTest::newRow("lookup status 500, silent")
            << u"lookup500"_qs << false << u"Server error (500)"_qs << 1;
        QTest::newRow("upload status 413") << u"upload413"_qs << true << u"Server error (413)"_qs << 2;
        QTest::newRow("upload not JSON")
            << u"notJson"_qs << true << u"The server sent an invalid response"_qs << 2;
        QTest::newRow("refused with error") << u"refusedError"_qs << true << u"Server error (0)"_qs << 2;
        QTest::newRow("refused bare")
            << u"refusedBare"_qs << true << u"The server sent an invalid response"_qs << 2;
        QTest::newRow("connection refused") << u"refused"_qs << true << u"Network error: "_qs << 0;
    }

    void failures()
    {
        QFETCH(QString, step);
        QFETCH(bool, notify);
        QFETCH(QString, expectedMessage);
        QFETCH(int, expectedRequests);

        auto model = makeModel(true, notify);
        if (step == u"lookup500"_qs) {
            m_server->enqueue(ScriptedReply::json(500, "<html>oops</html>"));
        } else if (!QStringList{u"missing"_qs, u"folder"_qs, u"socket"_qs, u"refused"_qs}.contains(step)) {
            m_server->enqueue(ScriptedReply::json(200, notStoredReply));
            const QHash<QString, ScriptedReply> replies = {
                {u"upload413"_qs, ScriptedReply::json(413, tooLargeReply)},
                {u"notJson"_qs, ScriptedReply::json(200, "<html>ok</html>")},
                {u"refusedError"_qs, ScriptedReply::json(200, refusedWithErrorReply)},
                {u"refusedBare"_qs, ScriptedReply::json(200, refusedBareReply)},
            };
            m_server->enqueue(replies.value(step));
        }
        if (step == u"refused"_qs) {
            AppConfig config = model->config();
            config._serverUrl = u"http://127.0.0.1:"_qs + QString::number(LoopbackHttpServer::unusedPort());
            model->setConfig(config);
        }
        StateRecorder states;
        states.attach(*model);
        UnixSocket socket;
        QUrl file = writeFile(u"doc.pdf"_qs, "%PDF");
        if (step == u"missing"_qs)
            file = QUrl::fromLocalFile(m_dir.filePath(u"gone.txt"_qs));
        if (step == u"folder"_qs)
            file = QUrl::fromLocalFile(m_dir.path());
        if (step == u"socket"_qs) {
            QVERIFY(socket.bind(m_dir.filePath(u"socket"_qs)));
            file = QUrl::fromLocalFile(m_dir.filePath(u"socket"_qs));
        }

        blockingWait(model->startUpload(file));

        const auto *failed = model->uploadProgress().state.get<UploadState::Failed>();
        QVERIFY(failed);
        if (!expectedMessage.isEmpty())
            QVERIFY2(failed->message.contains(expectedMessage), qPrintable(failed->message));
        QCOMPARE(states.cases.last(), u"failed"_qs);
        if (step == u"missing"_qs || step == u"folder"_qs || step == u"socket"_qs) {
            // Nothing was read: the progress keeps the previous (resting) fields.
            QCOMPARE(states.cases, QStringList{u"failed"_qs});
            QCOMPARE(model->uploadProgress().fileName, QString());
        } else {
            QCOMPARE(model->uploadProgress().fileName, u"doc.pdf"_qs);
        }
        QCOMPARE(m_server->requests().size(), expectedRequests);
        QVERIFY(logLines().last().startsWith(u"ERROR   [Upload] Failed: "_qs));
        QVERIFY(model->recentUploads().isEmpty());
        // The server's own words stay available to callers that show them.
        QVERIFY(model->lastFailure());
        QCOMPARE(model->lastFailure()->description, failed->message);
        const QHash<QString, QPair<int, QString>> refusals = {
            {u"upload413"_qs, {413, u"Too large for this server"_qs}},
            {u"refusedError"_qs, {0, u"Over quota"_qs}},
        };
        if (refusals.contains(step)) {
            QCOMPARE(model->lastFailure()->serverStatus, std::optional<int>(refusals[step].first));
            QCOMPARE(model->lastFailure()->serverMessage, refusals[step].second);
        }
        const QString name = file.fileName();
        QCOMPARE(m_desktop.calls,
                 notify ? QStringList{u"error "_qs + name + u": "_qs + failed->message} : QStringList{});
    }

    // Written to or replaced while the lookup ran, after its hash was taken:
    // the server's hash check refuses what arrives, as the reference server
    // does, and the user is told the file changed.
    void fileChangedAfterHashing_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("same size, other bytes") << u"rewrite"_qs;
        QTest::newRow("grown") << u"append"_qs;
        QTest::newRow("shrunk") << u"truncate"_qs;
        QTest::newRow("replaced by rename") << u"rename"_qs;
    }
    void fileChangedAfterHashing()
    {
        QFETCH(QString, change);
        auto model = makeModel();
        ScriptedReply lookup = ScriptedReply::json(200, notStoredReply);
        lookup.delay = 300ms;
        m_server->enqueue(lookup);
        m_server->enqueue(ScriptedReply::json(
            400,
            R"({"Success":false,"Error":{"Code":"HASH_MISMATCH","Message":"The received content does not match X-File-Hash"}})"));
        const QUrl file = writeFile(u"notes.txt"_qs, "first draft");
        const QString path = file.toLocalFile();
        // Well past the file system's time stamp granularity.
        QTest::qWait(30);
        QTimer changer;
        connect(&changer, &QTimer::timeout, this, [&] {
            if (m_server->requests().isEmpty())
                return;
            changer.stop();
            if (change == u"rename"_qs) {
                writeFile(u"notes.new"_qs, "second take");
                QVERIFY(::rename(QFile::encodeName(m_dir.filePath(u"notes.new"_qs)).constData(),
                                 QFile::encodeName(path).constData()) == 0);
                return;
            }
            QFile edited(path);
            QVERIFY(edited.open(change == u"append"_qs ? QIODevice::Append : QIODevice::ReadWrite));
            if (change == u"truncate"_qs)
                QVERIFY(edited.resize(5));
            else
                edited.write(change == u"append"_qs ? "!" : "FIRST");
        });
        changer.start(5);

        blockingWait(model->startUpload(file));

        QCOMPARE(m_server->requests().size(), 2);
        const auto *failed = model->uploadProgress().state.get<UploadState::Failed>();
        QVERIFY(failed);
        QCOMPARE(failed->message,
                 u"notes.txt changed while it was being uploaded, so it was not stored. Upload it again."_qs);
        // The log keeps what the server said.
        QVERIFY2(logLines().last().endsWith(
                     u"serverError(400): The received content does not match X-File-Hash"_qs),
                 qPrintable(logLines().last()));
        QVERIFY(model->recentUploads().isEmpty());
        QCOMPARE(m_desktop.calls, QStringList{u"error notes.txt: "_qs + failed->message});
    }

    // Reports 62.5 ms apart: only every second one is at least 0.1 s after
    // the last accepted one, and the first is too early.
    void transferReportsAreThinned()
    {
        m_server->setDefaultReply(ScriptedReply::json(200, uploadedReply));
        ScriptedReply slow = ScriptedReply::json(200, uploadedReply);
        slow.reading = ScriptedReply::Reading::slowly;
        slow.slowChunkBytes = 64 * 1024;
        slow.slowInterval = 5ms;
        m_server->enqueue(slow);
        auto model = makeModel(false);
        int ticks = 0;
        model->setClock([&ticks] { return 0.0625 * ticks++; });
        QList<QPair<qint64, double>> accepted;
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            const UploadProgress &p = model->uploadProgress();
            if (accepted.isEmpty() ? p.bytesUploaded != 0 : accepted.last().first != p.bytesUploaded)
                accepted << qMakePair(p.bytesUploaded, p.speed);
        });

        blockingWait(model->startUpload(writeFile(u"big.bin"_qs, QByteArray(2 * 1024 * 1024, 'b'))));

        const int reports = ticks - 1; // the first tick started the meter
        QVERIFY2(reports >= 4, qPrintable(QString::number(reports)));
        QCOMPARE(accepted.size(), reports / 2);
        qint64 previous = 0;
        for (const auto &[bytes, speed] : accepted) {
            QCOMPARE(speed, double(bytes - previous) / 0.125);
            previous = bytes;
        }
    }

    // The hash stops at its next chunk: the file is not read to its end.
    void cancelDuringHashing()
    {
        auto model = makeModel();
        StateRecorder states;
        states.attach(*model);
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            const auto *hashing = model->uploadProgress().state.get<UploadState::Hashing>();
            if (hashing && hashing->progress > 0 && model->currentUploadTask())
                model->cancelUpload();
        });
        const qint64 size = 256 * 1024 * 1024;
        const QUrl file = writeFile(u"large.bin"_qs, QByteArray());
        QVERIFY(QFile::resize(file.toLocalFile(), size));
        const qint64 readBefore = bytesReadByThisProcess();

        blockingWait(model->startUpload(file));

        QVERIFY(bytesReadByThisProcess() - readBefore < size / 4);
        QCOMPARE(model->uploadProgress(), UploadProgress{});
        QVERIFY(!model->currentUploadTask());
        QCOMPARE(m_server->requests().size(), 0);
        QCOMPARE(logLines().last(), u"INFO    [Upload] Cancelled by user"_qs);
        QVERIFY(m_desktop.calls.isEmpty());
    }

    // A cancelled upload, still hashing, never writes over the progress or
    // the log of the upload started after it.
    void cancelledUploadLeavesTheNextOneAlone()
    {
        m_server->setDefaultReply(ScriptedReply::json(200, bareReply));
        auto model = makeModel(false);
        const QUrl old = writeFile(u"old.bin"_qs, QByteArray());
        QVERIFY(QFile::resize(old.toLocalFile(), 64 * 1024 * 1024));
        std::optional<QCoro::Task<>> next;
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            const auto *hashing = model->uploadProgress().state.get<UploadState::Hashing>();
            if (!next && hashing && hashing->progress > 0) {
                model->cancelUpload();
                next = model->startUpload(writeFile(u"new.txt"_qs, "new"));
            }
        });

        blockingWait(model->startUpload(old));
        QVERIFY(next);
        blockingWait(std::move(*next));

        QCOMPARE(model->uploadProgress().fileName, u"new.txt"_qs);
        QCOMPARE(model->uploadProgress().fileSize, 3);
        QCOMPARE(model->uploadProgress().state, UploadState::completed(u"https://s.example/f/abc"_qs, true));
        const QString log = LogService::shared().logText();
        QVERIFY2(!log.contains(u"old.bin"_qs) && !log.contains(u"Cancelled"_qs), qPrintable(log));
    }

    void uploadWithoutATaskMakesOne()
    {
        m_server->enqueue(ScriptedReply::json(200, uploadedReply));
        auto model = makeModel(false);
        blockingWait(model->upload(writeFile(u"a.txt"_qs, "a")));
        QCOMPARE(model->uploadProgress().state, UploadState::completed(u"https://s.example/f/abc"_qs, false));
    }

    void eachUploadStartsAFreshLog()
    {
        m_server->setDefaultReply(ScriptedReply::json(200, uploadedReply));
        auto model = makeModel(false);
        blockingWait(model->startUpload(writeFile(u"first.txt"_qs, "1")));
        blockingWait(model->startUpload(writeFile(u"second.txt"_qs, "2")));
        const QString log = LogService::shared().logText();
        QVERIFY(log.contains(u"second.txt"_qs));
        QVERIFY(!log.contains(u"first.txt"_qs));
        QCOMPARE(model->recentUploads().size(), 2);
    }

    void backToBackUploadsBothRun()
    {
        ScriptedReply slow = ScriptedReply::json(200, uploadedReply);
        slow.delay = 300ms;
        m_server->enqueue(slow);
        m_server->setDefaultReply(ScriptedReply::json(200, bareReply));
        auto model = makeModel(false);
        QCoro::Task<> first = model->startUpload(writeFile(u"one.txt"_qs, "1"));
        QCoro::Task<> second = model->startUpload(writeFile(u"two.txt"_qs, "2"));
        blockingWait(std::move(second));
        blockingWait(std::move(first));
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(model->recentUploads().size(), 2);
        // The slower first upload finished last, so its result is the one shown.
        QCOMPARE(model->uploadProgress().state, UploadState::completed(u"https://s.example/f/abc"_qs, false));
    }

    void progressOutlivingTheModelDoesNothing()
    {
        auto model = makeModel(false);
        QPointer<AppViewModel> watch(model.get());
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            if (model && model->uploadProgress().state.get<UploadState::Hashing>())
                QTimer::singleShot(0, this, [&] { model.reset(); });
        });
        blockingWait(model->startUpload(writeFile(u"big.bin"_qs, QByteArray(16 * 1024 * 1024, 'd'))));
        QVERIFY(!watch);
        // Whatever the hashing still reports lands after the model is gone.
        QTest::qWait(50);
        QCOMPARE(m_server->requests().size(), 0);
    }

    void saveFailureLandsInErrorMessage()
    {
        // The data folder is a file, so config.json cannot be written.
        const QString blocked = m_dir.filePath(u"blocked"_qs);
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        ConfigService broken(blocked);
        AppViewModel model(broken, {});
        AppConfig config = model.config();
        config.apiKey.clear();
        model.setConfig(config);
        QVERIFY(!model.saveConfig());
        QVERIFY(model.errorMessage());
        QVERIFY2(model.errorMessage()->startsWith(u"Error saving configuration: "_qs),
                 qPrintable(*model.errorMessage()));

        // Once the folder can take the file, a save clears the old error.
        QVERIFY(QFile::remove(blocked) && QDir().mkdir(blocked));
        QVERIFY(blockingWait(model.saveConfigAsync()));
        QVERIFY(!model.errorMessage());
    }
};

QTEST_GUILESS_MAIN(AppViewModelTest)
#include "AppViewModelTest.moc"
