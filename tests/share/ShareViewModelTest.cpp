#include "BlockingWait.h"
#include "ShareTestSupport.h"

#include "platform/MachineName.h"
#include "share/ShareViewModel.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace sendova;
using namespace sendova::test;

namespace {

using Replies = QList<ScriptedReply>;
using States = QList<ShareState>;

} // namespace

class ShareViewModelTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_file;
    QByteArray m_digest;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // Before anything asks where the data folder is.
        qputenv("XDG_DATA_HOME", m_root.filePath(QStringLiteral("data")).toLocal8Bit());
        qunsetenv("SENDOVA_SERVER");
        QVERIFY(ConfigService::shared().configURL().startsWith(m_root.path()));
        LocalizationService::shared().setLanguage(Language::english);
        m_file = m_root.filePath(QStringLiteral("notes.txt"));
        QVERIFY(writeFile(m_file, "hello"));
        m_digest = QCryptographicHash::hash("hello", QCryptographicHash::Sha256).toHex();
    }

    void init()
    {
        QFile::remove(ConfigService::shared().configURL());
        setKeychainKey(QStringLiteral("key-ü"));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }

    void cleanupTestCase() { setKeychainKey(QString()); }

    // The share program's own conversation: the check names the bare hex
    // digest and is answered in lower case, only the upload carries the
    // hash, and no HTTP status is looked at.
    void flow_data()
    {
        QTest::addColumn<bool>("checkDuplicates");
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<States>("expected");

        const auto uploadEnds = [](const ShareState &end) {
            return States{ShareState::loading(), ShareState::hashing(), ShareState::uploading(), end};
        };
        // The decoder's own words stay out of the window.
        const ShareState invalidReply =
            ShareState::error(LocalizationService::shared().localized("error.invalid_response"));

        QTest::newRow("check off") << false << Replies{uploadReply(sharedLink)}
                                   << uploadEnds(ShareState::success(sharedLink));
        QTest::newRow("stored copy") << true << Replies{checkReply(sharedLink)}
                                     << States{ShareState::loading(), ShareState::hashing(),
                                               ShareState::success(sharedLink)};
        QTest::newRow("no stored copy, check status 404, upload status 500")
            << true << Replies{checkReply(QString(), 404), uploadReply(sharedLink, 500)}
            << uploadEnds(ShareState::success(sharedLink));
        QTest::newRow("capitalised check reply")
            << true
            << Replies{ScriptedReply::json(200, R"({"Success":true,"Data":{"Exists":true,"Url":"x"}})")}
            << States{ShareState::loading(), ShareState::hashing(), invalidReply};
        QTest::newRow("success false") << false << Replies{ScriptedReply::json(200, R"({"Success":false})")}
                                       << uploadEnds(ShareState::error(QStringLiteral("Error desconocido")));
        QTest::newRow("server's message")
            << false
            << Replies{ScriptedReply::json(413, R"({"Success":false,"Error":{"Message":"Too big"}})")}
            << uploadEnds(ShareState::error(QStringLiteral("Too big")));
        QTest::newRow("not JSON") << false << Replies{ScriptedReply::json(200, "<html>Bad gateway</html>")}
                                  << uploadEnds(invalidReply);
    }

    void flow()
    {
        QFETCH(bool, checkDuplicates);
        QFETCH(Replies, replies);
        QFETCH(States, expected);

        LoopbackHttpServer server;
        for (const ScriptedReply &reply : replies)
            server.enqueue(reply);
        writeConfig(configJson(server.baseUrl(), QString(), false, checkDuplicates));

        ShareViewModel model;
        States states;
        connect(&model, &ShareViewModel::stateChanged, this,
                [&states](const ShareState &state) { states << state; });
        blockingWait(model.uploadFile(QUrl::fromLocalFile(m_file)));
        QCOMPARE(states, expected);
        QCOMPARE(model.fileName(), QStringLiteral("notes.txt"));
        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), replies.size());
        for (const RecordedRequest &request : requests) {
            QCOMPARE(request.header("X-API-Key"), QStringLiteral("key-ü").toUtf8());
            const bool upload = request.method == "POST";
            QCOMPARE(request.target, upload ? "/api/upload" : "/api/check/" + m_digest);
            QCOMPARE(request.header("X-File-Hash"),
                     upload ? std::optional("sha256:" + m_digest) : std::nullopt);
            if (upload)
                QCOMPARE(request.header("X-Source-Machine"), machineName().toUtf8());
        }
    }

    void configuration_data()
    {
        QTest::addColumn<QByteArray>("config"); // SERVER: the test server's address
        QTest::addColumn<QString>("keychainKey");
        QTest::addColumn<QString>("sentKey"); // empty: nothing sent
        QTest::addColumn<QString>("failure");

        const QString notConfigured =
            QStringLiteral("Sendova no está configurado. Abre la app principal primero.");
        const QString server = QStringLiteral("SERVER");
        const QByteArray valid = configJson(server, QString(), false, false);
        const QByteArray fileKey = configJson(server, QStringLiteral("file-key"), false, false);
        const auto without = [&server](const QString &member) {
            QJsonObject object = config(server, QString(), false, false);
            object.remove(member);
            return QJsonDocument(object).toJson();
        };
        const QString key = QStringLiteral("key-1");

        QTest::newRow("no config.json") << QByteArray() << key << QString() << notConfigured;
        QTest::newRow("lacks checkForDuplicates")
            << without(u"checkForDuplicates"_qs) << key << QString() << notConfigured;
        QTest::newRow("no key anywhere") << valid << QString() << QString() << notConfigured;
        QTest::newRow("keychain's key over the file's") << fileKey << key << key << QString();
        QTest::newRow("file's key without keychain item")
            << fileKey << QString() << QStringLiteral("file-key") << QString();
        QTest::newRow("languageCode is not needed") << without(u"languageCode"_qs) << key << key << QString();
        // An empty address counts as configured; the check is then skipped.
        QTest::newRow("empty server address") << configJson(QString(), QString(), false, true) << key
                                              << QString() << QStringLiteral("URL inválida");
    }

    void configuration()
    {
        QFETCH(QByteArray, config);
        QFETCH(QString, keychainKey);
        QFETCH(QString, sentKey);
        QFETCH(QString, failure);

        LoopbackHttpServer server;
        server.enqueue(uploadReply(sharedLink));
        if (!config.isEmpty())
            writeConfig(config.replace("SERVER", server.baseUrl().toUtf8()));
        setKeychainKey(keychainKey);

        ShareViewModel model;
        blockingWait(model.uploadFile(QUrl::fromLocalFile(m_file)));
        QCOMPARE(model.state(),
                 failure.isEmpty() ? ShareState::success(sharedLink) : ShareState::error(failure));
        QCOMPARE(server.requests().size(), sentKey.isEmpty() ? 0 : 1);
        if (!sentKey.isEmpty())
            QCOMPARE(server.requests()[0].header("X-API-Key"), sentKey.toUtf8());
    }

    // The window says the sharedLink is on the clipboard only when it is.
    void clipboardRules_data()
    {
        QTest::addColumn<bool>("autoCopy");
        QTest::addColumn<bool>("storedCopy");
        QTest::addColumn<bool>("copied");
        QTest::newRow("stored copy, auto-copy off") << false << true << true;
        QTest::newRow("upload, auto-copy off") << false << false << false;
        QTest::newRow("upload, auto-copy on") << true << false << true;
    }

    void clipboardRules()
    {
        QFETCH(bool, autoCopy);
        QFETCH(bool, storedCopy);
        QFETCH(bool, copied);

        LoopbackHttpServer server;
        server.enqueue(checkReply(storedCopy ? sharedLink : QString()));
        server.enqueue(uploadReply(sharedLink));
        writeConfig(configJson(server.baseUrl(), QString(), autoCopy, true));

        ShareViewModel model;
        model.copyURL(); // no sharedLink yet: nothing to copy
        blockingWait(model.uploadFile(QUrl::fromLocalFile(m_file)));
        QCOMPARE(QGuiApplication::clipboard()->text(), copied ? sharedLink : QStringLiteral("before"));
        QCOMPARE(model.linkCopied(), copied);

        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        model.copyURL();
        QCOMPARE(QGuiApplication::clipboard()->text(), sharedLink);
        QVERIFY(model.linkCopied());
    }

    // With a clock that moves a whole second between readings, every body
    // event after the first gives a speed; the last one leaves the bar full.
    void progressAndSpeedDuringUpload()
    {
        const QString path = m_root.filePath(QStringLiteral("large.bin"));
        QVERIFY(writeFile(path, QByteArray(8 * 1024 * 1024, 'x')));
        LoopbackHttpServer server;
        server.setKeepBodies(false);
        server.enqueue(uploadReply(sharedLink));
        writeConfig(configJson(server.baseUrl(), QString(), false, false));

        ShareViewModel model;
        double now = 100;
        model.setClock([&now] { return now += 1.0; });
        QList<double> progress;
        connect(&model, &ShareViewModel::changed, this, [&] { progress << model.uploadProgress(); });
        blockingWait(model.uploadFile(QUrl::fromLocalFile(path)));
        QTRY_COMPARE(model.uploadProgress(), 1.0);
        QVERIFY(model.uploadSpeed() > 0);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(model.hashProgress(), 1.0);
    }

    // Decimal units, unlike the tray program's.
    void formatSpeed_data()
    {
        QTest::addColumn<double>("speed");
        QTest::addColumn<QString>("text");
        QTest::newRow("999") << 999.0 << QStringLiteral("999 B/s");
        QTest::newRow("1000") << 1000.0 << QStringLiteral("1 KB/s");
        QTest::newRow("999999") << 999'999.0 << QStringLiteral("1000 KB/s");
        QTest::newRow("1000000") << 1'000'000.0 << QStringLiteral("1.0 MB/s");
    }

    void formatSpeed()
    {
        QFETCH(double, speed);
        QFETCH(QString, text);
        QCOMPARE(ShareViewModel::formatSpeed(speed), text);
    }
};

QTEST_MAIN(ShareViewModelTest)
#include "ShareViewModelTest.moc"
