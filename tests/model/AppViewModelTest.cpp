#include "model/AppViewModel.h"

#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "platform/AutostartEntry.h"
#include "support/LocalizationService.h"
#include "support/LogService.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

using namespace sendova;
using namespace sendova::test;

// The transport and the replies' decoding have tests of their own (tests/net,
// tests/upload); these are about what the workflow makes of them.

namespace {

const QByteArray uploadedReply =
    R"({"Success":true,"Data":{"Url":"https://s.example/f/abc","ShortCode":"abc","FileName":"stored.txt",)"
    R"("FileSize":4096,"ExpiresAt":"2027-01-01T00:00:00Z","IsDuplicate":false}})";
const QByteArray bareReply = R"({"Success":true,"Data":{"Url":"https://s.example/f/abc","ShortCode":"abc",)"
                             R"("FileName":"","FileSize":0,"IsDuplicate":true}})";
const QByteArray notStoredReply = R"({"Success":true,"Data":{"Exists":false}})";
const QByteArray storedReply = R"({"Success":true,"Data":{"Exists":true,"Url":"https://s.example/f/old"}})";

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

// The desktop side of the workflow, recorded in call order.
DesktopActions recordingDesktop(QStringList &calls)
{
    const auto record = [&calls](QString kind) {
        return [&calls, kind](auto... parts) { calls << QStringList{kind, parts...}.join(u' '); };
    };
    return {record(u"copy"_qs), record(u"complete"_qs), record(u"duplicate"_qs), record(u"error"_qs)};
}

// The state cases the progress goes through, consecutive repeats folded.
void recordStates(AppViewModel &model, QStringList &cases)
{
    QObject::connect(&model, &AppViewModel::uploadProgressChanged, &model, [&cases, &model] {
        static const char *const names[] = {"idle",      "hashing",   "checking",
                                            "uploading", "completed", "failed"};
        const QString name = QLatin1String(names[int(model.uploadProgress().state.stateCase())]);
        if (cases.isEmpty() || cases.last() != name)
            cases << name;
    });
}

} // namespace

class AppViewModelTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ConfigService> m_configService;
    std::unique_ptr<LoopbackHttpServer> m_server;
    QStringList m_desktopCalls;

    QString dataFolder() const { return m_dir->filePath(u"data"_qs); }

    QUrl writeFile(const QString &name, const QByteArray &contents)
    {
        const QString path = m_dir->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            qFatal("cannot write the test file");
        return QUrl::fromLocalFile(path);
    }

    // A configured view model talking to the loopback server; desktop
    // switches both the clipboard and the notifications.
    std::unique_ptr<AppViewModel> makeModel(bool checkDuplicates = true, bool desktop = true)
    {
        auto model = std::make_unique<AppViewModel>(*m_configService, recordingDesktop(m_desktopCalls));
        AppConfig config;
        config._serverUrl = m_server->baseUrl();
        config.apiKey = QStringLiteral("key-123");
        config.checkForDuplicates = checkDuplicates;
        config.showNotifications = desktop;
        config.autoCopyToClipboard = desktop;
        model->setConfig(config);
        return model;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // The login's autostart entry goes there.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->filePath(u"config"_qs)));
        m_configService = std::make_unique<ConfigService>(dataFolder());
        m_server = std::make_unique<LoopbackHttpServer>();
        m_desktopCalls.clear();
        LocalizationService::shared().setLanguage(Language::english);
        LogService::shared().clear();
    }

    void cleanup()
    {
        m_server.reset();
        m_configService.reset();
        m_dir.reset();
    }

    // In the first row the desktop switches are off and the server names
    // neither the file's name, nor its size, nor an expiry. Through upload()
    // without a task of its own, which makes one.
    void successfulPaths_data()
    {
        QTest::addColumn<bool>("checkDuplicates");
        QTest::addColumn<QByteArray>("lookupReply");
        QTest::addColumn<QStringList>("expectedStates");
        QTest::addColumn<QStringList>("desktopCalls");

        const QStringList transferred{u"hashing"_qs, u"checking"_qs, u"uploading"_qs, u"completed"_qs};
        const QStringList completed{u"copy https://s.example/f/abc"_qs,
                                    u"complete report.txt https://s.example/f/abc"_qs};
        QTest::newRow("no duplicate check, nothing named")
            << false << QByteArray() << QStringList{u"hashing"_qs, u"uploading"_qs, u"completed"_qs}
            << QStringList();
        QTest::newRow("not stored") << true << notStoredReply << transferred << completed;
        QTest::newRow("stored") << true << storedReply
                                << QStringList{u"hashing"_qs, u"checking"_qs, u"completed"_qs}
                                << QStringList{u"copy https://s.example/f/old"_qs,
                                               u"duplicate report.txt https://s.example/f/old"_qs};
    }

    void successfulPaths()
    {
        QFETCH(bool, checkDuplicates);
        QFETCH(QByteArray, lookupReply);
        QFETCH(QStringList, expectedStates);
        QFETCH(QStringList, desktopCalls);
        if (checkDuplicates)
            m_server->enqueue(ScriptedReply::json(200, lookupReply));
        m_server->enqueue(ScriptedReply::json(200, checkDuplicates ? uploadedReply : bareReply));
        auto model = makeModel(checkDuplicates, checkDuplicates);
        QStringList states;
        recordStates(*model, states);

        blockingWait(model->upload(writeFile(u"report.txt"_qs, QByteArray(4000, 'z'))));

        QCOMPARE(states, expectedStates);
        QCOMPARE(m_desktopCalls, desktopCalls);
        const bool transfer = expectedStates.contains(u"uploading"_qs);
        QCOMPARE(m_server->requests().size(), int(checkDuplicates) + int(transfer));
        QCOMPARE(model->uploadProgress().fileName, u"report.txt"_qs);
        // Only an upload is remembered, as the server named it or else as
        // the file was, for a week, as the other programs reading
        // recents.json expect.
        QCOMPARE(model->recentUploads().size(), int(transfer));
        if (!transfer) {
            QCOMPARE(model->uploadProgress().state,
                     UploadState::completed(u"https://s.example/f/old"_qs, true));
            return;
        }
        const RecentUpload &entry = model->recentUploads().first();
        const QDateTime expiry = checkDuplicates ? QDateTime(QDate(2027, 1, 1), QTime(0, 0), QTimeZone::utc())
                                                 : entry.uploadedAt.addSecs(7 * 24 * 3600);
        QCOMPARE(entry, (RecentUpload{entry.id, checkDuplicates ? u"stored.txt"_qs : u"report.txt"_qs,
                                      checkDuplicates ? 4096 : 4000, u"https://s.example/f/abc"_qs,
                                      entry.uploadedAt, expiry}));
        QCOMPARE(model->uploadProgress().state, UploadState::completed(entry.url, !checkDuplicates));
    }

    void failures_data()
    {
        // Empty: the upload is of a folder.
        QTest::addColumn<QByteArray>("uploadReply");
        QTest::addColumn<QString>("expectedMessage");
        QTest::addColumn<QString>("serverMessage");
        QTest::newRow("folder") << QByteArray() << u"is a folder, not a regular file"_qs << QString();
        QTest::newRow("decoder failure: no decoder text")
            << QByteArray("<html>ok</html>") << u"The server sent an invalid response"_qs << QString();
        QTest::newRow("refused with an error")
            << QByteArray(R"({"Success":false,"Error":{"Code":"QUOTA","Message":"Over quota"}})")
            << u"Server error (0)"_qs << u"Over quota"_qs;
    }

    void failures()
    {
        QFETCH(QByteArray, uploadReply);
        QFETCH(QString, expectedMessage);
        QFETCH(QString, serverMessage);
        auto model = makeModel();
        QUrl file = QUrl::fromLocalFile(m_dir->path());
        if (!uploadReply.isEmpty()) {
            m_server->enqueue(ScriptedReply::json(200, notStoredReply));
            m_server->enqueue(ScriptedReply::json(200, uploadReply));
            file = writeFile(u"doc.pdf"_qs, "%PDF");
        }

        blockingWait(model->startUpload(file));

        const auto *failed = model->uploadProgress().state.get<UploadState::Failed>();
        QVERIFY(failed);
        QVERIFY2(failed->message.contains(expectedMessage), qPrintable(failed->message));
        QCOMPARE(m_server->requests().size(), uploadReply.isEmpty() ? 0 : 2);
        // The server's own words stay available to callers that show them.
        QCOMPARE(model->lastFailure()->description, failed->message);
        QCOMPARE(model->lastFailure()->serverMessage, serverMessage);
        QCOMPARE(m_desktopCalls, QStringList{u"error "_qs + file.fileName() + u' ' + failed->message});
    }

    // Rewritten in place after its hash was taken: the server's hash check
    // refuses what arrives, as the reference server does, and the user is
    // told the file changed.
    void fileChangedAfterHashing()
    {
        auto model = makeModel();
        m_server->enqueue(ScriptedReply::json(200, notStoredReply));
        m_server->enqueue(ScriptedReply::json(
            400,
            R"({"Success":false,"Error":{"Code":"HASH_MISMATCH","Message":"The received content does not match X-File-Hash"}})"));
        const QUrl file = writeFile(u"notes.txt"_qs, "first draft");
        // Well past the file system's time stamp granularity.
        QTest::qWait(30);
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            if (!model->uploadProgress().state.get<UploadState::CheckingDuplicate>())
                return;
            // Same size, other bytes: only the time stamps tell.
            QFile edited(file.toLocalFile());
            QVERIFY(edited.open(QIODevice::ReadWrite) && edited.write("FIRST") == 5);
        });

        blockingWait(model->startUpload(file));

        QCOMPARE(m_server->requests().size(), 2);
        const auto *failed = model->uploadProgress().state.get<UploadState::Failed>();
        QVERIFY(failed);
        QCOMPARE(failed->message,
                 u"notes.txt changed while it was being uploaded, so it was not stored. Upload it again."_qs);
        // The log keeps what the server said.
        QVERIFY(
            LogService::shared().logText().contains(u"The received content does not match X-File-Hash"_qs));
    }

    // The hash of a cancelled upload stops at its next chunk, so the file is
    // not read to its end; and nothing the cancelled upload does after the
    // cancel lands on the progress or the log of the upload started after
    // it, which begins a fresh log.
    void cancelDuringHashing()
    {
        m_server->setDefaultReply(ScriptedReply::json(200, bareReply));
        auto model = makeModel(false);
        const qint64 size = 256 * 1024 * 1024;
        const QUrl old = writeFile(u"old.bin"_qs, QByteArray());
        QVERIFY(QFile::resize(old.toLocalFile(), size));
        std::optional<QCoro::Task<>> next;
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            const auto *hashing = model->uploadProgress().state.get<UploadState::Hashing>();
            if (!next && hashing && hashing->progress > 0) {
                model->cancelUpload();
                next = model->startUpload(writeFile(u"new.txt"_qs, "new"));
            }
        });
        const qint64 readBefore = bytesReadByThisProcess();

        blockingWait(model->startUpload(old));
        QVERIFY(next);
        blockingWait(std::move(*next));

        QVERIFY(bytesReadByThisProcess() - readBefore < size / 4);
        QCOMPARE(model->uploadProgress().fileName, u"new.txt"_qs);
        QCOMPARE(model->uploadProgress().state, UploadState::completed(u"https://s.example/f/abc"_qs, true));
        const QString log = LogService::shared().logText();
        QVERIFY2(!log.contains(u"old.bin"_qs) && !log.contains(u"Cancelled"_qs), qPrintable(log));
    }

    // The hashing thread still reports after the popover's model is gone;
    // that must land nowhere (the sanitizer build sees a use after free).
    void modelGoneWhileHashing()
    {
        auto model = makeModel(false);
        QPointer<AppViewModel> watch(model.get());
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            if (model && model->uploadProgress().state.get<UploadState::Hashing>())
                QTimer::singleShot(0, this, [&] { model.reset(); });
        });
        blockingWait(model->startUpload(writeFile(u"big.bin"_qs, QByteArray(16 * 1024 * 1024, 'd'))));
        QVERIFY(!watch);
        QTest::qWait(50);
        QCOMPARE(m_server->requests().size(), 0);
    }

    // A save makes the login's autostart entry follow the setting. An entry
    // that cannot be written fails the save like any other write, a save that
    // fails takes back the entry it wrote, and the next good save clears the
    // error. No key: the keyring stays out of it.
    void autostartFollowsTheSave_data()
    {
        QTest::addColumn<QString>("blocked");
        QTest::newRow("switched on") << QString();
        QTest::newRow("entry cannot be written") << u"entry"_qs;
        QTest::newRow("settings cannot be written") << u"settings"_qs;
    }
    void autostartFollowsTheSave()
    {
        QFETCH(QString, blocked);
        AppViewModel model(*m_configService);
        QVERIFY(blockingWait(model.saveConfigAsync()));
        // A file where the folder should be.
        const QString folder =
            blocked == u"entry"_qs ? QFileInfo(AutostartEntry::path()).path() : dataFolder();
        if (!blocked.isEmpty()) {
            QVERIFY(QDir(folder).removeRecursively() && QDir().mkpath(QFileInfo(folder).path()));
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        }
        AppConfig config = model.config();
        config.launchAtLogin = true;
        model.setConfig(config);

        QCOMPARE(blockingWait(model.saveConfigAsync()), blocked.isEmpty());

        QCOMPARE(QFileInfo(AutostartEntry::path()).isFile(), blocked.isEmpty());
        QCOMPARE(model.errorMessage().has_value(), !blocked.isEmpty());
        if (blocked.isEmpty())
            return;
        QVERIFY2(model.errorMessage()->startsWith(u"Error saving configuration: "_qs),
                 qPrintable(*model.errorMessage()));
        QVERIFY(QFile::remove(folder) && QDir().mkdir(folder));
        QVERIFY(blockingWait(model.saveConfigAsync()));
        QVERIFY(!model.errorMessage());
    }
};

QTEST_GUILESS_MAIN(AppViewModelTest)
#include "AppViewModelTest.moc"
