#include "ServerFixture.h"

#include "HttpText.h"

using namespace sendova::server;
using namespace sendova::server::test;

class TestServerUpload : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void uploadStoresContentOnceAndServesIt();
    void replyCarriesExactlyTheUploadMembers();
    void duplicateOfSameUserReturnsExistingLink();
    void sameContentOfAnotherUserGetsOwnLinkAndOneBlob();
    void largeUploadIsStreamedIntact();
    void emptyFileIsStoredAndServed();
    void fileNameIsCleaned_data();
    void fileNameIsCleaned();
    void checkAnswersEachForm_data();
    void checkAnswersEachForm();
    void linkServesRanges_data();
    void linkServesRanges();
    void headDescribesWithoutBody();
    void downloadHasSafeContentDisposition();
};

void TestServerUpload::uploadStoresContentOnceAndServesIt()
{
    RunningServer server;
    const std::string content = "hello, loopback\n";
    const auto reply = server.upload("greeting.txt", content, prefixedHash(content));
    QVERIFY(reply);
    QCOMPARE(reply->status, 200);
    const Json body = jsonOf(reply);
    QCOMPARE(body["Success"], Json(true));
    const std::string url = body["Data"]["Url"];
    QVERIFY(url.starts_with(server.server().publicUrl() + "/f/"));

    const std::string hash = sha256Hex(content);
    const std::vector<std::string> expected{"blobs/" + hash.substr(0, 2) + "/" + hash};
    QCOMPARE(server.storedFiles(), expected);
    QCOMPARE(readFile(server.dataDir() / expected.front()), content);

    const auto download = server.client().Get(server.pathOf(url));
    QVERIFY(download);
    QCOMPARE(download->status, 200);
    QCOMPARE(download->body, content);
    QCOMPARE(download->get_header_value("Content-Type"), std::string("text/plain; charset=utf-8"));
}

void TestServerUpload::replyCarriesExactlyTheUploadMembers()
{
    RunningServer server;
    const auto reply = server.upload("a.bin", "abc");
    QVERIFY(reply);
    QCOMPARE(reply->status, 200);
    const Json body = jsonOf(reply);
    std::vector<std::string> members;
    for (const auto &[key, value] : body["Data"].items()) {
        members.push_back(key);
    }
    const std::vector<std::string> expected{"Url",       "ShortCode",   "FileName", "FileSize",
                                            "ExpiresAt", "IsDuplicate", "Message"};
    QCOMPARE(members, expected);
    QCOMPARE(body["Data"]["FileName"], Json("a.bin"));
    QCOMPARE(body["Data"]["FileSize"], Json(3));
    QCOMPARE(body["Data"]["IsDuplicate"], Json(false));
    const std::string url = body["Data"]["Url"];
    const std::string code = body["Data"]["ShortCode"];
    QVERIFY(url.ends_with("/" + code));
    // The form the client parses first: fractional seconds and a Z.
    const std::string expires = body["Data"]["ExpiresAt"];
    const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    QVERIFY2(iso.match(QString::fromStdString(expires)).hasMatch(), expires.c_str());
}

void TestServerUpload::duplicateOfSameUserReturnsExistingLink()
{
    RunningServer server;
    const auto first = jsonOf(server.upload("one.txt", "same bytes"));
    const auto second = jsonOf(server.upload("two.txt", "same bytes", prefixedHash("same bytes")));
    QCOMPARE(second["Success"], Json(true));
    QCOMPARE(second["Data"]["IsDuplicate"], Json(true));
    QCOMPARE(second["Data"]["Url"], first["Data"]["Url"]);
    QCOMPARE(second["Data"]["FileName"], Json("one.txt"));
    QCOMPARE(server.storedFiles().size(), std::size_t(1));
}

void TestServerUpload::sameContentOfAnotherUserGetsOwnLinkAndOneBlob()
{
    RunningServer server;
    const auto bob = server.server().accounts().addUser("bob", TestPassword);
    const auto bobKey = server.server().accounts().issueApiKey(bob.id, "bob's machine");
    const auto first = jsonOf(server.upload("alice.txt", "shared bytes"));
    const auto second = jsonOf(server.upload("bob.txt", "shared bytes", std::nullopt, bobKey));
    QCOMPARE(second["Success"], Json(true));
    // Whether someone else holds the same content is not told to bob.
    QCOMPARE(second["Data"]["IsDuplicate"], Json(false));
    QVERIFY(second["Data"]["Url"] != first["Data"]["Url"]);
    QCOMPARE(server.storedFiles().size(), std::size_t(1));
    const auto download = server.client().Get(server.pathOf(second["Data"]["Url"]));
    QCOMPARE(download->body, std::string("shared bytes"));
}

