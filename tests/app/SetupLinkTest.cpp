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
        QTest::newRow("no server uses the default") << u"sendova://setup?token=T"_qs << true << u"T"_qs << fallback;
        QTest::newRow("path form") << u"sendova:setup?token=T"_qs << true << u"T"_qs << fallback;
        QTest::newRow("path form with slashes") << u"sendova:/setup/?token=T"_qs << true << u"T"_qs << fallback;
        QTest::newRow("first occurrence counts") << u"sendova://setup?token=A&token=B"_qs << true << u"A"_qs
                                                 << fallback;
        QTest::newRow("encoded token") << u"sendova://setup?token=a%2Bb%26c"_qs << true << u"a+b&c"_qs << fallback;
        QTest::newRow("server without value is absent") << u"sendova://setup?token=T&server"_qs << true << u"T"_qs
                                                        << fallback;
        QTest::newRow("other target") << u"sendova://settings?token=T"_qs << false << QString() << QString();
        QTest::newRow("no token") << u"sendova://setup"_qs << false << QString() << QString();
        QTest::newRow("token without value") << u"sendova://setup?token"_qs << false << QString() << QString();
        QTest::newRow("first token without value") << u"sendova://setup?token&token=B"_qs << false << QString()
                                                   << QString();
        QTest::newRow("other scheme") << u"https://setup?token=T"_qs << false << QString() << QString();
        QTest::newRow("scheme is case-sensitive") << u"Sendova://setup?token=T"_qs << false << QString() << QString();
        QTest::newRow("not a link") << u"setup token"_qs << false << QString() << QString();
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
