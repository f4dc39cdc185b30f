#include "upload/UploadService.h"
#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "net/FileError.h"
#include "net/HttpSession.h"
#include "platform/MachineName.h"
#include "support/LogService.h"
#include "support/StrictJson.h"
#include "upload/UploadError.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace sendova;
using namespace sendova::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(sendova::test::ScriptedReply)

namespace {

const QByteArray successReply =
    R"({"Success":true,"Data":{"Url":"https://s.example/f/abc","ShortCode":"abc",)"
    R"("FileName":"a.txt","FileSize":3,"IsDuplicate":false}})";
const QString sampleHash =
    QStringLiteral("sha256:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

// The log as "LEVEL   [Category] message" lines, without their time stamps.
QStringList logLines()
{
    const QString text = LogService::shared().logText();
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.mid(line.indexOf(QLatin1String("] ")) + 2);
    return lines;
}

QUrl writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &contents)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write the test file");
    return QUrl::fromLocalFile(path);
}

} // namespace

class UploadServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { LogService::shared().clear(); }

    // Both requests as the server sees them. The file-name escaping and the
    // framing are the multipart builder's, and tested here: a name's quotes and
    // line breaks cannot add a parameter or a header.
    void requestsOnTheWire()
    {
        QTemporaryDir dir;
        const QByteArray contents("\r\n--x--\r\n\xff", 10);
        const QUrl file = writeFile(dir, QStringLiteral("São \";x=\"\r\nX-Evil: 1.txt"), contents);
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, R"({"Success":true,"Data":{"Exists":false}})"));
        server.enqueue(ScriptedReply::json(200, successReply));
        std::atomic<qint64> lastSent = 0;
        UploadService service([&](qint64 sent, qint64) { lastSent = sent; });
        blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("k-1"), sampleHash));
        QCOMPARE(logLines().value(0),
                 QStringLiteral("DEBUG   [API] Checking duplicate for hash prefix: sha256:0123456789abc..."));
        blockingWait(service.upload(file, server.baseUrl(), QStringLiteral("k-1"), sampleHash));

        const RecordedRequest check = server.requests().value(0);
        QCOMPARE(check.method + ' ' + check.target, "GET /api/check/" + sampleHash.toUtf8());
        QCOMPARE(check.header("X-API-Key"), std::optional<QByteArray>("k-1"));
        QCOMPARE(check.header("X-Source-Machine"), std::nullopt);

        const RecordedRequest upload = server.requests().value(1);
        QCOMPARE(upload.method + ' ' + upload.target, QByteArray("POST /api/upload"));
        QList<QByteArray> custom;
        for (const auto &header : upload.headers) {
            if (header.first.startsWith("X-") || header.first == "Content-Type")
                custom << header.first + ": " + header.second;
        }
        const QByteArray type = upload.header("Content-Type").value_or(QByteArray());
        const QByteArray boundary = type.mid(type.indexOf('=') + 1);
        QCOMPARE(custom, (QList<QByteArray>{"X-API-Key: k-1", "X-File-Hash: " + sampleHash.toUtf8(),
                                            "X-Source-Machine: " + machineName().toUtf8(),
                                            "Content-Type: multipart/form-data; boundary=" + boundary}));
        const QByteArray expected = "--" + boundary +
                                    "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                                    QStringLiteral("São %22;x=%22%0D%0AX-Evil: 1.txt").toUtf8() +
                                    "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + contents +
                                    "\r\n--" + boundary + "--\r\n";
        QCOMPARE(upload.body, expected);
        // Progress counts the whole body, framing included.
        QCOMPARE(lastSent.load(), expected.size());
    }

    // Both requests' replies: status, decoding, what a refusal keeps of the
    // server's words, and the log's last line.
    void replies_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<ScriptedReply>("reply");
        // "result", "serverError", "decodingError" or "invalidResponse"
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("serverMessage");
        QTest::addColumn<QString>("lastLine"); // empty: not looked at

        ScriptedReply notHttp;
        notHttp.raw = QByteArray("220 smtp.example ESMTP ready\r\n\r\n");
        ScriptedReply proxy = ScriptedReply::json(413, "Request body too large\n");
        proxy.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
        const QString result = QStringLiteral("result");
        const QString serverError = QStringLiteral("serverError");
        const QString decodingError = QStringLiteral("decodingError");

        QTest::newRow("upload 201 decodes")
            << false << ScriptedReply::json(201, successReply) << result << QString()
            << QStringLiteral("DEBUG   [HTTP] Body: ") + QString::fromUtf8(successReply);
        QTest::newRow("upload 200 not JSON")
            << false << ScriptedReply::json(200, "<html>oops</html>") << decodingError << QString()
            << QStringLiteral("ERROR   [JSON] Raw response: <html>oops</html>");
        QTest::newRow("upload not HTTP")
            << false << notHttp << QStringLiteral("invalidResponse") << QString()
            << QStringLiteral("ERROR   [HTTP] Invalid response (not HTTPURLResponse)");
        QTest::newRow("refusal, non-UTF-8")
            << false << ScriptedReply::json(500, "\xff\xfe\xfd") << serverError << QString()
            << QStringLiteral("ERROR   [HTTP] Server error 500: <non-utf8>");
        QTest::newRow("refusal with an error object")
            << false
            << ScriptedReply::json(
                   413, R"({"Success":false,"Error":{"Code":"FILE_TOO_LARGE","Message":"Too big"}})")
            << serverError << QStringLiteral("Too big") << QString();
        QTest::newRow("refusal in plain text from a proxy")
            << false << proxy << serverError << QStringLiteral("Request body too large") << QString();
        QTest::newRow("check 404 is a server error, not an absent copy")
            << true << ScriptedReply::json(404, R"({"Success":true,"Data":{"Exists":false}})") << serverError
            << QString() << QString();
        QTest::newRow("check lower-case members fail")
            << true << ScriptedReply::json(200, R"({"success":true})") << decodingError << QString()
            << QString();
    }

    void replies()
    {
        QFETCH(bool, check);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, outcome);
        QFETCH(QString, serverMessage);
        QFETCH(QString, lastLine);

        QTemporaryDir dir;
        LoopbackHttpServer server;
        server.enqueue(reply);
        UploadService service([](qint64, qint64) {});
        QString seen = QStringLiteral("result");
        try {
            if (check) {
                const CheckResult result =
                    blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("k"), sampleHash));
                QCOMPARE(result, CheckResult::decode(reply.body));
            } else {
                const UploadResult result = blockingWait(service.upload(
                    writeFile(dir, QStringLiteral("r.txt"), "r"), server.baseUrl(), QStringLiteral("k"), {}));
                QCOMPARE(result, UploadResult::decode(reply.body));
            }
        } catch (const UploadError &error) {
            seen = error.errorCase() == UploadError::Case::invalidResponse ? QStringLiteral("invalidResponse")
                                                                           : QStringLiteral("serverError");
            QCOMPARE(error.statusCode(), reply.raw ? 0 : reply.status);
            QCOMPARE(error.serverMessage(), serverMessage);
        } catch (const DecodingError &) {
            seen = QStringLiteral("decodingError");
        }
        QCOMPARE(seen, outcome);
        if (!lastLine.isEmpty())
            QCOMPARE(logLines().constLast(), lastLine);
    }

    // Nothing is sent, nor logged, for an unusable address or file; the address
    // is judged first.
    void failsBeforeAnyRequest()
    {
        QTemporaryDir dir;
        const QUrl missing = QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone.txt")));
        const QString ftp = QStringLiteral("ftp://sendova.example");
        UploadService service([](qint64, qint64) {});
        QVERIFY_THROWS_EXCEPTION(UploadError,
                                 blockingWait(service.upload(missing, ftp, QStringLiteral("k"), {})));
        QVERIFY_THROWS_EXCEPTION(FileError,
                                 blockingWait(service.upload(missing, QStringLiteral("http://127.0.0.1:1"),
                                                             QStringLiteral("k"), {})));
        QCOMPARE(logLines(), QStringList());
        QVERIFY_THROWS_EXCEPTION(UploadError,
                                 blockingWait(service.checkDuplicate(ftp, QStringLiteral("k"), sampleHash)));
    }

    // The HTTP session's failures (owned by its own tests) reach the caller as
    // they are, and the log holds only the request line: reporting them is the
    // caller's part.
    void transportFailurePassesThrough_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<TransportError::Kind>("kind");
        QTest::newRow("refused") << QStringLiteral("refused") << TransportError::Kind::connection;
        QTest::newRow("stalled") << QStringLiteral("stalled") << TransportError::Kind::timeout;
        QTest::newRow("cancelled") << QStringLiteral("cancelled") << TransportError::Kind::cancelled;
    }

    void transportFailurePassesThrough()
    {
        QFETCH(QString, failure);
        QFETCH(TransportError::Kind, kind);
        QTemporaryDir dir;
        const QUrl file = writeFile(dir, QStringLiteral("t.bin"), QByteArray(8 * 1024 * 1024, 't'));
        LoopbackHttpServer server;
        ScriptedReply reply = ScriptedReply::json(200, successReply);
        reply.reading = failure == QLatin1String("stalled") ? ScriptedReply::Reading::stall
                                                            : ScriptedReply::Reading::slowly;
        reply.slowChunkBytes = 4096;
        server.enqueue(reply);
        const QString serverUrl =
            failure == QLatin1String("refused")
                ? QStringLiteral("http://127.0.0.1:%1").arg(LoopbackHttpServer::unusedPort())
                : server.baseUrl();

        UploadService *servicePointer = nullptr;
        std::atomic<bool> cancelled{false};
        UploadService service(
            [&](qint64 sent, qint64) {
                if (failure == QLatin1String("cancelled") && sent > 0 && !cancelled.exchange(true))
                    servicePointer->cancel();
            },
            UploadSessionLimits{1s, 3600s});
        servicePointer = &service;
        std::optional<TransportError::Kind> seen;
        try {
            blockingWait(service.upload(file, serverUrl, QStringLiteral("k"), {}));
        } catch (const TransportError &error) {
            seen = error.kind();
        }
        QCOMPARE(seen, std::optional(kind));
        QCOMPARE(logLines(), QStringList{QStringLiteral("INFO    [HTTP] POST ") + serverUrl +
                                         QStringLiteral("/api/upload")});
    }
};

QTEST_GUILESS_MAIN(UploadServiceTest)
#include "UploadServiceTest.moc"
