#include "model/SetupModel.h"

#include "BlockingWait.h"
#include "KeychainTestSupport.h"
#include "SheetTestSupport.h"

#include <QTest>

using namespace sendova;
using namespace sendova::test;

Q_DECLARE_METATYPE(sendova::SetupOutcome)

namespace {

QCoro::Task<std::optional<QString>> permissionGranted()
{
    co_return std::nullopt;
}

} // namespace

class SetupModelTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SheetFixture> m_fixture;
    std::unique_ptr<SetupModel> m_setup;
    // Whether the sheet was still up when notification permission was asked.
    QList<bool> m_permissionAsked;

    SetupModel &setup() { return *m_setup; }
    AppViewModel &app() { return *m_fixture->app; }
    LoopbackHttpServer &server() { return *m_fixture->server; }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<SheetFixture>();
        m_setup = std::make_unique<SetupModel>(app());
        m_permissionAsked.clear();
        setup().setNotificationPermissionRequest([this] {
            m_permissionAsked << app().showSetup();
            return permissionGranted();
        });
        setup().present(false);
        setup().setServerUrl(server().baseUrl());
    }

    void cleanup()
    {
        m_setup.reset();
        m_fixture.reset();
    }

    void login_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        // Empty when the login succeeds.
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("storedServer");

        QTest::newRow("accepted, server named")
            << 200
            << QByteArray(
                   R"({"success":true,"data":{"serverUrl":"https:\/\/named.example","apiKey":"sk_new"}})")
            << QString() << QStringLiteral("https://named.example");
        QTest::newRow("invalid credentials")
            << 401
            << QByteArray(
                   R"({"success":false,"error":{"code":"INVALID_CREDENTIALS","message":"Wrong password"}})")
            << text("error.invalid_credentials") << QString();
        QTest::newRow("tenant inactive")
            << 403 << QByteArray(R"({"success":false,"error":{"code":"TENANT_INACTIVE","message":"x"}})")
            << text("error.tenant_inactive") << QString();
        QTest::newRow("other code: the server's words")
            << 423 << QByteArray(R"({"success":false,"error":{"code":"LOCKED","message":"Account locked"}})")
            << QStringLiteral("Account locked") << QString();
        QTest::newRow("no key and no error") << 200 << QByteArray(R"({"success":true,"data":{}})")
                                             << text("error.connection_failed") << QString();
        QTest::newRow("undecodable: no decoder text")
            << 200 << QByteArray(R"({"data":{"apiKey":"k"}})") << text("error.invalid_response") << QString();
    }
    void login()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        QFETCH(QString, storedServer);
        m_fixture->storeAccount(QStringLiteral("https://old.example"), QStringLiteral("old-key"));
        const AppConfig before = app().config();
        app().setShowSetup(true);
        server().enqueue(ScriptedReply::json(status, body));
        setup().setUsername(QStringLiteral("ana"));
        setup().setPassword(QStringLiteral("secret"));
        QSignalSpy loading(&setup(), &SetupModel::isLoadingChanged);

        const bool done = blockingWait(setup().submit());

        QCOMPARE(loading.size(), 2);
        QVERIFY(!setup().isLoading());
        QCOMPARE(done, error.isEmpty());
        QCOMPARE(setup().errorMessage().value_or(QString()), error);
        QCOMPARE(app().showSetup(), !done);
        QCOMPARE(m_permissionAsked, done ? QList<bool>{true} : QList<bool>{});
        if (done) {
            AppConfig expected = before;
            expected._serverUrl = storedServer.isEmpty() ? server().baseUrl() : storedServer;
            expected.apiKey = QStringLiteral("sk_new");
            QCOMPARE(app().config(), expected);
            QCOMPARE(m_fixture->stored(), expected);
            QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("sk_new")));
        } else {
            QCOMPARE(app().config(), before);
            QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("old-key")));
        }
    }

    void connectWithApiKey_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("accepted") << 200 << QString();
        QTest::newRow("no content") << 204 << text("setup.error.connection_failed");
    }
    void connectWithApiKey()
    {
        QFETCH(int, status);
        QFETCH(QString, error);
        server().enqueue(ScriptedReply::json(status, "{}"));
        setup().setSetupMode(SetupMode::apiKey);
        setup().setApiKey(QStringLiteral("sk_pasted"));

        const bool done = blockingWait(setup().submit());

        QCOMPARE(done, error.isEmpty());
        QCOMPARE(setup().errorMessage().value_or(QString()), error);
        QCOMPARE(server().requests().value(0).header("X-API-Key"), std::optional<QByteArray>("sk_pasted"));
        QCOMPARE(m_fixture->stored().apiKey, done ? QStringLiteral("sk_pasted") : QString());
    }

    void transportFailureShowsItsDescription()
    {
        const QString closed = server().baseUrl();
        m_fixture->server.reset();
        setup().setServerUrl(closed);
        setup().setSetupMode(SetupMode::apiKey);
        setup().setApiKey(QStringLiteral("k"));
        QVERIFY(!blockingWait(setup().submit()));
        QVERIFY2(setup().errorMessage()->contains(QLatin1String("127.0.0.1")),
                 qPrintable(*setup().errorMessage()));
        QVERIFY(!setup().errorDetail().isEmpty());
    }

    // The environment's server is where requests go and what is stored.
    void serverOverrideWins()
    {
        qputenv(AppConfig::serverOverrideVariable, server().baseUrl().toUtf8());
        setup().present(false);
        QVERIFY(setup().showServerField());
        QCOMPARE(setup().serverUrl(), QString::fromLatin1(AppConfig::defaultServerUrl));
        QCOMPARE(setup().effectiveServerUrl(), server().baseUrl());
        server().enqueue(ScriptedReply::json(200, "{}"));
        setup().setSetupMode(SetupMode::apiKey);
        setup().setApiKey(QStringLiteral("k"));
        QVERIFY(blockingWait(setup().submit()));
        QCOMPARE(app().config()._serverUrl, server().baseUrl());
    }

    void serverFieldShows_data()
    {
        QTest::addColumn<bool>("altHeld");
        QTest::addColumn<QString>("storedServer");
        QTest::addColumn<bool>("shown");
        const QString publicServer = QString::fromLatin1(AppConfig::defaultServerUrl);
        QTest::newRow("normally hidden") << false << publicServer << false;
        QTest::newRow("Alt held") << true << publicServer << true;
        QTest::newRow("another server stored") << false << QStringLiteral("https://own.example") << true;
    }
    void serverFieldShows()
    {
        QFETCH(bool, altHeld);
        QFETCH(QString, storedServer);
        QFETCH(bool, shown);
        AppConfig config = app().config();
        config._serverUrl = storedServer;
        app().setConfig(config);
        setup().present(altHeld);
        QCOMPARE(setup().showServerField(), shown);
        QCOMPARE(setup().serverUrl(), storedServer);
    }

    void buttonFollowsTheFieldsAndAnnouncesOnlyChanges()
    {
        QSignalSpy disabled(&setup(), &SetupModel::isButtonDisabledChanged);
        QSignalSpy effective(&setup(), &SetupModel::effectiveServerUrlChanged);
        QSignalSpy user(&setup(), &SetupModel::usernameChanged);
        QVERIFY(setup().isButtonDisabled());
        setup().setUsername(QStringLiteral("ana"));
        setup().setUsername(QStringLiteral("ana"));
        QCOMPARE(user.size(), 1);
        QCOMPARE(disabled.size(), 0);
        setup().setPassword(QStringLiteral(" "));
        QVERIFY(!setup().isButtonDisabled());
        setup().setSetupMode(SetupMode::apiKey);
        QVERIFY(setup().isButtonDisabled());
        setup().setApiKey(QStringLiteral("k"));
        QVERIFY(!setup().isButtonDisabled());
        QCOMPARE(disabled.size(), 3);
        QCOMPARE(effective.size(), 0);
        setup().setServerUrl(QStringLiteral("https://other.example"));
        QCOMPARE(effective.size(), 1);
    }

    void switchingModeClearsTheError()
    {
        server().enqueue(ScriptedReply::json(401, "{}"));
        setup().setSetupMode(SetupMode::apiKey);
        setup().setApiKey(QStringLiteral("bad"));
        QVERIFY(!blockingWait(setup().submit()));
        QVERIFY(setup().errorMessage());
        setup().setSetupMode(SetupMode::login);
        QVERIFY(!setup().errorMessage());
    }

    // The save fails after the server handed out a key: the old account
    // stays, on disk, in the keyring and in the running program.
    void failedSaveKeepsTheOldAccount()
    {
        m_fixture->storeAccount(QStringLiteral("https://old.example"), QStringLiteral("old-key"));
        const AppConfig before = app().config();
        QVERIFY(QDir(m_fixture->folder()).removeRecursively());
        QVERIFY(writeAll(m_fixture->folder(), "not a folder"));
        server().enqueue(ScriptedReply::json(200, R"({"success":true,"data":{"apiKey":"sk_new"}})"));
        setup().setUsername(QStringLiteral("ana"));
        setup().setPassword(QStringLiteral("secret"));
        app().setShowSetup(true);

        QVERIFY(!blockingWait(setup().submit()));

        QVERIFY2(setup().errorMessage()->startsWith(QLatin1String("Error saving configuration: ")),
                 qPrintable(*setup().errorMessage()));
        QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("old-key")));
        QCOMPARE(app().config(), before);
        QVERIFY(app().showSetup());
        QVERIFY(m_permissionAsked.isEmpty());
    }

    void setupLink_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<SetupOutcome>("outcome");
        QTest::addColumn<QString>("storedServer");
        QTest::newRow("configured")
            << 200
            << QByteArray(R"({"success":true,"apiKey":"sk_t","serverUrl":"https:\/\/named.example",)"
                          R"("tenantName":"Acme","userName":"ana"})")
            << SetupOutcome{true, QStringLiteral("Sendova Configured"),
                            QStringLiteral("Connected to: Acme\nUser: ana")}
            << QStringLiteral("https://named.example");
        QTest::newRow("token refused")
            << 410
            << QByteArray(R"({"success":false,"error":{"code":"TOKEN_USED","message":"Already used"}})")
            << SetupOutcome{false, QStringLiteral("Error de Setup"), QStringLiteral("Already used")}
            << QString();
        QTest::newRow("success without a key")
            << 200 << QByteArray(R"({"success":true})")
            << SetupOutcome{false, QStringLiteral("Error de Setup"), QStringLiteral("Unknown error")}
            << QString();
        QTest::newRow("server error")
            << 500 << QByteArray("<html>oops</html>")
            << SetupOutcome{false, QStringLiteral("Error"), QStringLiteral("Server error (500)")}
            << QString();
    }
    void setupLink()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(SetupOutcome, outcome);
        QFETCH(QString, storedServer);
        app().setShowSetup(true);
        server().enqueue(ScriptedReply::json(status, body));

        QCOMPARE(blockingWait(setup().performSetup(QStringLiteral("tok"), server().baseUrl())), outcome);

        QVERIFY(!setup().isLoading());
        QCOMPARE(app().showSetup(), !outcome.configured);
        const AppConfig stored = m_fixture->stored();
        if (outcome.configured) {
            QCOMPARE(stored._serverUrl, storedServer.isEmpty() ? server().baseUrl() : storedServer);
            QCOMPARE(keyringSecret(), std::optional<QString>(QStringLiteral("sk_t")));
        } else {
            QCOMPARE(stored, AppConfig::defaults());
        }
    }

    // No keyring: the one-time token is not spent on a key nothing can keep,
    // unless the key may go into the settings file.
    void setupLinkWithoutKeyring()
    {
        QTemporaryDir folder;
        BareBus bus(folder.path());
        QVERIFY2(!bus.address().isEmpty(), "dbus-daemon did not start");
        const QString data = folder.filePath(QStringLiteral("Sendova"));
        const QStringList arguments{data, QStringLiteral("tok"), server().baseUrl()};

        const ProbeResult refused = runProbe(QStringLiteral(SETUP_PROBE), bus.address(), arguments);
        QVERIFY(refused.finished);
        QCOMPARE(refused.output, QStringLiteral("Error|No keyring is available to store the API key"));
        QCOMPARE(server().requests().size(), 0);

        server().enqueue(ScriptedReply::json(200, R"({"success":true,"apiKey":"sk_file"})"));
        const ProbeResult insecure = runProbe(QStringLiteral(SETUP_PROBE), bus.address(),
                                              arguments + QStringList{QStringLiteral("insecure")});
        QVERIFY(insecure.finished);
        QVERIFY2(insecure.output.startsWith(QLatin1String("Sendova Configured|")),
                 qPrintable(insecure.output));
        QCOMPARE(AppConfig::decode(readAll(data + QStringLiteral("/config.json"))).apiKey,
                 QStringLiteral("sk_file"));
    }
};

QTEST_GUILESS_MAIN(SetupModelTest)
#include "SetupModelTest.moc"
