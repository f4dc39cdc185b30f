#include "support/LogService.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

#include <thread>
#include <vector>

using namespace sendova;

class LogServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lineLayout_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");

        const QString stamp = QStringLiteral("[2026-12-05T16:25:11Z] ");
        QTest::newRow("short and lower case: raised, padded to seven")
            << u"info"_qs << u"HTTP"_qs << u"Response: 200"_qs << stamp + u"INFO    [HTTP] Response: 200"_qs;
        QTest::newRow("longer is cut")
            << u"CRITICALITY"_qs << u"Upload"_qs << u"m"_qs << stamp + u"CRITICA [Upload] m"_qs;
        QTest::newRow("message kept whole") << u"INFO"_qs << u"HTTP"_qs << u"Body: a\nb\r\n%1"_qs
                                            << stamp + u"INFO    [HTTP] Body: a\nb\r\n%1"_qs;
    }

    void lineLayout()
    {
        QFETCH(QString, level);
        QFETCH(QString, category);
        QFETCH(QString, message);
        QFETCH(QString, expected);
        // A local time with milliseconds must still come out as whole UTC seconds.
        const QDateTime time = QDateTime(QDate(2026, 12, 5), QTime(17, 25, 11, 789), QTimeZone(3600));
        QCOMPARE(LogService::formatLine(time, level, category, message), expected);
    }

    // Stamped with the current time in UTC; lines joined without a trailing
    // break; the cap drops the oldest first; a clear starts afresh.
    void logCapAndClear()
    {
        LogService log;
        QCOMPARE(log.logText(), QString());
        for (int i = 1; i <= LogService::maxEntries + 1; ++i)
            log.log(u"INFO"_qs, u"N"_qs, QString::number(i));
        const QStringList lines = log.logText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), LogService::maxEntries);
        QVERIFY(lines.first().endsWith(u"] 2"_qs));
        QVERIFY(lines.last().endsWith(u"] 501"_qs));

        log.clear();
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        log.log(u"info"_qs, u"Hash"_qs, u"m"_qs);
        static const QRegularExpression layout(
            u"^\\[(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ)\\] INFO    \\[Hash\\] m$"_qs);
        const auto match = layout.match(log.logText());
        QVERIFY2(match.hasMatch(), qPrintable(log.logText()));
        const QDateTime stamp = QDateTime::fromString(match.captured(1), Qt::ISODate);
        QVERIFY(stamp >= before.addMSecs(-before.time().msec()));
        QVERIFY(stamp <= QDateTime::currentDateTimeUtc());
    }

    // Writers on several threads, far above the cap: no line torn, each
    // writer's lines in its own order, exactly the cap's number left.
    void concurrentWriters()
    {
        const int threads = 6;
        const int perThread = 2000;
        LogService log;
        const QString payload(200, QLatin1Char('x'));
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t) {
            writers.emplace_back([&log, t, perThread, &payload] {
                for (int i = 0; i < perThread; ++i)
                    log.log(u"debug"_qs, u"T"_qs + QString::number(t),
                            QString::number(i) + u" "_qs + payload);
            });
        }
        for (auto &writer : writers)
            writer.join();

        const QStringList lines = log.logText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), LogService::maxEntries);
        static const QRegularExpression layout(u"^\\[[^\\]]+Z\\] DEBUG   \\[T(\\d+)\\] (\\d+) x{200}$"_qs);
        QList<int> lastSeen(threads, -1);
        for (const QString &line : lines) {
            const auto match = layout.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(80)));
            const int thread = match.captured(1).toInt();
            const int index = match.captured(2).toInt();
            QVERIFY(index > lastSeen[thread]);
            lastSeen[thread] = index;
        }
    }
};

QTEST_GUILESS_MAIN(LogServiceTest)
#include "LogServiceTest.moc"
