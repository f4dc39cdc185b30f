#include "CommandLine.h"
#include "HttpText.h"

#include <QtTest>

#include <functional>
#include <map>

using namespace sendova::server;

namespace {

std::string describe(const ByteRange &range)
{
    const char *kinds[] = {"whole", "", "unsatisfiable"};
    return range.kind == ByteRange::Kind::Partial
               ? std::to_string(range.first) + "-" + std::to_string(range.last)
               : kinds[int(range.kind)];
}

// Each helper's answer as text, so that one table holds them all.
const std::map<QByteArray, std::function<std::string(const std::string &)>> Helpers{
    {"disposition", [](const std::string &in) { return contentDisposition(in); }},
    {"name",
     [](const std::string &in) {
         const auto name = sanitizeFileName(in);
         return isValidUtf8(name) ? name : "invalid UTF-8";
     }},
    {"range of 10", [](const std::string &in) { return describe(parseRange(in, 10)); }},
    {"size",
     [](const std::string &in) {
         const auto size = parseByteSize(in);
         return size ? std::to_string(*size) : "invalid";
     }},
};

} // namespace

class ServerTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void helpers_data()
    {
        QTest::addColumn<QByteArray>("helper");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        const auto row = [](const char *name, const char *helper, const QByteArray &input,
                            const QByteArray &output) {
            QTest::newRow(name) << QByteArray(helper) << input << output;
        };

        row("quote and backslash", "disposition", "a\"b\\c",
            "attachment; filename=\"a_b_c\"; filename*=UTF-8''a%22b%5Cc");
        row("line breaks", "disposition", "a\r\nSet-Cookie: x",
            "attachment; filename=\"a__Set-Cookie: x\"; filename*=UTF-8''a%0D%0ASet-Cookie%3A%20x");

        // A right-to-left override would show "invoice\u202Efdp.exe" as "invoiceexe.pdf".
        row("bidirectional marks", "name",
            "invoice\xE2\x80\xAE"
            "fdp.exe\xE2\x81\xA6\xD8\x9C",
            "invoicefdp.exe");
        // 127 two-byte characters fit in 255 bytes; the 128th would be split.
        row("300 two-byte characters", "name", QByteArray("\xC3\xA9").repeated(300),
            QByteArray("\xC3\xA9").repeated(127));
        row("overlong encoding of /", "name",
            "a\xC0\xAF"
            "b",
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");

        row("suffix longer than the file", "range of 10", "bytes=-50", "0-9");
        row("several ranges", "range of 10", "bytes=0-1,4-5", "whole");
        row("huge number", "range of 10", "bytes=99999999999999999999999-", "whole");

        row("with a unit", "size", "1K", "1024");
        row("unit only", "size", "G", "invalid");
        row("overflow", "size", "99999999999999999G", "invalid");
    }

    void helpers()
    {
        QFETCH(QByteArray, helper);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        QCOMPARE(QByteArray::fromStdString(Helpers.at(helper)(input.toStdString())), output);
    }
};

QTEST_GUILESS_MAIN(ServerTextTest)
#include "ServerTextTest.moc"
