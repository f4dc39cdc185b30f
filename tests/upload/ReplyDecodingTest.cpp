#include "support/StrictJson.h"
#include "upload/CheckResult.h"
#include "upload/UploadResult.h"

#include <QTest>
#include <QTimeZone>

using namespace sendova;

namespace {

// JSON written with single quotes, so the literals need no escaping.
QByteArray J(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray uploadReply(const QByteArray &dataMembers)
{
    return J("{'Success':true,'Data':{'Url':'https://s.example/f/Ab3','ShortCode':'Ab3','FileName':'a b.txt',"
             "'FileSize':12,'IsDuplicate':false") +
           dataMembers + "}}";
}

// The reply decoded, written back.
template<typename Result>
QByteArray decodeAndWrite(const QByteArray &body)
{
    const Result result = Result::decode(body);
    return Result::decode(result.encode()) == result ? result.encode() : "not stable";
}

QDateTime utc(int h, int m, int s, int ms = 0)
{
    return QDateTime(QDate(2026, 12, 12), QTime(h, m, s, ms), QTimeZone::utc());
}

} // namespace

class ReplyDecodingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What is read comes back written in wire order, absent members left out,
    // and reads back the same.
    void decodes_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("written");

        QTest::newRow("upload, required members only") << false << uploadReply("") << uploadReply("");
        QTest::newRow("upload, every member, unknown ones passed over")
            << false
            << uploadReply(J(",'ExpiresAt':'2026-12-12T18:25:11.5+02:00','Message':'ok','Extra':[1,2]},"
                             "'Error':{'Code':'C','Message':'M','More':1},'Unknown':{'x':1"))
            << J("{'Success':true,'Data':{'Url':'https://s.example/f/Ab3','ShortCode':'Ab3','FileName':'a "
                 "b.txt',"
                 "'FileSize':12,'ExpiresAt':'2026-12-12T16:25:11.500Z','IsDuplicate':false,'Message':'ok'},"
                 "'Error':{'Code':'C','Message':'M'}}");
        QTest::newRow("upload, null is absent")
            << false << uploadReply(J(",'ExpiresAt':null,'Message':null},'Error':null,'X':{"))
            << uploadReply("");
        QTest::newRow("upload, error only")
            << false << J("{'Success':false,'Error':{'Code':'Q','Message':'Big'}}")
            << J("{'Success':false,'Error':{'Code':'Q','Message':'Big'}}");
        QTest::newRow("upload, integral sizes written otherwise")
            << false << uploadReply("").replace("\"FileSize\":12", "\"FileSize\":1.2e1") << uploadReply("");
        QTest::newRow("check, absent") << true << J("{'Success':true,'Data':{'Exists':false}}")
                                       << J("{'Success':true,'Data':{'Exists':false}}");
        QTest::newRow("check, found, members in any order")
            << true
            << J("{'Data':{'Url':'u','Exists':true,'ExpiresAt':'2026-12-12T16:25:11Z'},'Success':true}")
            << J("{'Success':true,'Data':{'Exists':true,'Url':'u','ExpiresAt':'2026-12-12T16:25:11Z'}}");
    }

    void decodes()
    {
        QFETCH(bool, check);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, written);
        QCOMPARE(check ? decodeAndWrite<CheckResult>(body) : decodeAndWrite<UploadResult>(body), written);
    }

    // An invalid expected time: the stamp is refused. The rows run in one
    // process, whole seconds before fractions and fractions (above) before
    // whole seconds: the fallback form is tried per string.
    void timestamps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("whole seconds") << u"2026-12-12T16:25:11Z"_qs << utc(16, 25, 11);
        QTest::newRow("microseconds kept to ms") << u"2026-12-12T16:25:11.123456Z"_qs << utc(16, 25, 11, 123);
        QTest::newRow("no zone") << u"2026-12-12T16:25:11"_qs << QDateTime();
        QTest::newRow("offset without colon") << u"2026-12-12T16:25:11+0200"_qs << QDateTime();
        QTest::newRow("February 30") << u"2026-02-30T16:25:11Z"_qs << QDateTime();
    }

    void timestamps()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const QByteArray body =
            J("{'Success':true,'Data':{'Exists':true,'ExpiresAt':'") + text.toUtf8() + "\"}}";
        try {
            QCOMPARE(CheckResult::decode(body).data->expiresAt, std::optional(expected));
            QVERIFY(expected.isValid());
        } catch (const DecodingError &error) {
            QVERIFY(!expected.isValid());
            QCOMPARE(error.technicalText(), u"Data.ExpiresAt: Invalid date: "_qs + text);
        }
    }

    void rejected_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("member");
        QTest::newRow("lower-case names") << false << J("{'success':true,'data':{}}") << u"Success"_qs;
        QTest::newRow("FileSize with fraction")
            << false << uploadReply("").replace("\"FileSize\":12", "\"FileSize\":12.5")
            << u"Data.FileSize"_qs;
        QTest::newRow("IsDuplicate missing")
            << false << uploadReply("").replace(",\"IsDuplicate\":false", "") << u"Data.IsDuplicate"_qs;
        QTest::newRow("Error without Message")
            << false << J("{'Success':false,'Error':{'Code':'X'}}") << u"Error.Message"_qs;
        // The parser reports a number past double's range as out of range, not as a syntax error.
        QTest::newRow("number past any double") << false << QByteArray("{\"Success\":26E66666}") << QString();
        QTest::newRow("check without Exists") << true << J("{'Success':true,'Data':{}}") << u"Data.Exists"_qs;
    }

    void rejected()
    {
        QFETCH(bool, check);
        QFETCH(QByteArray, body);
        QFETCH(QString, member);
        try {
            check ? decodeAndWrite<CheckResult>(body) : decodeAndWrite<UploadResult>(body);
            QFAIL("decoded a bad reply");
        } catch (const DecodingError &error) {
            QCOMPARE(error.memberPath(), member);
        }
    }
};

QTEST_GUILESS_MAIN(ReplyDecodingTest)
#include "ReplyDecodingTest.moc"
