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

using Replies = QList<ScriptedReply>;
using States = QList<ShareState>;

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
        QVERIFY(writeAll(m_file, "hello"));
        m_digest = QCryptographicHash::hash("hello", QCryptographicHash::Sha256).toHex();
    }

    void cleanupTestCase() { setKeychainKey(QString()); }

    // The share program's own conversation: the keychain's key, the check
    // named by the bare hex digest and answered in lower case, the hash only
    // on the upload, no HTTP status looked at, and what ends on the clipboard.
    void flow_data()
    {
        QTest::addColumn<QByteArray>("config"); // SERVER: the test server's address
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<States>("states");
        QTest::addColumn<bool>("copied");

        const QString server = QStringLiteral("SERVER");
        const auto uploadEnds = [](const ShareState &end) {
            return States{ShareState::loading(), ShareState::hashing(), ShareState::uploading(), end};
        };
        const ShareState success = ShareState::success(sharedLink);
        // The decoder's own words stay out of the window.
        const ShareState invalidReply =
            ShareState::error(LocalizationService::shared().localized("error.invalid_response"));

        QTest::newRow("stored copy, copied whatever the setting")
            << configJson(server, false, true) << Replies{checkReply(sharedLink)}
            << States{ShareState::loading(), ShareState::hashing(), success} << true;
        QTest::newRow("no stored copy, check status 404, upload status 500, auto-copy")
            << configJson(server, true, true)
            << Replies{checkReply(QString(), 404), uploadReply(sharedLink, 500)} << uploadEnds(success)
            << true;
        QTest::newRow("capitalised check reply")
            << configJson(server, true, true)
            << Replies{ScriptedReply::json(200, R"({"Success":true,"Data":{"Exists":true,"Url":"x"}})")}
            << States{ShareState::loading(), ShareState::hashing(), invalidReply} << false;
        QTest::newRow("no configuration")
            << QByteArray("not json") << Replies{}
            << States{ShareState::loading(), ShareState::error(ShareViewModel::notConfiguredText())} << false;
        // No lookup when it is off, and the link not copied when that is off.
        QTest::newRow("no lookup, no auto-copy")
            << configJson(server) << Replies{uploadReply(sharedLink)} << uploadEnds(success) << false;
        QTest::newRow("refused with the server's words")
            << configJson(server)
            << Replies{ScriptedReply::json(200, R"({"Success":false,"Error":{"Message":"Quota"}})")}
            << uploadEnds(ShareState::error(u"Quota"_qs)) << false;
        QTest::newRow("refused without words")
            << configJson(server) << Replies{ScriptedReply::json(200, R"({"Success":false})")}
            << uploadEnds(ShareState::error(ShareViewModel::unknownErrorText())) << false;
        // A newline in a pasted link is a second command.
        QTest::newRow("stored copy whose link is two lines")
            << configJson(server, false, true)
            << Replies{ScriptedReply::json(
                   200, "{\"success\":true,\"data\":{\"exists\":true,\"url\":\"http://x/\\nid\"}}")}
            << States{ShareState::loading(), ShareState::hashing(), invalidReply} << false;
    }

    // Decimal units, and no decimal for kilobytes.
    void speedText()
    {
        QCOMPARE(QStringList({ShareViewModel::formatSpeed(999), ShareViewModel::formatSpeed(1500),
                              ShareViewModel::formatSpeed(1'000'000)}),
                 QStringList({u"999 B/s"_qs, u"2 KB/s"_qs, u"1.0 MB/s"_qs}));
    }

    void flow()
    {
        QFETCH(QByteArray, config);
        QFETCH(Replies, replies);
        QFETCH(States, states);
        QFETCH(bool, copied);

        LoopbackHttpServer server;
        for (const ScriptedReply &reply : replies)
            server.enqueue(reply);
        writeConfig(config.replace("SERVER", server.baseUrl().toUtf8()));
        const QString key = QStringLiteral("key-ü");
        setKeychainKey(key);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));

        ShareViewModel model;
        // A whole second between readings: every body event after the first
        // gives a speed.
        double now = 100;
        model.setClock([&now] { return now += 1.0; });
        States seen;
        connect(&model, &ShareViewModel::stateChanged, this,
                [&seen](const ShareState &state) { seen << state; });
        blockingWait(model.uploadFile(QUrl::fromLocalFile(m_file)));
        QCOMPARE(seen, states);
        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), replies.size());
        for (const RecordedRequest &request : requests) {
            QCOMPARE(request.header("X-API-Key"), key.toUtf8());
            const bool upload = request.method == "POST";
            QCOMPARE(request.target, upload ? "/api/upload" : "/api/check/" + m_digest);
            QCOMPARE(request.header("X-File-Hash"),
                     upload ? std::optional("sha256:" + m_digest) : std::nullopt);
            if (upload) {
                QCOMPARE(request.header("X-Source-Machine"), machineName().toUtf8());
                QTRY_COMPARE(model.uploadProgress(), 1.0);
                QVERIFY(model.uploadSpeed() > 0);
            }
        }
        // The window says the link is on the clipboard only when it is.
        QCOMPARE(QGuiApplication::clipboard()->text(), copied ? sharedLink : QStringLiteral("before"));
        QCOMPARE(model.linkCopied(), copied);
        if (states.constLast() == ShareState::success(sharedLink)) {
            QCOMPARE(model.hashProgress(), 1.0);
            QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
            model.copyURL();
            QCOMPARE(QGuiApplication::clipboard()->text(), sharedLink);
            QVERIFY(model.linkCopied());
        }
    }
};

QTEST_MAIN(ShareViewModelTest)
#include "ShareViewModelTest.moc"
