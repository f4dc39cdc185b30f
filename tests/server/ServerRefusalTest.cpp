#include "ServerFixture.h"

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

constexpr std::uint64_t Limit = 64 * 1024;
const std::string Boundary = "XyZ-boundary";
const std::string FormType = "multipart/form-data; boundary=" + Boundary;

std::string part(const std::string &name, const std::string &fileName, const std::string &content)
{
    return "--" + Boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"" +
           (fileName.empty() ? "" : "; filename=\"" + fileName + "\"") + "\r\n\r\n" + content + "\r\n";
}

std::string form(const std::string &parts)
{
    return parts + "--" + Boundary + "--\r\n";
}

QByteArray bytes(const std::string &text)
{
    return QByteArray::fromStdString(text);
}

std::string errorCode(const Json &body)
{
    if (body.is_object() && body.contains("Error")) {
        return body["Error"].value("Code", "");
    }
    if (body.is_object() && body.contains("error")) {
        return body["error"].value("code", "");
    }
    return {};
}

enum Key { NoKey, GoodKey, WrongKey, InactiveKey };

} // namespace

class TestServerBadInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusedClearlyAndLeavesNothing_data();
    void refusedClearlyAndLeavesNothing();
    void chunkedBodyOverLimitIsRefused_data();
    void chunkedBodyOverLimitIsRefused();
};

void TestServerBadInput::refusedClearlyAndLeavesNothing_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("fileHash");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("code");

    const std::string good = form(part("file", "a.txt", "payload"));
    const QByteArray post("POST");
    const QByteArray upload("/api/upload");
    const QByteArray type = bytes(FormType);
    QTest::newRow("missing key") << post << upload << int(NoKey) << QByteArray() << type << bytes(good) << 401
                                 << QByteArray("MISSING_API_KEY");
    QTest::newRow("wrong key") << post << upload << int(WrongKey) << QByteArray() << type << bytes(good)
                               << 401 << QByteArray("INVALID_API_KEY");
    QTest::newRow("inactive account") << post << upload << int(InactiveKey) << QByteArray() << type
                                      << bytes(good) << 401 << QByteArray("TENANT_INACTIVE");
    QTest::newRow("multipart without closing boundary")
        << post << upload << int(GoodKey) << QByteArray() << type
        << bytes("--" + Boundary +
                 "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a\"\r\n\r\nabc")
        << 400 << QByteArray("INVALID_MULTIPART");
    QTest::newRow("multipart type without boundary")
        << post << upload << int(GoodKey) << QByteArray() << QByteArray("multipart/form-data") << bytes(good)
        << 400 << QByteArray("INVALID_MULTIPART");
    QTest::newRow("not a form") << post << upload << int(GoodKey) << QByteArray()
                                << QByteArray("application/json") << QByteArray("{}") << 400
                                << QByteArray("INVALID_MULTIPART");
    QTest::newRow("no file part") << post << upload << int(GoodKey) << QByteArray() << type
                                  << bytes(form(part("other", "", "value"))) << 400
                                  << QByteArray("MISSING_FILE");
    QTest::newRow("two file parts") << post << upload << int(GoodKey) << QByteArray() << type
                                    << bytes(form(part("file", "a", "one") + part("file", "b", "two"))) << 400
                                    << QByteArray("MULTIPLE_FILES");
    QTest::newRow("hash mismatch") << post << upload << int(GoodKey) << bytes(prefixedHash("something else"))
                                   << type << bytes(good) << 400 << QByteArray("HASH_MISMATCH");
    QTest::newRow("hash without prefix") << post << upload << int(GoodKey) << bytes(sha256Hex("payload"))
                                         << type << bytes(good) << 400 << QByteArray("INVALID_HASH");
    QTest::newRow("file one byte over the limit")
        << post << upload << int(GoodKey) << QByteArray() << type
        << bytes(form(part("file", "big", std::string(Limit + 1, 'x')))) << 413
        << QByteArray("FILE_TOO_LARGE");
    QTest::newRow("body far over the limit") << post << upload << int(GoodKey) << QByteArray() << type
                                             << bytes(form(part("file", "big", std::string(4 * Limit, 'x'))))
                                             << 413 << QByteArray("FILE_TOO_LARGE");
    QTest::newRow("too much besides the file")
        << post << upload << int(GoodKey) << QByteArray() << type
        << bytes(form(part("junk", "", std::string(Limit + 10, 'j')) + part("file", "a", "x"))) << 413
        << QByteArray("REQUEST_TOO_LARGE");

    const QByteArray get("GET");
    QTest::newRow("link path with ..") << get << QByteArray("/f/../sendova-server.db") << int(GoodKey)
                                       << QByteArray() << QByteArray() << QByteArray() << 404 << QByteArray();
    QTest::newRow("link path with encoded ..")
        << get << QByteArray("/f/..%2F..%2Fsendova-server.db") << int(GoodKey) << QByteArray() << QByteArray()
        << QByteArray() << 404 << QByteArray();
    QTest::newRow("check path with ..")
        << get << QByteArray("/api/check/..%2F..%2Fsendova-server.db") << int(GoodKey) << QByteArray()
        << QByteArray() << QByteArray() << 400 << QByteArray("INVALID_HASH");
    QTest::newRow("check with prefix and ..")
        << get << QByteArray("/api/check/sha256:../../sendova-server.db") << int(GoodKey) << QByteArray()
        << QByteArray() << QByteArray() << 400 << QByteArray("INVALID_HASH");
    QTest::newRow("check without key")
        << get << bytes("/api/check/" + prefixedHash("x")) << int(NoKey) << QByteArray() << QByteArray()
        << QByteArray() << 401 << QByteArray("MISSING_API_KEY");
    QTest::newRow("login with broken JSON")
        << post << QByteArray("/api/auth/login") << int(NoKey) << QByteArray()
        << QByteArray("application/json") << QByteArray("{\"userName\":") << 400
        << QByteArray("INVALID_REQUEST");
    QTest::newRow("login with a huge body")
        << post << QByteArray("/api/auth/login") << int(NoKey) << QByteArray()
        << QByteArray("application/json") << bytes("{\"userName\":\"" + std::string(100 * 1024, 'a') + "\"}")
        << 413 << QByteArray("REQUEST_TOO_LARGE");
    QTest::newRow("exchange without token")
        << post << QByteArray("/api/exchange-setup-token") << int(NoKey) << QByteArray()
        << QByteArray("application/json") << QByteArray("{\"machineName\":\"m\"}") << 400
        << QByteArray("INVALID_REQUEST");
    QTest::newRow("PUT on upload") << QByteArray("PUT") << upload << int(GoodKey) << QByteArray() << type
                                   << bytes(good) << 405 << QByteArray("METHOD_NOT_ALLOWED");
    QTest::newRow("POST elsewhere") << post << QByteArray("/api/other") << int(GoodKey) << QByteArray()
                                    << type << bytes(good) << 404 << QByteArray("NOT_FOUND");
}