void TestServerUpload::largeUploadIsStreamedIntact()
{
    RunningServer server;
    std::string content(9 * 1024 * 1024 + 17, '\0');
    std::uint32_t state = 12345;
    for (auto &c : content) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    // Bytes that look like a boundary must not end the part early.
    content.replace(4096, 8, "\r\n--7A0C");
    const auto reply = server.upload("big.bin", content, prefixedHash(content));
    QVERIFY(reply);
    QCOMPARE(reply->status, 200);
    const Json body = jsonOf(reply);
    QCOMPARE(body["Data"]["FileSize"], Json(content.size()));
    const auto download = server.client().Get(server.pathOf(body["Data"]["Url"]));
    QVERIFY(download);
    QCOMPARE(download->body.size(), content.size());
    QVERIFY(download->body == content);
}

void TestServerUpload::emptyFileIsStoredAndServed()
{
    RunningServer server;
    const auto reply = server.upload("empty", "", prefixedHash(""));
    QCOMPARE(reply->status, 200);
    const Json body = jsonOf(reply);
    QCOMPARE(body["Data"]["FileSize"], Json(0));
    const auto download = server.client().Get(server.pathOf(body["Data"]["Url"]));
    QCOMPARE(download->status, 200);
    QCOMPARE(download->body, std::string());
    QCOMPARE(download->get_header_value("Content-Length"), std::string("0"));
}

void TestServerUpload::fileNameIsCleaned_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("plain") << QByteArray("report.pdf") << QByteArray("report.pdf");
    QTest::newRow("spaces and accents")
        << QByteArray("Relatório final.pdf") << QByteArray("Relatório final.pdf");
    QTest::newRow("escaped quote") << QByteArray("say %22hi%22.txt") << QByteArray("say \"hi\".txt");
    QTest::newRow("path") << QByteArray("../../etc/passwd") << QByteArray("passwd");
    QTest::newRow("windows path") << QByteArray("C:\\Users\\me\\notes.txt") << QByteArray("notes.txt");
    QTest::newRow("dot dot") << QByteArray("..") << QByteArray("file");
    QTest::newRow("control characters") << QByteArray("a\tb\x01"
                                                      "c.txt")
                                        << QByteArray("abc.txt");
    QTest::newRow("escaped line break stays text") << QByteArray("a%0D%0Ab") << QByteArray("a%0D%0Ab");
    QTest::newRow("invalid utf-8") << QByteArray("x\xff.txt") << QByteArray("x\xEF\xBF\xBD.txt");
}

void TestServerUpload::fileNameIsCleaned()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, stored);
    RunningServer server;
    const auto reply = server.upload(sent.toStdString(), "content");
    QCOMPARE(reply->status, 200);
    QCOMPARE(QByteArray::fromStdString(jsonOf(reply)["Data"]["FileName"].get<std::string>()), stored);
}

void TestServerUpload::checkAnswersEachForm_data()
{
    QTest::addColumn<bool>("prefixed");
    QTest::addColumn<bool>("upperCase");
    QTest::addColumn<bool>("stored");
    QTest::newRow("prefixed, stored") << true << false << true;
    QTest::newRow("prefixed, not stored") << true << false << false;
    QTest::newRow("prefixed, upper-case digits") << true << true << true;
    QTest::newRow("bare, stored") << false << false << true;
    QTest::newRow("bare, not stored") << false << false << false;
}

