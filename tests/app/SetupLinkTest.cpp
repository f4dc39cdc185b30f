#include "app/SetupLink.h"
#include "config/AppConfig.h"

#include <QTest>

using namespace sendova;

class SetupLinkTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("server");

        const QString fallback = QString::fromLatin1(AppConfig::defaultServerUrl);
        QTest::newRow("host form with server")
            << u"sendova://setup?token=T1&server=https%3A%2F%2Ffiles.example.org"_qs << true << u"T1"_qs
            << u"https://files.example.org"_qs;
        QTest::newRow("path form, no server, first of two tokens")
            << u"sendova:/setup/?token=A&token=B"_qs << true << u"A"_qs << fallback;
        QTest::newRow("http server with port and path")
            << u"sendova:setup?token=a%2Bb%26c&server=http%3A%2F%2F127.0.0.1%3A8080%2Fsendova"_qs << true
            << u"a+b&c"_qs << u"http://127.0.0.1:8080/sendova"_qs;
        const QString longest(SetupLink::maxTokenLength, QLatin1Char('t'));
        QTest::newRow("longest token")
            << u"sendova://setup?token="_qs + longest << true << longest << fallback;

        // Links a hostile page could hand over, or none at all: refused
        // before any request.
        const auto refused = [](const char *name, const QString &link) {
            QTest::newRow(name) << link << false << QString() << QString();
        };
        refused("other target", u"sendova://settings?token=T"_qs);
        refused("first token without value", u"sendova://setup?token&token=B"_qs);
        refused("scheme is case-sensitive", u"Sendova://setup?token=T"_qs);
        refused("token one too long", u"sendova://setup?token=t"_qs + longest);
        refused("bidi override in the token", u"sendova://setup?token=T%E2%80%AEX"_qs);
        refused("javascript server", u"sendova://setup?token=T&server=javascript%3Aalert(1)"_qs);
        refused("server without scheme", u"sendova://setup?token=T&server=files.example.org"_qs);
        refused("server hiding behind user info",
                u"sendova://setup?token=T&server=https%3A%2F%2Ffiles.example.org%40evil.example"_qs);
        refused("line break in the server",
                u"sendova://setup?token=T&server=https%3A%2F%2Fa.example%0D%0AX"_qs);
    }

    void parse()
    {
        QFETCH(QString, link);
        QFETCH(bool, accepted);
        QFETCH(QString, token);
        QFETCH(QString, server);
        const std::optional<SetupLink> parsed = SetupLink::parse(link);
        QCOMPARE(parsed.has_value(), accepted);
        if (parsed) {
            QCOMPARE(parsed->token, token);
            QCOMPARE(parsed->serverUrl, server);
        }
    }
};

QTEST_GUILESS_MAIN(SetupLinkTest)
#include "SetupLinkTest.moc"