void TestServerBadInput::refusedClearlyAndLeavesNothing()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(int, key);
    QFETCH(QByteArray, fileHash);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, code);

    ServerOptions options;
    options.maxUploadSize = Limit;
    RunningServer server(options);
    const auto before = jsonOf(server.upload("kept.txt", "kept"));
    QCOMPARE(before["Success"], Json(true));
    const auto filesBefore = server.storedFiles();

    const auto carol = server.server().accounts().addUser("carol", TestPassword);
    const auto carolKey = server.server().accounts().issueApiKey(carol.id, "m");
    server.server().accounts().setActive("carol", false);

    httplib::Headers headers;
    switch (key) {
    case GoodKey:
        headers.emplace("X-API-Key", server.apiKey);
        break;
    case WrongKey:
        headers.emplace("X-API-Key", "sk_" + std::string(43, 'A'));
        break;
    case InactiveKey:
        headers.emplace("X-API-Key", carolKey);
        break;
    default:
        break;
    }
    if (!fileHash.isEmpty()) {
        headers.emplace("X-File-Hash", fileHash.toStdString());
    }
    httplib::Request request;
    request.method = method.toStdString();
    request.path = path.toStdString();
    request.headers = headers;
    request.body = body.toStdString();
    if (!contentType.isEmpty()) {
        request.set_header("Content-Type", contentType.toStdString());
    }
    auto client = server.client();
    const auto reply = client.send(request);
    QVERIFY2(reply, httplib::to_string(reply.error()).c_str());
    QCOMPARE(reply->status, status);
    QCOMPARE(QByteArray::fromStdString(errorCode(Json::parse(reply->body, nullptr, false))), code);
    QVERIFY(reply->body.find("SQLite format") == std::string::npos);

    QCOMPARE(server.storedFiles(), filesBefore);
    // The server is still in good shape for the next client.
    const auto status200 = server.client().Get("/api/status", httplib::Headers{{"X-API-Key", server.apiKey}});
    QVERIFY(status200);
    QCOMPARE(status200->status, 200);
}

void TestServerBadInput::chunkedBodyOverLimitIsRefused_data()
{
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("status");
    QTest::newRow("at the limit") << int(Limit) << 200;
    QTest::newRow("one byte over") << int(Limit) + 1 << 413;
    QTest::newRow("twice the limit") << int(2 * Limit) << 413;
}

// Without a Content-Length nothing can be refused up front: the limit has
// to hold while the body streams in.
void TestServerBadInput::chunkedBodyOverLimitIsRefused()
{
    QFETCH(int, fileSize);
    QFETCH(int, status);
    ServerOptions options;
    options.maxUploadSize = Limit;
    RunningServer server(options);
    const auto body =
        std::make_shared<std::string>(form(part("file", "chunked.bin", std::string(fileSize, 'c'))));
    auto client = server.client();
    const auto reply = client.Post(
        "/api/upload", httplib::Headers{{"X-API-Key", server.apiKey}},
        [body](std::size_t offset, httplib::DataSink &sink) {
            if (offset < body->size()) {
                sink.write(body->data() + offset, std::min<std::size_t>(4000, body->size() - offset));
            } else {
                sink.done();
            }
            return true;
        },
        FormType);
    QVERIFY2(reply, httplib::to_string(reply.error()).c_str());
    QCOMPARE(reply->status, status);
    QCOMPARE(server.storedFiles().size(), std::size_t(status == 200 ? 1 : 0));
    if (status != 200) {
        QCOMPARE(errorCode(Json::parse(reply->body)), std::string("FILE_TOO_LARGE"));
    }
}

QTEST_GUILESS_MAIN(TestServerBadInput)
#include "tst_server_bad_input.moc"
