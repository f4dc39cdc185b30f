#include "support/ErrorReport.h"
#include "support/LogService.h"

#include <QTest>
#include <QUrlQuery>

using namespace sendova;

class ErrorReportTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildsTheLink_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");

        const QString head = u"Sendova Linux Error Report\n--------------------------\nApp version: "_qs;
        QTest::newRow("no version") << QString() << u"x"_qs << u"Sendova Linux Error Report v?"_qs
                                    << head + u"?\nLinux: Debian 12, kernel 6.1\n\nLog:\nx"_qs;
        const QString line = u"[2026-12-05T16:25:11Z] ERROR   [Upload] Failed: a=b&c=d for Ünïcødé.txt"_qs;
        QTest::newRow("log with delimiters and accents")
            << u"0.1.0"_qs << line << u"Sendova Linux Error Report v0.1.0"_qs
            << head + u"0.1.0\nLinux: Debian 12, kernel 6.1\n\nLog:\n"_qs + line;
        // A long log goes whole: the mail program, not the link, is the place to cut it.
        const QString log = QStringList(LogService::maxEntries, line + QString(120, u'x')).join(u'\n');
        QTest::newRow("full log, not shortened")
            << u"1.0"_qs << log << u"Sendova Linux Error Report v1.0"_qs
            << head + u"1.0\nLinux: Debian 12, kernel 6.1\n\nLog:\n"_qs + log;
    }

    void buildsTheLink()
    {
        QFETCH(QString, version);
        QFETCH(QString, log);
        QFETCH(QString, subject);
        QFETCH(QString, body);

        const QString link = errorreport::link(version, u"Debian 12, kernel 6.1"_qs, log);

        QVERIFY(link.startsWith(u"mailto:support@sendova.app?subject="_qs));
        // The query splits only where the link itself puts "&body=".
        QCOMPARE(link.count(QLatin1Char('&')), 1);
        QCOMPARE(link.count(QLatin1Char('=')), 2);
        // What the mail program gets is the link as built, not a re-encoding.
        const QUrl url(link, QUrl::StrictMode);
        QVERIFY(url.isValid());
        QCOMPARE(QString::fromLatin1(url.toEncoded()), link);
        const QUrlQuery query(url);
        QCOMPARE(query.queryItemValue(u"subject"_qs, QUrl::FullyDecoded), subject);
        QCOMPARE(query.queryItemValue(u"body"_qs, QUrl::FullyDecoded), body);
    }

    void composeOpensTheSharedLog()
    {
        LogService::shared().clear();
        LogService::shared().log(u"ERROR"_qs, u"Upload"_qs, u"Failed: größe=0 & more"_qs);
        QList<QUrl> opened;

        composeErrorReport([&opened](const QUrl &url) { opened << url; });

        // The report is this version's, on this system, with the log left as it was.
        const QString log = LogService::shared().logText();
        QVERIFY(log.endsWith(u"Failed: größe=0 & more"_qs));
        QCOMPARE(opened, QList<QUrl>{QUrl(
                             errorreport::link(u"" SENDOVA_VERSION ""_qs, errorreport::systemVersion(), log),
                             QUrl::StrictMode)});
    }
};

QTEST_GUILESS_MAIN(ErrorReportTest)
#include "ErrorReportTest.moc"
