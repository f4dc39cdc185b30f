#include "model/SetupModel.h"

#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"

#include <QTest>

using namespace sendova;
using namespace sendova::test;

namespace {

// How a failed save's error begins.
const QString saveFailed = QStringLiteral("Error saving configuration: ");

} // namespace

class SetupModelTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SheetFixture> m_fixture;
    std::unique_ptr<SetupModel> m_setup;

    SetupModel &setup() { return *m_setup; }
    AppViewModel &app() { return *m_fixture->app; }
    LoopbackHttpServer &server() { return *m_fixture->server; }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<SheetFixture>();
        m_setup = std::make_unique<SetupModel>(app());
        setup().present(false);
        setup().setServerUrl(server().baseUrl());
    }

    void cleanup()
    {
        m_setup.reset();
        m_fixture.reset();
    }

    // The login replies' table: the sheet's own tests only show each kind
    // (the API key's path is taken by serverOverrideWins).
    // A failure leaves the old account on disk, in the keyring and in the
    // running program, also when only the save failed after the server
    // handed out a key.
    void login_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        // How the error begins; empty when the setup succeeds (on the server
        // the reply names).
        QTest::addColumn<QString>("error");

        QTest::newRow("accepted, server named")
            << 200
            << QByteArray(
                   R"({"success":true,"data":{"serverUrl":"https:\/\/named.example","apiKey":"sk_new"}})")
            << QString();
        QTest::newRow("wrong password: our words, not the server's")
            << 401 << QByteArray(R"({"success":false,"error":{"code":"INVALID_CREDENTIALS","message":"x"}})")
            << text("error.invalid_credentials");
        QTest::newRow("another refusal: the server's words")
            << 409 << QByteArray(R"({"success":false,"error":{"code":"LOCKED","message":"Ask your admin"}})")
            << u"Ask your admin"_qs;
        QTest::newRow("accepted without a key")
            << 200 << QByteArray(R"({"success":true,"data":{}})") << text("error.connection_failed");
        QTest::newRow("tenant inactive")
            << 403 << QByteArray(R"({"success":false,"error":{"code":"TENANT_INACTIVE","message":"x"}})")
            << text("error.tenant_inactive");
        QTest::newRow("undecodable: no decoder text")
            << 200 << QByteArray(R"({"data":{"apiKey":"k"}})") << text("error.invalid_response");
        QTest::newRow("settings cannot be written")
            << 200 << QByteArray(R"({"success":true,"data":{"apiKey":"sk_new"}})") << saveFailed;
    }
    void login()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        m_fixture->storeAccount(QStringLiteral("https://old.example"), QStringLiteral("old-key"));
        const AppConfig before = app().config();
        if (error == saveFailed) {
            QVERIFY(QDir(m_fixture->folder()).removeRecursively());
            QVERIFY(writeAll(m_fixture->folder(), "not a folder"));
        }
        app().setShowSetup(true);
        server().enqueue(ScriptedReply::json(status, body));
        setup().setUsername(QStringLiteral("ana"));
        setup().setPassword(QStringLiteral("secret"));

        const bool done = blockingWait(setup().submit());

        QCOMPARE(done, error.isEmpty());
        const QString shown = setup().errorMessage().value_or(QString());
        QVERIFY2(shown.startsWith(error) && shown.isEmpty() == error.isEmpty(), qPrintable(shown));
        QCOMPARE(app().showSetup(), !done);
        AppConfig expected = before;
        if (done) {
            expected._serverUrl = QStringLiteral("https://named.example");
            expected.apiKey = QStringLiteral("sk_new");
            QCOMPARE(m_fixture->stored(), expected);
        }
        QCOMPARE(app().config(), expected);
        QCOMPARE(keyringSecret(), std::optional<QString>(expected.apiKey));
    }

    // The button wants what the mode needs (spaces count); a new mode
    // starts without the old mode's error.
    void buttonAndMode()
    {
        setup().setPassword(u" "_qs);
        QVERIFY(setup().isButtonDisabled());
        setup().setUsername(u" "_qs);
        QVERIFY(!setup().isButtonDisabled());
        setup().setSetupMode(SetupMode::apiKey);
        QVERIFY(setup().isButtonDisabled());
        setup().setApiKey(u"k"_qs);
        QVERIFY(!setup().isButtonDisabled());
        server().enqueue(ScriptedReply::json(401, "{}"));
        QVERIFY(!blockingWait(setup().submit()));
        QCOMPARE(setup().errorMessage(), text("setup.error.connection_failed"));
        setup().setSetupMode(SetupMode::login);
        QCOMPARE(setup().errorMessage(), std::nullopt);
    }

    // The environment's server shows, is where requests go and what is
    // stored. (When else the field shows is the sheet's test.)
    void serverOverrideWins()
    {
        qputenv(AppConfig::serverOverrideVariable, server().baseUrl().toUtf8());
        setup().present(false);
        QVERIFY(setup().showServerField());
        server().enqueue(ScriptedReply::json(200, "{}"));
        setup().setSetupMode(SetupMode::apiKey);
        setup().setApiKey(QStringLiteral("k"));
        QVERIFY(blockingWait(setup().submit()));
        QCOMPARE(m_fixture->stored()._serverUrl, server().baseUrl());
    }

    // No keyring: the one-time token is not spent on a key nothing can keep.
    void setupLinkWithoutKeyring()
    {
        QTemporaryDir folder;
        BareBus bus;
        QVERIFY2(!bus.address().isEmpty(), "dbus-daemon did not start");
        const ProbeResult refused =
            runProbe(QStringLiteral(SETUP_PROBE), bus.address(),
                     {folder.filePath(QStringLiteral("Sendova")), QStringLiteral("tok"), server().baseUrl()});
        QVERIFY(refused.finished);
        QCOMPARE(refused.output, QStringLiteral("Error|No keyring is available to store the API key"));
        QCOMPARE(server().requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(SetupModelTest)
#include "SetupModelTest.moc"
