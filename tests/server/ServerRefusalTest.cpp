#include "ServerFixture.h"

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

constexpr int Limit = 64 * 1024;
const QByteArray Form = "Content-Type: multipart/form-data; boundary=XyZ\r\n";

// A one-file form, as the clients send it.
const QByteArray Upload = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\n\r\n"
                          "payload\r\n--XyZ--\r\n";

} // namespace

class ServerRefusalTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusedClearlyAndLeavesNothing_data()
    {
        QTest::addColumn<QByteArray>("head"); // KEY stands for the user's key
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("code");
        const auto row = [](const char *name, const QByteArray &head, const QByteArray &body, int status,
                            const char *code) {
            QTest::newRow(name) << head << body << status << QByteArray(code);
        };
        row("missing key", "POST /api/upload HTTP/1.1\r\n" + Form, Upload, 401, "MISSING_API_KEY");
        // Content is shared by hash: a wrong key or a false hash must not get content in.
        row("wrong key", "POST /api/upload HTTP/1.1\r\nX-API-Key: sk_unknown\r\n" + Form, Upload, 401,
            "INVALID_API_KEY");
        row("hash mismatch",
            "POST /api/upload HTTP/1.1\r\nX-API-Key: KEY\r\nX-File-Hash: " +
                QByteArray(prefixedHash("else").c_str()) + "\r\n" + Form,
            Upload, 400, "HASH_MISMATCH");
        // A check or a status without a key must not answer as if for someone.
        row("check without a key",
            "GET /api/check/" + QByteArray(prefixedHash("kept").c_str()) + " HTTP/1.1\r\n", {}, 401,
            "MISSING_API_KEY");
        row("status without a key", "GET /api/status HTTP/1.1\r\n", {}, 401, "MISSING_API_KEY");
        row("check path with ..", "GET /api/check/..%2F..%2Fsendova-server.db HTTP/1.1\r\nX-API-Key: KEY\r\n",
            {}, 400, "INVALID_HASH");
        // httplib would keep a chunk-size line that never ends in memory.
        const QByteArray login = "POST /api/auth/login HTTP/1.1\r\nContent-Type: application/json\r\n";
        row("chunked, endless chunk size", login + "Transfer-Encoding: chunked\r\n",
            QByteArray(256 << 10, 'f'), 411, "LENGTH_REQUIRED");
        // Framing in doubt is refused at once, before the body could run as a request.
        row("two lengths", login + "Content-Length: 2\r\nContent-Length: 40\r\n", "{}", 400, "BAD_REQUEST");
        row("percent-encoded length", login + "Content-Length: %32\r\n", "{}", 400, "BAD_REQUEST");
        row("negative length", login + "Content-Length: -1\r\n", "{}", 400, "BAD_REQUEST");
        row("POST without a length", login, {}, 400, "BAD_REQUEST");
        row("percent-encoded key", "POST /api/upload HTTP/1.1\r\nX-API-Key: %KEY\r\n" + Form, Upload, 401,
            "INVALID_API_KEY");
        // Answered instead of 100 Continue: the body is never invited.
        const QByteArray expect = "POST /api/upload HTTP/1.1\r\nExpect: 100-continue\r\n" + Form;
        row("Expect, wrong key", expect + "X-API-Key: sk_unknown\r\nContent-Length: 1000\r\n", {}, 401,
            "INVALID_API_KEY");
        row("Expect, over the limit", expect + "X-API-Key: KEY\r\nContent-Length: 1000000000\r\n", {}, 413,
            "FILE_TOO_LARGE");
        // httplib would read the body whole into memory before routing a GET.
        row("GET with a body", "GET /api/status HTTP/1.1\r\n", QByteArray(100 * 1024, 'b'), 400,
            "INVALID_REQUEST");
    }

    void refusedClearlyAndLeavesNothing()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, code);
        ServerOptions options = testOptions();
        options.maxUploadSize = Limit;
        RunningServer server(options);
        QCOMPARE(statusOf(server.upload("kept.txt", "kept")), 200);
        const auto storedBefore = server.storedFiles();
        const QByteArray key = QByteArray::fromStdString(server.apiKey);
        head.replace("%KEY", "%" + key.left(1).toHex() + key.mid(1)).replace("KEY", key);
        if (!body.isEmpty() && !head.contains("Transfer-Encoding") && !head.contains("Content-Length")) {
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        }
        const std::string reply =
            server.exchange((head + "Host: x\r\nConnection: close\r\n\r\n" + body).toStdString());
        QVERIFY2(reply.starts_with("HTTP/1.1 " + std::to_string(status) + " "), reply.c_str());
        const Json answer = Json::parse(reply.substr(reply.find("\r\n\r\n") + 4), nullptr, false);
        const Json error = answer.value("Error", answer.value("error", Json::object()));
        QCOMPARE(QByteArray::fromStdString(error.value("Code", error.value("code", ""))), code);
        QCOMPARE(server.storedFiles(), storedBefore);
        // The server is still in good shape for the next client.
        QCOMPARE(statusOf(server.check(prefixedHash("kept"))), 200);
    }
};

QTEST_GUILESS_MAIN(ServerRefusalTest)
#include "ServerRefusalTest.moc"
