#include "config/AppConfig.h"
#include "support/StrictJson.h"

#include <QUrl>
#include <QtTest>

using namespace sendova;

namespace {

// The environment is process-wide; every test leaves it as it found it.
class OverrideGuard
{
public:
    explicit OverrideGuard(const std::optional<QByteArray> &value)
    {
        if (value)
            qputenv(AppConfig::serverOverrideVariable, *value);
        else
            qunsetenv(AppConfig::serverOverrideVariable);
    }
    ~OverrideGuard() { qunsetenv(AppConfig::serverOverrideVariable); }
};

QByteArray fullConfig(const QByteArray &replaceMember = {}, const QByteArray &with = {})
{
    QList<QPair<QByteArray, QByteArray>> members = {
        {"serverUrl", "\"https://files.example.org\""},
        {"apiKey", "\"\""},
        {"showNotifications", "false"},
        {"autoCopyToClipboard", "true"},
        {"checkForDuplicates", "false"},
        {"launchAtLogin", "true"},
        {"languageCode", "\"pt\""},
    };
    QByteArray json = "{";
    for (const auto &[name, value] : members) {
        if (name == replaceMember && with.isNull())
            continue;
        if (json.size() > 1)
            json += ',';
        json += '"' + name + "\":" + (name == replaceMember ? with : value);
    }
    return json + '}';
}

} // namespace

class AppConfigTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serverOverride_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("environment");
        QTest::addColumn<QString>("expectedServer");
        QTest::addColumn<bool>("expectedOverride");
        QTest::newRow("absent") << std::optional<QByteArray>() << QStringLiteral("https://stored.example")
                                << false;
        QTest::newRow("empty counts as absent")
            << std::optional<QByteArray>(QByteArray("")) << QStringLiteral("https://stored.example") << false;
        QTest::newRow("set, taken unchanged") << std::optional<QByteArray>(QByteArray(" https://x.example/ "))
                                              << QStringLiteral(" https://x.example/ ") << true;
    }
    void serverOverride()
    {
        QFETCH(std::optional<QByteArray>, environment);
        QFETCH(QString, expectedServer);
        QFETCH(bool, expectedOverride);
        const OverrideGuard guard(environment);
        AppConfig config;
        config._serverUrl = QStringLiteral("https://stored.example");
        QCOMPARE(config.serverUrl(), expectedServer);
        QCOMPARE(AppConfig::hasServerOverride(), expectedOverride);
        QCOMPARE(config._serverUrl, QStringLiteral("https://stored.example"));
        // The override never reaches the file.
        QVERIFY(!config.encode().contains("localhost"));
    }

    void isConfigured_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("key");
        QTest::addColumn<std::optional<QByteArray>>("environment");
        QTest::addColumn<bool>("expected");
        const std::optional<QByteArray> none;
        QTest::newRow("server and key")
            << QStringLiteral("https://a.example") << QStringLiteral("k") << none << true;
        QTest::newRow("server, no key") << QStringLiteral("https://a.example") << QString() << none << false;
        QTest::newRow("key, no server") << QString() << QStringLiteral("k") << none << false;
        QTest::newRow("key, server only from environment")
            << QString() << QStringLiteral("k") << std::optional<QByteArray>("https://env.example") << true;
        QTest::newRow("server from environment, no key")
            << QString() << QString() << std::optional<QByteArray>("https://env.example") << false;
    }
    void isConfigured()
    {
        QFETCH(QString, server);
        QFETCH(QString, key);
        QFETCH(std::optional<QByteArray>, environment);
        QFETCH(bool, expected);
        const OverrideGuard guard(environment);
        AppConfig config;
        config._serverUrl = server;
        config.apiKey = key;
        QCOMPARE(config.isConfigured(), expected);
    }

    void encodeWritesMembersInTableOrder()
    {
        AppConfig config;
        config._serverUrl = QStringLiteral("https://dépôt.example");
        config.apiKey = QStringLiteral("clé");
        config.languageCode = QStringLiteral("es");
        const QByteArray bytes = config.encode();
        const json::OrderedJson parsed = json::OrderedJson::parse(bytes.constBegin(), bytes.constEnd());
        std::vector<std::string> names;
        for (const auto &item : parsed.items())
            names.push_back(item.key());
        const std::vector<std::string> expected = {
            "serverUrl",          "apiKey",        "showNotifications", "autoCopyToClipboard",
            "checkForDuplicates", "launchAtLogin", "languageCode"};
        QCOMPARE(names, expected);
        // Pretty-printed: one member per line between the braces.
        QCOMPARE(bytes.count('\n'), 8);
        QCOMPARE(AppConfig::decode(bytes), config);
    }

    void decodeAcceptsAnyOrderAndUnknownMembers()
    {
        const QByteArray json = R"({"languageCode":"es","extra":{"nested":[1,2]},"launchAtLogin":true,
            "checkForDuplicates":false,"autoCopyToClipboard":false,"showNotifications":false,
            "apiKey":"from-file","serverUrl":"http://10.0.0.2:9000"})";
        const AppConfig config = AppConfig::decode(json);
        QCOMPARE(config._serverUrl, QStringLiteral("http://10.0.0.2:9000"));
        QCOMPARE(config.apiKey, QStringLiteral("from-file"));
        QVERIFY(!config.showNotifications);
        QVERIFY(!config.autoCopyToClipboard);
        QVERIFY(!config.checkForDuplicates);
        QVERIFY(config.launchAtLogin);
        QCOMPARE(config.languageCode, QStringLiteral("es"));
    }

    void decodeRejects_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("serverUrl null") << fullConfig("serverUrl", "null");
        for (const char *member : {"serverUrl", "apiKey", "showNotifications", "autoCopyToClipboard",
                                   "checkForDuplicates", "launchAtLogin", "languageCode"}) {
            QTest::addRow("%s missing", member) << fullConfig(member);
        }
        QTest::newRow("boolean as string") << fullConfig("showNotifications", "\"true\"");
        QTest::newRow("text as number") << fullConfig("languageCode", "7");
        QTest::newRow("array at top") << QByteArray("[]");
        QTest::newRow("trailing garbage") << fullConfig() + "}";
        QTest::newRow("invalid UTF-8 in a text") << fullConfig("languageCode", "\"\xff\"");
    }
    void decodeRejects()
    {
        QFETCH(QByteArray, json);
        QVERIFY_THROWS_EXCEPTION(DecodingError, AppConfig::decode(json));
    }
};

QTEST_GUILESS_MAIN(AppConfigTest)
#include "AppConfigTest.moc"
