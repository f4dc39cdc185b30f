#include "support/StrictJson.h"
#include "upload/CheckResult.h"
#include "upload/UploadResult.h"

#include <QTest>

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

// The reply decoded and written back, or the member the decoder refused and why.
template<typename Result>
QByteArray decodeAndWrite(const QByteArray &body)
{
    try {
        const Result result = Result::decode(body);
        return Result::decode(result.encode()) == result ? result.encode() : "not stable";
    } catch (const DecodingError &error) {
        return "refused at " + error.memberPath().toUtf8() + ": " + error.reason().toUtf8();
    }
}

} // namespace

class ReplyDecodingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What is read comes back written in wire order, absent members left out,
    // and reads back the same. The rows run in one process, a fraction before
    // whole seconds before a fraction: the fallback form is tried per string.
    void decodes_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("written");

        QTest::newRow("upload, every member, unknown ones passed over")
            << false
            << uploadReply(J(",'ExpiresAt':'2026-12-12T18:25:11.5+02:00','Message':'ok','Extra':[1,2]},"
                             "'Error':{'Code':'C','Message':'M','More':1},'Unknown':{'x':1"))
            << J("{'Success':true,'Data':{'Url':'https://s.example/f/Ab3','ShortCode':'Ab3','FileName':'a "
                 "b.txt',"
                 "'FileSize':12,'ExpiresAt':'2026-12-12T16:25:11.500Z','IsDuplicate':false,'Message':'ok'},"
                 "'Error':{'Code':'C','Message':'M'}}");
        QTest::newRow("check, members in any order, whole seconds")
            << true
            << J("{'Data':{'Url':'https://s.example/f/"
                 "u','Exists':true,'ExpiresAt':'2026-12-12T13:25:11-03:00'},'Success':true}")
            << J("{'Success':true,'Data':{'Exists':true,'Url':'https://s.example/f/"
                 "u','ExpiresAt':'2026-12-12T16:25:11Z'}}");
        QTest::newRow("microseconds kept to ms")
            << true << J("{'Success':true,'Data':{'Exists':true,'ExpiresAt':'2026-12-12T16:25:11.123456Z'}}")
            << J("{'Success':true,'Data':{'Exists':true,'ExpiresAt':'2026-12-12T16:25:11.123Z'}}");
        QTest::newRow("null date is absent")
            << false << uploadReply(J(",'ExpiresAt':null")) << uploadReply(QByteArray());
        QTest::newRow("a refusal, nothing but its error")
            << false << J("{'Success':false,'Error':{'Code':'C','Message':'M'}}")
            << J("{'Success':false,'Error':{'Code':'C','Message':'M'}}");
        QTest::newRow("lower-case members")
            << true << J("{'success':true}") << QByteArray("refused at Success");
        QTest::newRow("size as text")
            << false << uploadReply(J(",'FileSize':'12'")).replace("\"FileSize\":12,", "")
            << QByteArray("refused at Data.FileSize");
        QTest::newRow("date without a zone")
            << true << J("{'Success':true,'Data':{'Exists':true,'ExpiresAt':'2026-12-12T16:25:11'}}")
            << QByteArray("refused at Data.ExpiresAt: Invalid date: 2026-12-12T16:25:11");
        // The parser reports a number past double's range as out of range, not as a syntax error.
        QTest::newRow("number past any double")
            << false << QByteArray("{\"Success\":26E66666}") << QByteArray("refused at : ");
    }

    void decodes()
    {
        QFETCH(bool, check);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, written);
        const QByteArray actual =
            check ? decodeAndWrite<CheckResult>(body) : decodeAndWrite<UploadResult>(body);
        // A refusal's reason may go on where the row's text stops.
        QVERIFY2(written.startsWith("refused") ? actual.startsWith(written) : actual == written, actual);
    }
};

QTEST_GUILESS_MAIN(ReplyDecodingTest)
#include "ReplyDecodingTest.moc"
