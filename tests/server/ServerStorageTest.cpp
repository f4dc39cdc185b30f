#include "ServerFixture.h"

#include <csignal>
#include <dlfcn.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

// Every flush to disk this process makes, the server's and SQLite's alike,
// passes through here (see fsync below): the tests see what was flushed, and
// can hold the flush of a received file to see what the server does meanwhile.
std::mutex flushedMutex;
std::vector<std::string> flushedPaths;
std::atomic<bool> holdReceived{false};
std::atomic<bool> holding{false};

void waitWhile(const std::atomic<bool> &flag, bool value)
{
    for (int i = 0; i < 1000 && flag == value; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int recordFlush(const char *name, int fd)
{
    char target[4096];
    const auto length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    const std::string path(target, length > 0 ? std::size_t(length) : 0);
    {
        std::lock_guard lock(flushedMutex);
        flushedPaths.push_back(path);
    }
    if (holdReceived && path.find("/tmp/upload-") != std::string::npos) {
        holding = true;
        waitWhile(holdReceived, true);
    }
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, name))(fd);
}

} // namespace

extern "C" int fsync(int fd)
{
    return recordFlush("fsync", fd);
}

extern "C" int fdatasync(int fd)
{
    return recordFlush("fdatasync", fd);
}

class ServerStorageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The reply carries a link only once the file, its name in the folder and the
    // link's row are all on the disk; for content another user stored, too, so
    // that the reply takes as long as for new content and does not tell that
    // someone has it.
    void storedUploadSurvivesPowerCut()
    {
        RunningServer server;
        const std::string content = "kept through a power cut";
        server.upload("b.txt", content, std::nullopt, server.addUser("bob"));
        flushedPaths.clear();
        QCOMPARE(statusOf(server.upload("a.txt", content)), 200);
        const std::vector<std::pair<std::string, const char *>> kinds{
            {"/tmp/upload-", "received file"},
            {"/blobs/" + sha256Hex(content).substr(0, 2), "its folder"},
            {"sendova-server.db-wal", "database"}};
        QByteArrayList seen;
        for (const auto &[mark, kind] : kinds) {
            if (std::any_of(flushedPaths.begin(), flushedPaths.end(),
                            [&](const std::string &path) { return path.find(mark) != std::string::npos; })) {
                seen << kind;
            }
        }
        QCOMPARE(seen.join(", "), QByteArray("received file, its folder, database"));
    }

    void flushStallsNoOtherRequest()
    {
        RunningServer server;
        holdReceived = true;
        int uploaded = 0;
        std::jthread uploader([&] { uploaded = statusOf(server.upload("held.bin", "held")); });
        waitWhile(holding, false);
        const int checked = statusOf(server.check(prefixedHash("other"), 3));
        holdReceived = false;
        uploader.join();
        QVERIFY(holding && uploaded == 200);
        QCOMPARE(checked, 200);
    }

    // A full disk must leave a trace for the administrator, not only a 500.
    void writeFailureIsLogged()
    {
        RunningServer server;
        ErrorCapture log;
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{1 << 20, saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
        const int status = statusOf(server.upload("big.bin", std::string(3 << 20, 'x')));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(status, 500);
        QVERIFY(log.text().find("cannot write a received file: File too large") != std::string::npos);
    }

    void startUpLosesNoStoredFile_data()
    {
        QTest::addColumn<bool>("loseDatabase");
        QTest::addColumn<bool>("allowEmpty");
        QTest::addColumn<QByteArray>("said"); // part of the refusal or the log
        QTest::addColumn<int>("kept");        // files left in blobs/
        QTest::addColumn<int>("orphaned");
        QTest::newRow("database lost") << true << false << QByteArray("--allow-empty-database") << 2 << 0;
        QTest::newRow("database lost, start allowed")
            << true << true << QByteArray("moved 2 stored files") << 0 << 2;
        QTest::newRow("stored file lost") << false << false << QByteArray("missing from blobs/: 1") << 1 << 0;
    }

    // A database lost or restored without its -wal file must not cost the
    // stored files, which would then look like strays.
    void startUpLosesNoStoredFile()
    {
        QFETCH(bool, loseDatabase);
        QFETCH(bool, allowEmpty);
        QFETCH(QByteArray, said);
        QFETCH(int, kept);
        QFETCH(int, orphaned);
        RunningServer server;
        server.upload("a.txt", "first");
        server.upload("b.txt", "second");
        ServerOptions options = testOptions();
        options.dataDir = server.dataDir();
        options.allowEmptyDatabase = allowEmpty;
        server.stopServer();
        for (const char *file : {"sendova-server.db", "sendova-server.db-wal", "sendova-server.db-shm"}) {
            if (loseDatabase) {
                std::filesystem::remove(options.dataDir / file);
            }
        }
        if (!loseDatabase) {
            std::filesystem::remove(options.dataDir / "blobs" / sha256Hex("first").substr(0, 2) /
                                    sha256Hex("first"));
        }
        std::string text;
        {
            ErrorCapture log;
            try {
                SendovaServer restarted(options);
            } catch (const StorageError &error) {
                text = error.what();
            }
            text += log.text();
        }
        QVERIFY2(text.find(said.toStdString()) != std::string::npos, text.c_str());
        const auto count = [&](const char *folder) {
            std::error_code error;
            const std::filesystem::recursive_directory_iterator files(options.dataDir / folder, error);
            return int(
                std::count_if(begin(files), end(files), [](const auto &e) { return e.is_regular_file(); }));
        };
        QCOMPARE(count("blobs"), kept);
        QCOMPARE(count("blobs-orphaned"), orphaned);
    }

    // The owner's upload puts a lost stored file back, rather than answering
    // with the link that serves nothing.
    void ownersUploadHealsLostFile()
    {
        RunningServer server;
        const Json first = jsonOf(server.upload("a.txt", "healed"));
        std::filesystem::remove(server.dataDir() / "blobs" / sha256Hex("healed").substr(0, 2) /
                                sha256Hex("healed"));
        const Json again = jsonOf(server.upload("a.txt", "healed"));
        QVERIFY(again["Data"]["IsDuplicate"] == true && again["Data"]["Url"] == first["Data"]["Url"]);
        const auto download = server.client().Get(server.pathOf(first));
        QVERIFY(download && download->status == 200 && download->body == "healed");
    }

    // A link ends at its expiry, before any sweep; its content stays while
    // another user's link needs it.
    void contentLivesAsLongAsItsLinks()
    {
        ServerOptions options = testOptions();
        options.linkLifetime = std::chrono::hours(24);
        RunningServer server(options);
        const Json first = jsonOf(server.upload("a.txt", "shared"));
        server.advanceClock(std::chrono::hours(12));
        const Json bobs = jsonOf(server.upload("b.txt", "shared", std::nullopt, server.addUser("bob")));
        server.advanceClock(std::chrono::hours(12));
        QCOMPARE(statusOf(server.client().Get(server.pathOf(first))), 404);
        QCOMPARE(server.server().content().purgeExpired(), 1);
        QCOMPARE(server.client().Get(server.pathOf(bobs))->body, std::string("shared"));
        server.advanceClock(std::chrono::hours(12));
        QCOMPARE(server.server().content().purgeExpired(), 1);
        QCOMPARE(server.storedFiles(), std::vector<std::string>());
    }
};

QTEST_GUILESS_MAIN(ServerStorageTest)
#include "ServerStorageTest.moc"
