#include "app/SetupLink.h"

#include <QTest>

using namespace sendova;

class SetupLinkTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Links a hostile page could hand over are refused before any request.
    void parse_data()
    {
        QTest::addColumn<QString>("link");
        // "token server" when accepted, "token refused" for a server that
        // cannot be used.
        QTest::addColumn<QString>("expected");

        QTest::newRow("token and server")
            << u"sendova://setup?token=a%2Bb&server=http%3A%2F%2F127.0.0.1%3A8080%2Fsendova"_qs
            << u"a+b http://127.0.0.1:8080/sendova"_qs;
        // Without a server the service's own; the first of repeated items counts.
        QTest::newRow("path form") << u"sendova:/setup/?token=T&token=U"_qs << u"T https://sendova.app"_qs;
        QTest::newRow("empty token, sent as it is")
            << u"sendova:setup?token="_qs << u" https://sendova.app"_qs;
        QTest::newRow("no token") << u"sendova://setup"_qs << QString();
        QTest::newRow("token without a value") << u"sendova://setup?token"_qs << QString();
        QTest::newRow("another target") << u"sendova://settings?token=T"_qs << QString();
        QTest::newRow("upper-case scheme") << u"SENDOVA://setup?token=T"_qs << QString();
        const QString longest(SetupLink::maxTokenLength, QLatin1Char('t'));
        QTest::newRow("longest token")
            << u"sendova://setup?token="_qs + longest << longest + u" https://sendova.app"_qs;
        QTest::newRow("token too long") << u"sendova://setup?token=t"_qs + longest << QString();
        QTest::newRow("bidi override in the token") << u"sendova://setup?token=T%E2%80%AEX"_qs << QString();
        QTest::newRow("file server") << u"sendova://setup?token=T&server=file%3A%2F%2F%2Fetc%2Fpasswd"_qs
                                     << u"T refused"_qs;
        QTest::newRow("server hiding behind user info")
            << u"sendova://setup?token=T&server=https%3A%2F%2Ffiles.example.org%40evil.example"_qs
            << u"T refused"_qs;
    }

    void parse()
    {
        QFETCH(QString, link);
        QFETCH(QString, expected);
        const std::optional<SetupLink> parsed = SetupLink::parse(link);
        const QString server = parsed && parsed->serverRefused ? u"refused"_qs
                               : parsed                        ? parsed->serverUrl
                                                               : QString();
        QCOMPARE(parsed ? parsed->token + u' ' + server : QString(), expected);
    }
};

QTEST_GUILESS_MAIN(SetupLinkTest)
#include "SetupLinkTest.moc"
