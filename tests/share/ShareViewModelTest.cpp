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

    void cleanupTestCase() { setKeychainKey(QString()); }

    // The share program's own conversation: what it reads of config.json and
    // the keychain, the check named by the bare hex digest and answered in
    // lower case, the hash only on the upload, no HTTP status looked at, and
    // what ends on the clipboard.
    void flow_data()
    {
        QTest::addColumn<QByteArray>("config"); // SERVER: the test server's address
        QTest::addColumn<bool>("keychainItem"); // "key-ü"; without it the file's "file-key"
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<States>("states");
        QTest::addColumn<bool>("copied");

        const QString server = QStringLiteral("SERVER");
        const QJsonObject fileKey{{u"apiKey"_qs, u"file-key"_qs}};
        const auto uploadEnds = [](const ShareState &end) {
            return States{ShareState::loading(), ShareState::hashing(), ShareState::uploading(), end};
        };
        const States notConfigured{
            ShareState::loading(),
            ShareState::error(QStringLiteral("Sendova no está configurado. Abre la app principal primero."))};
        const ShareState success = ShareState::success(sharedLink);
        // The decoder's own words stay out of the window.
        const ShareState invalidReply =
            ShareState::error(LocalizationService::shared().localized("error.invalid_response"));

        QTest::newRow("stored copy, copied whatever the setting")
            << configJson(server, false, true) << true << Replies{checkReply(sharedLink)}
            << States{ShareState::loading(), ShareState::hashing(), success} << true;
        QTest::newRow("no stored copy, check status 404, upload status 500, auto-copy")
            << configJson(server, true, true) << true
            << Replies{checkReply(QString(), 404), uploadReply(sharedLink, 500)} << uploadEnds(success)
            << true;
        QTest::newRow("capitalised check reply")
            << configJson(server, true, true) << true
            << Replies{ScriptedReply::json(200, R"({"Success":true,"Data":{"Exists":true,"Url":"x"}})")}
            << States{ShareState::loading(), ShareState::hashing(), invalidReply} << false;
        QTest::newRow("success false")
            << configJson(server) << true << Replies{ScriptedReply::json(200, R"({"Success":false})")}
            << uploadEnds(ShareState::error(QStringLiteral("Error desconocido"))) << false;
        QTest::newRow("server's message")
            << configJson(server) << true
            << Replies{ScriptedReply::json(413, R"({"Success":false,"Error":{"Message":"Too big"}})")}
            << uploadEnds(ShareState::error(QStringLiteral("Too big"))) << false;
        QTest::newRow("no config.json") << QByteArray() << true << Replies{} << notConfigured << false;
        QTest::newRow("no key anywhere")
            << configJson(server) << false << Replies{} << notConfigured << false;
        QTest::newRow("keychain's key over the file's, check off")
            << configJson(server, false, false, fileKey) << true << Replies{uploadReply(sharedLink)}
            << uploadEnds(success) << false;
        QTest::newRow("file's key without keychain item")
            << configJson(server, false, false, fileKey) << false << Replies{uploadReply(sharedLink)}
            << uploadEnds(success) << false;
        // An empty address counts as configured; the check is then skipped.
        QTest::newRow("empty server address")
            << configJson(QString(), false, true) << true << Replies{}
            << uploadEnds(ShareState::error(QStringLiteral("URL inválida"))) << false;
    }

    void flow()
    {
        QFETCH(QByteArray, config);
        QFETCH(bool, keychainItem);
        QFETCH(Replies, replies);
        QFETCH(States, states);
        QFETCH(bool, copied);

        LoopbackHttpServer server;
        for (const ScriptedReply &reply : replies)
            server.enqueue(reply);
        QFile::remove(ConfigService::shared().configURL());
        if (!config.isEmpty())
            writeConfig(config.replace("SERVER", server.baseUrl().toUtf8()));
        const QString key = keychainItem ? QStringLiteral("key-ü") : QStringLiteral("file-key");
        setKeychainKey(keychainItem ? key : QString());
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

    // Decimal units, unlike the tray program's (the window shows megabytes).
    void formatSpeed_data()
    {
        QTest::addColumn<double>("speed");
        QTest::addColumn<QString>("text");
        QTest::newRow("999") << 999.0 << QStringLiteral("999 B/s");
        QTest::newRow("1000") << 1000.0 << QStringLiteral("1 KB/s");
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
