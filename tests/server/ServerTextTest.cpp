#include "CommandLine.h"
#include "HttpText.h"

#include <QtTest>

using namespace sendova::server;

class TestServerText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentDispositionIsSafe_data();
    void contentDispositionIsSafe();
    void fileNamesAreCut_data();
    void fileNamesAreCut();
    void rangesAreParsed_data();
    void rangesAreParsed();
    void hashForms_data();
    void hashForms();
    void byteSizes_data();
    void byteSizes();
    void setupLinkEncodesBothValues();
    void timestampsHaveMillisecondsAndZ_data();
    void timestampsHaveMillisecondsAndZ();
};

void TestServerText::contentDispositionIsSafe_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("plain") << QByteArray("report.pdf")
                           << QByteArray("attachment; filename=\"report.pdf\"; filename*=UTF-8''report.pdf");
    QTest::newRow("space") << QByteArray("my file.txt")
                           << QByteArray(
                                  "attachment; filename=\"my file.txt\"; filename*=UTF-8''my%20file.txt");
    QTest::newRow("quote and backslash")
        << QByteArray("a\"b\\c") << QByteArray("attachment; filename=\"a_b_c\"; filename*=UTF-8''a%22b%5Cc");
    QTest::newRow("non-ASCII: one _ per character")
        << QByteArray("Relat\xC3\xB3rio \xE2\x82\xAC.pdf")
        << QByteArray(
               "attachment; filename=\"Relat_rio _.pdf\"; filename*=UTF-8''Relat%C3%B3rio%20%E2%82%AC.pdf");
    QTest::newRow("line breaks") << QByteArray("a\r\nSet-Cookie: x")
                                 << QByteArray("attachment; filename=\"a__Set-Cookie: x\"; "
                                               "filename*=UTF-8''a%0D%0ASet-Cookie%3A%20x");
    QTest::newRow("percent") << QByteArray("100%.txt")
                             << QByteArray("attachment; filename=\"100_.txt\"; filename*=UTF-8''100%25.txt");
}

void TestServerText::contentDispositionIsSafe()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, header);
    const QByteArray actual = QByteArray::fromStdString(contentDisposition(name.toStdString()));
    QCOMPARE(actual, header);
    QVERIFY(!actual.contains('\r') && !actual.contains('\n'));
}

void TestServerText::fileNamesAreCut_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("empty") << QByteArray() << QByteArray("file");
    QTest::newRow("only a directory") << QByteArray("dir/") << QByteArray("file");
    QTest::newRow("blanks around") << QByteArray("  a.txt  ") << QByteArray("a.txt");
    QTest::newRow("300 ASCII characters") << QByteArray(300, 'a') << QByteArray(255, 'a');
    // 2-byte characters: 127 fit in 255 bytes, the 128th would be split.
    QTest::newRow("300 two-byte characters")
        << QByteArray("\xC3\xA9").repeated(300) << QByteArray("\xC3\xA9").repeated(127);
    QTest::newRow("overlong encoding of /") << QByteArray("a\xC0\xAF"
                                                          "b")
                                            << QByteArray("a\xEF\xBF\xBD\xEF\xBF\xBD"
                                                          "b");
    QTest::newRow("DEL") << QByteArray("a\x7F"
                                       "b")
                         << QByteArray("ab");
}

void TestServerText::fileNamesAreCut()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, stored);
    const auto actual = sanitizeFileName(raw.toStdString());
    QCOMPARE(QByteArray::fromStdString(actual), stored);
    QVERIFY(isValidUtf8(actual));
}

void TestServerText::rangesAreParsed_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    const int whole = int(ByteRange::Kind::Whole);
    const int partial = int(ByteRange::Kind::Partial);
    const int unsatisfiable = int(ByteRange::Kind::Unsatisfiable);
    QTest::newRow("closed") << QByteArray("bytes=0-0") << 10 << partial << 0 << 0;
    QTest::newRow("spaces") << QByteArray(" bytes= 2 - 3 ") << 10 << partial << 2 << 3;
    QTest::newRow("suffix longer than file") << QByteArray("bytes=-50") << 10 << partial << 0 << 9;
    QTest::newRow("zero suffix") << QByteArray("bytes=-0") << 10 << unsatisfiable << 0 << 0;
    QTest::newRow("any range of an empty file") << QByteArray("bytes=0-") << 0 << unsatisfiable << 0 << 0;
    QTest::newRow("last before first") << QByteArray("bytes=5-2") << 10 << whole << 0 << 0;
    QTest::newRow("negative") << QByteArray("bytes=-3-5") << 10 << whole << 0 << 0;
    QTest::newRow("huge number") << QByteArray("bytes=99999999999999999999999-") << 10 << whole << 0 << 0;
    QTest::newRow("no dash") << QByteArray("bytes=5") << 10 << whole << 0 << 0;
}

