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
#include <QTimer>

using namespace sendova;
using namespace sendova::test;

// The transport and the replies' decoding have tests of their own (tests/net,
// tests/upload); these are about what the workflow makes of them.

namespace {

// Names neither the file, nor its size, nor an expiry.
const QByteArray bareReply = R"({"Success":true,"Data":{"Url":"https://s.example/f/abc","ShortCode":"abc",)"
                             R"("FileName":"","FileSize":0,"IsDuplicate":false}})";
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

// The desktop side of the workflow (copy, complete, duplicate, error): the
// arguments of each call, in call order.
DesktopActions recordingDesktop(QStringList &calls)
{
    const auto record = [&calls](auto... parts) { calls << QStringList{parts...}.join(u' '); };
    const auto copy = [record](const QString &text) { return record(text), true; };
    return {copy, record, record, record};
}

QString failureMessage(const AppViewModel &model)
{
    const auto *failed = model.uploadProgress().state.get<UploadState::Failed>();
    return failed ? failed->message : QString();
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

    // A reply read at about 50 MB/s: a large upload reports many times, and
    // a cancel lands while the body goes out.
    void enqueueFastReader()
    {
        ScriptedReply reply = ScriptedReply::json(200, bareReply);
        reply.reading = ScriptedReply::Reading::slowly;
        reply.slowChunkBytes = 256 * 1024;
        reply.slowInterval = std::chrono::milliseconds(5);
        m_server->enqueue(reply);
    }

    // A configured view model talking to the loopback server.
    std::unique_ptr<AppViewModel> makeModel(bool checkDuplicates = true)
    {
        auto model = std::make_unique<AppViewModel>(*m_configService, recordingDesktop(m_desktopCalls));
        AppConfig config;
        config._serverUrl = m_server->baseUrl();
        config.apiKey = QStringLiteral("key-123");
        config.checkForDuplicates = checkDuplicates;
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

    // Through upload() without a task of its own, which makes one. Content
    // the server already holds is not sent again: its link is the result,
    // copied and announced, and no recent entry is made for it. A lookup that
    // says "exists" but gives no link is no result: the file goes. Unnamed by
    // the server, a sent file's entry keeps the file's name and size and
    // lasts a week, as the other programs reading recents.json expect.
    void lookup_data()
    {
        QTest::addColumn<QByteArray>("lookupReply");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("sent");
        QTest::newRow("not stored") << notStoredReply << u"https://s.example/f/abc"_qs << true;
        QTest::newRow("stored") << storedReply << u"https://s.example/f/old"_qs << false;
        QTest::newRow("exists without a link") << QByteArray(R"({"Success":true,"Data":{"Exists":true}})")
                                               << u"https://s.example/f/abc"_qs << true;
    }
    void lookup()
    {
        QFETCH(QByteArray, lookupReply);
        QFETCH(QString, url);
        QFETCH(bool, sent);
        m_server->enqueue(ScriptedReply::json(200, lookupReply));
        m_server->enqueue(ScriptedReply::json(200, bareReply));
        auto model = makeModel();

        blockingWait(model->upload(writeFile(u"report.txt"_qs, QByteArray(4000, 'z'))));

        QCOMPARE(model->uploadProgress().state, UploadState::completed(url, !sent));
        QCOMPARE(m_server->requests().size(), sent ? 2 : 1);
        QCOMPARE(m_desktopCalls, (QStringList{url, u"report.txt "_qs + url}));
        QCOMPARE(model->recentUploads().size(), sent ? 1 : 0);
        const RecentUpload entry = model->recentUploads().value(0);
        if (sent)
            QCOMPARE(entry, (RecentUpload{entry.id, u"report.txt"_qs, 4000, url, entry.uploadedAt,
                                          entry.uploadedAt.addSecs(7 * 24 * 3600)}));
    }

    // Without a key a drop opens the setup and leaves the last upload's
    // progress and log alone.
    void notConfigured()
    {
        AppViewModel model(*m_configService, recordingDesktop(m_desktopCalls));
        LogService::shared().log(u"INFO"_qs, u"Upload"_qs, u"Completed: earlier"_qs);
        model.setShowSetup(false);

        blockingWait(model.startUpload(writeFile(u"report.txt"_qs, "z")));

        QVERIFY(model.showSetup());
        QCOMPARE(model.uploadProgress(), UploadProgress{});
        QVERIFY(LogService::shared().logText().contains(u"Completed: earlier"_qs));
        QCOMPARE(m_server->requests().size(), 0);
    }

    // Reports of the transfer are thinned to one per tenth of a second, and
    // the speed is measured between accepted reports. The clock moves a
    // sixteenth of a second per reading, so every second report is accepted,
    // 0.125 s after the one before.
    void transferProgressThinned()
    {
        enqueueFastReader();
        auto model = makeModel(false);
        double now = 0;
        model->setClock([&now] { return now += 0.0625; });
        QList<QPair<qint64, double>> shown;
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            const UploadProgress &progress = model->uploadProgress();
            if (progress.state.get<UploadState::Uploading>() &&
                (shown.isEmpty() || shown.last().first != progress.bytesUploaded))
                shown.append({progress.bytesUploaded, progress.speed});
        });

        blockingWait(model->startUpload(writeFile(u"big.bin"_qs, QByteArray(16 * 1024 * 1024, 'b'))));

        QVERIFY2(shown.size() >= 3, qPrintable(QString::number(shown.size()) + u' ' + QString::number(now)));
        qint64 before = 0;
        for (const auto &[bytes, speed] : std::as_const(shown)) {
            QCOMPARE(speed, double(bytes - before) * 8);
            before = bytes;
        }
    }

