#include "support/StrictJson.h"
#include "upload/CheckResult.h"
#include "upload/UploadResult.h"

#include <QTest>
#include <QTimeZone>

#include <thread>
#include <vector>

using namespace sendova;

namespace {

// JSON written with single quotes, so the literals need no escaping.
QByteArray J(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// How the full reply reads back: wire order, absent members left out.
QByteArray fullReplyWritten()
{
    return J("{'Success':true,'Data':{'Url':'https://s.example/f/Ab3','ShortCode':'Ab3',"
             "'FileName':'a b.txt','FileSize':12,'ExpiresAt':'2026-12-12T16:25:11.500Z',"
             "'IsDuplicate':false,'Message':'ok'},'Error':{'Code':'C','Message':'M'}}");
}

QDateTime utc(int h, int m, int s, int ms = 0)
{
    return QDateTime(QDate(2026, 12, 12), QTime(h, m, s, ms), QTimeZone::utc());
}

QByteArray uploadReply(const QByteArray &dataMembers)
{
    return J("{'Success':true,'Data':{'Url':'https://s.example/f/Ab3','ShortCode':'Ab3','FileName':'a b.txt',"
             "'FileSize':12,'IsDuplicate':false") +
           dataMembers + "}}";
}

} // namespace

class ReplyDecodingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void minimalUploadReply()
    {
        const UploadResult result = UploadResult::decode(uploadReply(""));
        QVERIFY(result.success);
        QVERIFY(result.data);
        QCOMPARE(result.data->url, u"https://s.example/f/Ab3"_qs);
        QCOMPARE(result.data->shortCode, u"Ab3"_qs);
        QCOMPARE(result.data->fileName, u"a b.txt"_qs);
        QCOMPARE(result.data->fileSize, 12);
        QVERIFY(!result.data->isDuplicate);
        QVERIFY(!result.data->expiresAt);
        QVERIFY(!result.data->message);
        QVERIFY(!result.error);
    }

    void fullUploadReplyAndRoundTrip()
    {
        const QByteArray body =
            uploadReply(J(",'ExpiresAt':'2026-12-12T18:25:11.5+02:00','Message':'ok','Extra':[1,2]},'Error':{"
                          "'Code':'C','Message':'M','More':1},'Unknown':{'x':1"));
        const UploadResult result = UploadResult::decode(body);
        QCOMPARE(*result.data->expiresAt, utc(16, 25, 11, 500));
        QCOMPARE(*result.data->message, u"ok"_qs);
        QCOMPARE(result.error->code, u"C"_qs);
        QCOMPARE(result.error->message, u"M"_qs);

        const QByteArray written = result.encode();
        QCOMPARE(written, fullReplyWritten());
        QCOMPARE(UploadResult::decode(written), result);
    }

    void errorOnlyReply()
    {
        const UploadResult result =
            UploadResult::decode(J("{'Success':false,'Error':{'Code':'QUOTA','Message':'Too big'}}"));
        QVERIFY(!result.success);
        QVERIFY(!result.data);
        QCOMPARE(result.error->code, u"QUOTA"_qs);
        QCOMPARE(UploadResult::decode(result.encode()), result);
        QCOMPARE(result.encode(),
                 QByteArray(J("{'Success':false,'Error':{'Code':'QUOTA','Message':'Too big'}}")));
    }

    void nullMeansAbsent()
    {
        const UploadResult result =
            UploadResult::decode(uploadReply(J(",'ExpiresAt':null,'Message':null},'Error':null,'X':{")));
        QVERIFY(!result.data->expiresAt);
        QVERIFY(!result.data->message);
        QVERIFY(!result.error);
        QVERIFY(!UploadResult::decode(J("{'Success':true,'Data':null}")).data);
    }

