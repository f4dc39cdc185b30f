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
        const QString tooLong(SetupLink::maxTokenLength + 1, QLatin1Char('t'));
        QTest::newRow("token too long") << u"sendova://setup?token="_qs + tooLong << QString();
        QTest::newRow("bidi override in the token") << u"sendova://setup?token=T%E2%80%AEX"_qs << QString();
        QTest::newRow("javascript server")
            << u"sendova://setup?token=T&server=javascript%3Aalert(1)"_qs << u"T refused"_qs;
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