    // Cancelled while the bytes go out: the transfer is aborted, the server
    // sees the client hang up, and the popover is back at rest, unannounced.
    void cancelDuringTransfer()
    {
        enqueueFastReader();
        auto model = makeModel(false);
        connect(model.get(), &AppViewModel::uploadProgressChanged, this, [&] {
            // Only once the server has the request: a hang-up before it saw
            // one would be no cancelled transfer.
            if (model->uploadProgress().state.get<UploadState::Uploading>() &&
                !m_server->requests().isEmpty())
                QTimer::singleShot(50, model.get(), &AppViewModel::cancelUpload);
        });

        const QUrl file = writeFile(u"big.bin"_qs, QByteArray());
        QVERIFY(QFile::resize(file.toLocalFile(), 64 * 1024 * 1024));

        blockingWait(model->startUpload(file));

        QVERIFY(m_server->waitForClientClose(1));
        QVERIFY(!m_server->requests().value(0).complete);
        QCOMPARE(model->uploadProgress(), UploadProgress{});
        QVERIFY(m_desktopCalls.isEmpty());
        QVERIFY(LogService::shared().logText().contains(u"Cancelled by user"_qs));
    }

    // Neither a folder nor the JSON decoder's own words reach the user; a
    // refusal's own explanation does, as plain text under the status line.
    void failures_data()
    {
        QTest::addColumn<QByteArray>("uploadReply");
        QTest::addColumn<QString>("expectedMessage");
        QTest::addColumn<QString>("expectedNotification"); // empty: not looked at
        QTest::newRow("folder") << QByteArray() << u"is a folder; only files can be uploaded"_qs << QString();
        QTest::newRow("undecodable") << QByteArray("<html>ok</html>")
                                     << u"The server sent an invalid response"_qs << QString();
        QTest::newRow("refused with a reason")
            << QByteArray("{\"Success\":false,\"Error\":{\"Code\":\"QUOTA\","
                          "\"Message\":\"Quota\\u001b[2J of\\n1 GB\\u202e used\"}}")
            << u"The server refused the upload."_qs
            << u"doc.pdf The server refused the upload.\nQuota[2J of 1 GB used"_qs;
        // Not left hanging in "uploading".
        QTest::newRow("refused without a reason")
            << QByteArray(R"({"Success":false})") << u"The server sent an invalid response"_qs << QString();
    }

    void failures()
    {
        QFETCH(QByteArray, uploadReply);
        QFETCH(QString, expectedMessage);
        QFETCH(QString, expectedNotification);
        auto model = makeModel(false);
        QUrl file = QUrl::fromLocalFile(m_dir->path());
        if (!uploadReply.isEmpty()) {
            m_server->enqueue(ScriptedReply::json(200, uploadReply));
            file = writeFile(u"doc.pdf"_qs, "%PDF");
        }

        blockingWait(model->startUpload(file));

        QVERIFY2(failureMessage(*model).contains(expectedMessage), qPrintable(failureMessage(*model)));
        if (!expectedNotification.isEmpty())
            QCOMPARE(m_desktopCalls.value(0), expectedNotification);
    }

    // Rewritten in place after its hash was taken: the server's hash check
    // refuses what arrives, as the reference server does, and the user is
    // told the file changed.
    void fileChangedAfterHashing()
    {
        auto model = makeModel();
        m_server->enqueue(ScriptedReply::json(200, notStoredReply));
        m_server->enqueue(ScriptedReply::json(
            400, R"({"Success":false,"Error":{"Code":"HASH_MISMATCH","Message":"mismatch"}})"));
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

        QCOMPARE(failureMessage(*model),
                 u"notes.txt changed while it was being uploaded, so it was not stored. Upload it again."_qs);
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
        if (blocked.isEmpty())
            return;
        QVERIFY(QFile::remove(folder) && QDir().mkdir(folder));
        QVERIFY(blockingWait(model.saveConfigAsync()));
        QVERIFY(!model.errorMessage());
    }
};

QTEST_GUILESS_MAIN(AppViewModelTest)
#include "AppViewModelTest.moc"