void TestServerUpload::checkAnswersEachForm()
{
    QFETCH(bool, prefixed);
    QFETCH(bool, upperCase);
    QFETCH(bool, stored);
    RunningServer server;
    const std::string content = "check me";
    std::string url;
    if (stored) {
        url = jsonOf(server.upload("c.txt", content))["Data"]["Url"];
    }
    std::string digits = sha256Hex(content);
    if (upperCase) {
        std::transform(digits.begin(), digits.end(), digits.begin(), [](char c) { return std::toupper(c); });
    }
    const auto reply = server.client().Get("/api/check/" + (prefixed ? "sha256:" + digits : digits),
                                           httplib::Headers{{"X-API-Key", server.apiKey}});
    QVERIFY(reply);
    QCOMPARE(reply->status, 200);
    const Json body = jsonOf(reply);
    // Each client reads only its own spelling; the other must not be there
    // to be read by mistake.
    const char *success = prefixed ? "Success" : "success";
    const char *data = prefixed ? "Data" : "data";
    QCOMPARE(body.size(), std::size_t(2));
    QCOMPARE(body[success], Json(true));
    QCOMPARE(body[data][prefixed ? "Exists" : "exists"], Json(stored));
    if (stored) {
        QCOMPARE(body[data][prefixed ? "Url" : "url"], Json(url));
        QVERIFY(body[data].contains(prefixed ? "ExpiresAt" : "expiresAt"));
    } else {
        QCOMPARE(body[data].size(), std::size_t(1));
    }
}

void TestServerUpload::linkServesRanges_data()
{
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentRange");
    QTest::newRow("none") << QByteArray() << 200 << QByteArray("0123456789") << QByteArray();
    QTest::newRow("middle") << QByteArray("bytes=2-4") << 206 << QByteArray("234")
                            << QByteArray("bytes 2-4/10");
    QTest::newRow("open end") << QByteArray("bytes=7-") << 206 << QByteArray("789")
                              << QByteArray("bytes 7-9/10");
    QTest::newRow("suffix") << QByteArray("bytes=-2") << 206 << QByteArray("89")
                            << QByteArray("bytes 8-9/10");
    QTest::newRow("end past the file")
        << QByteArray("bytes=8-20") << 206 << QByteArray("89") << QByteArray("bytes 8-9/10");
    QTest::newRow("start past the file")
        << QByteArray("bytes=10-20") << 416 << QByteArray() << QByteArray("bytes */10");
    QTest::newRow("several ranges: whole file")
        << QByteArray("bytes=0-1,4-5") << 200 << QByteArray("0123456789") << QByteArray();
}

void TestServerUpload::linkServesRanges()
{
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentRange);
    RunningServer server;
    const std::string url = jsonOf(server.upload("digits.txt", "0123456789"))["Data"]["Url"];
    httplib::Headers headers;
    if (!range.isEmpty()) {
        headers.emplace("Range", range.toStdString());
    }
    const auto reply = server.client().Get(server.pathOf(url), headers);
    QVERIFY(reply);
    QCOMPARE(reply->status, status);
    QCOMPARE(QByteArray::fromStdString(reply->body), body);
    QCOMPARE(QByteArray::fromStdString(reply->get_header_value("Content-Range")), contentRange);
}

void TestServerUpload::headDescribesWithoutBody()
{
    RunningServer server;
    const std::string url = jsonOf(server.upload("digits.txt", "0123456789"))["Data"]["Url"];
    const auto whole = server.client().Head(server.pathOf(url));
    QVERIFY(whole);
    QCOMPARE(whole->status, 200);
    QCOMPARE(whole->get_header_value("Content-Length"), std::string("10"));
    QCOMPARE(whole->get_header_value("Accept-Ranges"), std::string("bytes"));
    QVERIFY(whole->body.empty());
    const auto part = server.client().Head(server.pathOf(url), httplib::Headers{{"Range", "bytes=3-5"}});
    QCOMPARE(part->status, 206);
    QCOMPARE(part->get_header_value("Content-Length"), std::string("3"));
    QCOMPARE(part->get_header_value("Content-Range"), std::string("bytes 3-5/10"));
}

void TestServerUpload::downloadHasSafeContentDisposition()
{
    RunningServer server;
    const auto uploaded = server.upload("a %22b%22; c=d \xC3\xBC%.txt", "x");
    QCOMPARE(uploaded->status, 200);
    const std::string reply = server.rawGet(server.pathOf(jsonOf(uploaded)["Data"]["Url"]));
    QVERIFY2(reply.starts_with("HTTP/1.1 200 "), reply.c_str());
    QVERIFY2(reply.find("\r\nContent-Disposition: attachment; filename=\"a _b_; c=d __.txt\"; "
                        "filename*=UTF-8''a%20%22b%22%3B%20c%3Dd%20%C3%BC%25.txt\r\n") != std::string::npos,
             reply.c_str());
    QVERIFY(reply.find("\r\nX-Content-Type-Options: nosniff\r\n") != std::string::npos);
}

QTEST_GUILESS_MAIN(TestServerUpload)
#include "tst_server_upload.moc"