    void timestamps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("whole seconds") << u"2026-12-12T16:25:11Z"_qs << utc(16, 25, 11);
        QTest::newRow("milliseconds") << u"2026-12-12T16:25:11.250Z"_qs << utc(16, 25, 11, 250);
        QTest::newRow("one digit") << u"2026-12-12T16:25:11.5Z"_qs << utc(16, 25, 11, 500);
        QTest::newRow("microseconds kept to ms") << u"2026-12-12T16:25:11.123456Z"_qs << utc(16, 25, 11, 123);
        QTest::newRow("positive offset") << u"2026-12-12T18:25:11.5+02:00"_qs << utc(16, 25, 11, 500);
    }

    void timestamps()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const QByteArray body =
            J("{'Success':true,'Data':{'Exists':true,'ExpiresAt':'") + text.toUtf8() + "\"}}";
        QCOMPARE(*CheckResult::decode(body).data->expiresAt, expected);
    }

    // The fallback form is tried per string: an earlier whole-second stamp
    // never stops a later fractional one from parsing, and the other way round.
    void mixedFormsInOneReply()
    {
        const QList<std::pair<QByteArray, QByteArray>> orders = {
            {"2026-12-12T16:25:11Z", "2026-12-12T16:25:11.250Z"},
            {"2026-12-12T16:25:11.250Z", "2026-12-12T16:25:11Z"}};
        for (const auto &order : orders) {
            const QByteArray first = order.first;
            const QByteArray second = order.second;
            const QByteArray upload = uploadReply(J(",'ExpiresAt':'") + QByteArray(first) + "\"");
            const QByteArray check =
                J("{'Success':true,'Data':{'Exists':true,'ExpiresAt':'") + second + "\"}}";
            QVERIFY(UploadResult::decode(upload).data->expiresAt);
            QVERIFY(CheckResult::decode(check).data->expiresAt);
            QVERIFY(UploadResult::decode(upload).data->expiresAt);
        }
    }

    void badTimestamps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no zone") << u"2026-12-12T16:25:11"_qs;
        QTest::newRow("space for T") << u"2026-12-12 16:25:11Z"_qs;
        QTest::newRow("offset without colon") << u"2026-12-12T16:25:11+0200"_qs;
        QTest::newRow("February 30") << u"2026-02-30T16:25:11Z"_qs;
        QTest::newRow("epoch number as text") << u"1797093911"_qs;
    }

    void badTimestamps()
    {
        QFETCH(QString, text);
        const QByteArray body = uploadReply(
            J(",'ExpiresAt':") + QByteArray::fromStdString(nlohmann::json(text.toStdString()).dump()));
        try {
            UploadResult::decode(body);
            QFAIL("decoded a bad timestamp");
        } catch (const DecodingError &error) {
            QCOMPARE(error.reason(), u"Invalid date: "_qs + text);
            QCOMPARE(error.memberPath(), u"Data.ExpiresAt"_qs);
            QVERIFY(error.technicalText().contains(u"Invalid date: "_qs + text));
        }
    }

    void rejectedUploadReplies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("member");
        QTest::newRow("lower-case names") << QByteArray(J("{'success':true,'data':{}}")) << u"Success"_qs;
        QTest::newRow("Success as string") << QByteArray(J("{'Success':'true'}")) << u"Success"_qs;
        QTest::newRow("FileSize with fraction")
            << uploadReply("").replace("\"FileSize\":12", "\"FileSize\":12.5") << u"Data.FileSize"_qs;
        QTest::newRow("IsDuplicate missing")
            << uploadReply("").replace(",\"IsDuplicate\":false", "") << u"Data.IsDuplicate"_qs;
        QTest::newRow("Error without Message")
            << QByteArray(J("{'Success':false,'Error':{'Code':'X'}}")) << u"Error.Message"_qs;
        QTest::newRow("not JSON") << QByteArray("<html>502 Bad Gateway</html>") << QString();
        // The parser reports a number past double's range as out of range, not as a syntax error.
        QTest::newRow("number past any double") << QByteArray("{\"Success\":26E66666}") << QString();
        QTest::newRow("invalid UTF-8 in a string")
            << QByteArray("{\"Success\":true,\"X\":\"\xff\"}") << QString();
    }

    void rejectedUploadReplies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, member);
        try {
            UploadResult::decode(body);
            QFAIL("decoded a bad reply");
        } catch (const DecodingError &error) {
            QCOMPARE(error.memberPath(), member);
            QVERIFY(!error.reason().isEmpty());
            if (!member.isEmpty())
                QVERIFY(error.technicalText().startsWith(member + u": "_qs));
        }
    }

    void integralNumbersWrittenOtherwise_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("12.0") << QByteArray("12.0") << qint64(12);
        QTest::newRow("1e3") << QByteArray("1e3") << qint64(1000);
        QTest::newRow("int64 max") << QByteArray("9223372036854775807") << qint64(9223372036854775807);
    }

    void integralNumbersWrittenOtherwise()
    {
        QFETCH(QByteArray, written);
        QFETCH(qint64, expected);
        QCOMPARE(UploadResult::decode(uploadReply("").replace("\"FileSize\":12", "\"FileSize\":" + written))
                     .data->fileSize,
                 expected);
    }

    void checkReplies()
    {
        const CheckResult absent = CheckResult::decode(J("{'Success':true,'Data':{'Exists':false}}"));
        QVERIFY(absent.success);
        QVERIFY(!absent.data->exists);
        QVERIFY(!absent.data->url);
        QVERIFY(!absent.data->expiresAt);
        QCOMPARE(absent.encode(), QByteArray(J("{'Success':true,'Data':{'Exists':false}}")));

        const CheckResult found =
            CheckResult::decode(J("{'Data':{'Url':'https://s.example/f/x','Exists':true,"
                                  "'ExpiresAt':'2026-12-12T16:25:11Z'},'Success':true,'Other':0}"));
        QCOMPARE(*found.data->url, u"https://s.example/f/x"_qs);
        QCOMPARE(*found.data->expiresAt, utc(16, 25, 11));
        QCOMPARE(CheckResult::decode(found.encode()), found);

        QVERIFY_THROWS_EXCEPTION(DecodingError, CheckResult::decode(J("{'Success':true,'Data':{}}")));
        QVERIFY_THROWS_EXCEPTION(DecodingError,
                                 CheckResult::decode(J("{'success':true,'data':{'exists':true}}")));
    }

    // One decoder serves every request at once; results must not depend on
    // what other threads decode meanwhile.
    void concurrentDecodes()
    {
        const QByteArray good = uploadReply(J(",'ExpiresAt':'2026-12-12T16:25:11.250Z'"));
        const QByteArray bad = uploadReply(J(",'ExpiresAt':'2026-12-12T16:25:11'"));
        std::atomic<int> wrong = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 300; ++i) {
                    const bool pickGood = (i + t) % 2 == 0;
                    try {
                        const UploadResult r = UploadResult::decode(pickGood ? good : bad);
                        if (!pickGood || *r.data->expiresAt != utc(16, 25, 11, 250))
                            ++wrong;
                    } catch (const DecodingError &) {
                        if (pickGood)
                            ++wrong;
                    }
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
        QCOMPARE(wrong.load(), 0);
    }
};

QTEST_GUILESS_MAIN(ReplyDecodingTest)
#include "ReplyDecodingTest.moc"