void TestServerText::rangesAreParsed()
{
    QFETCH(QByteArray, header);
    QFETCH(int, size);
    QFETCH(int, kind);
    QFETCH(int, first);
    QFETCH(int, last);
    const auto range = parseRange(header.toStdString(), static_cast<std::uint64_t>(size));
    QCOMPARE(int(range.kind), kind);
    if (range.kind == ByteRange::Kind::Partial) {
        QCOMPARE(range.first, std::uint64_t(first));
        QCOMPARE(range.last, std::uint64_t(last));
    }
}

void TestServerText::hashForms_data()
{
    const std::string digits(64, 'a');
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("prefixed");
    QTest::addColumn<bool>("bare");
    QTest::newRow("prefixed") << QByteArray::fromStdString("sha256:" + digits) << true << false;
    QTest::newRow("bare") << QByteArray::fromStdString(digits) << false << true;
    QTest::newRow("63 digits") << QByteArray::fromStdString(digits.substr(1)) << false << false;
    QTest::newRow("65 digits") << QByteArray::fromStdString(digits + "a") << false << false;
    QTest::newRow("not hex") << QByteArray::fromStdString("g" + digits.substr(1)) << false << false;
    QTest::newRow("other algorithm") << QByteArray::fromStdString("sha512:" + digits) << false << false;
    QTest::newRow("prefix upper-case") << QByteArray::fromStdString("SHA256:" + digits) << false << false;
}

void TestServerText::hashForms()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, prefixed);
    QFETCH(bool, bare);
    QCOMPARE(parsePrefixedHash(text.toStdString()).has_value(), prefixed);
    QCOMPARE(parseBareHash(text.toStdString()).has_value(), bare);
}

void TestServerText::byteSizes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qulonglong>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QByteArray("1048576") << qulonglong(1048576) << true;
    QTest::newRow("K") << QByteArray("512K") << qulonglong(512 * 1024) << true;
    QTest::newRow("M") << QByteArray("100M") << qulonglong(100) * 1024 * 1024 << true;
    QTest::newRow("G lower-case") << QByteArray("2g") << qulonglong(2) * 1024 * 1024 * 1024 << true;
    QTest::newRow("unit only") << QByteArray("G") << qulonglong(0) << false;
    QTest::newRow("negative") << QByteArray("-5") << qulonglong(0) << false;
    QTest::newRow("overflow") << QByteArray("99999999999999999G") << qulonglong(0) << false;
    QTest::newRow("other unit") << QByteArray("5T") << qulonglong(0) << false;
}

void TestServerText::byteSizes()
{
    QFETCH(QByteArray, text);
    QFETCH(qulonglong, bytes);
    QFETCH(bool, valid);
    const auto parsed = parseByteSize(text.toStdString());
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(qulonglong(*parsed), bytes);
    }
}

void TestServerText::setupLinkEncodesBothValues()
{
    QCOMPARE(
        QByteArray::fromStdString(setupLink("ab-_c", "http://host:8080/base path?x=1&y")),
        QByteArray("sendova://setup?token=ab-_c&server=http%3A%2F%2Fhost%3A8080%2Fbase%20path%3Fx%3D1%26y"));
}

void TestServerText::timestampsHaveMillisecondsAndZ_data()
{
    QTest::addColumn<qlonglong>("millis");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("epoch") << qlonglong(0) << QByteArray("1970-01-01T00:00:00.000Z");
    QTest::newRow("with milliseconds") << qlonglong(1796574311123) << QByteArray("2026-12-06T16:25:11.123Z");
    QTest::newRow("single digit milliseconds")
        << qlonglong(1796574311007) << QByteArray("2026-12-06T16:25:11.007Z");
}

void TestServerText::timestampsHaveMillisecondsAndZ()
{
    QFETCH(qlonglong, millis);
    QFETCH(QByteArray, text);
    QCOMPARE(QByteArray::fromStdString(formatTimestamp(fromMillis(millis))), text);
}

QTEST_GUILESS_MAIN(TestServerText)
#include "tst_server_text.moc"
