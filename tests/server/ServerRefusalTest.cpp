#include "ServerFixture.h"

using namespace sendova::server;
using namespace sendova::server::test;

namespace {

constexpr int Limit = 64 * 1024;
const QByteArray Form = "Content-Type: multipart/form-data; boundary=XyZ\r\n";

QByteArray part(const QByteArray &name, const QByteArray &fileName, const QByteArray &content)
{
    return "--XyZ\r\nContent-Disposition: form-data; name=\"" + name + "\"" +
           (fileName.isEmpty() ? "" : "; filename=\"" + fileName + "\"") + "\r\n\r\n" + content + "\r\n";
}

QByteArray form(const QByteArray &parts)
{
    return parts + "--XyZ--\r\n";
}

// Without a Content-Length nothing can be refused up front: the limit has to
// hold while the body streams in.
QByteArray chunked(const QByteArray &body)
{
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += 4000) {
        out += QByteArray::number(std::min<qsizetype>(4000, body.size() - at), 16) + "\r\n" +
               body.mid(at, 4000) + "\r\n";
    }
    return out + "0\r\n\r\n";
}

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
        row("missing key", "POST /api/upload HTTP/1.1\r\n" + Form, form(part("file", "a.txt", "payload")),
            401, "MISSING_API_KEY");
        // Content is shared by hash: a wrong key or a false hash must not get content in.
        row("wrong key", "POST /api/upload HTTP/1.1\r\nX-API-Key: sk_unknown\r\n" + Form,
            form(part("file", "a.txt", "payload")), 401, "INVALID_API_KEY");
        row("hash mismatch",
            "POST /api/upload HTTP/1.1\r\nX-API-Key: KEY\r\nX-File-Hash: " +
                QByteArray(prefixedHash("else").c_str()) + "\r\n" + Form,
            form(part("file", "a.txt", "payload")), 400, "HASH_MISMATCH");
        row("check path with ..", "GET /api/check/..%2F..%2Fsendova-server.db HTTP/1.1\r\nX-API-Key: KEY\r\n",
            {}, 400, "INVALID_HASH");
        row("chunked, one byte over the limit",
            "POST /api/upload HTTP/1.1\r\nX-API-Key: KEY\r\nTransfer-Encoding: chunked\r\n" + Form,
            chunked(form(part("file", "big", QByteArray(Limit + 1, 'x')))), 413, "FILE_TOO_LARGE");
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
        head.replace("KEY", QByteArray::fromStdString(server.apiKey));
        if (!head.contains("Transfer-Encoding")) {
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
