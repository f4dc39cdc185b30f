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
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("lastLine"); // empty: not looked at

        ScriptedReply notHttp;
        notHttp.raw = QByteArray("220 smtp.example ESMTP ready\r\n\r\n");
        ScriptedReply proxy = ScriptedReply::json(413, "Request body too large\n");
        proxy.headers = {{"Content-Type", "text/plain; charset=utf-8"}};

        QTest::newRow("upload 201 decodes")
            << false << ScriptedReply::json(201, successReply) << QStringLiteral("https://s.example/f/abc")
            << QStringLiteral("DEBUG   [HTTP] Body: ") + QString::fromUtf8(successReply);
        QTest::newRow("upload 200 not JSON")
            << false << ScriptedReply::json(200, "<html>oops</html>") << QStringLiteral("not decoded")
            << QStringLiteral("ERROR   [JSON] Raw response: <html>oops</html>");
        QTest::newRow("upload not HTTP")
            << false << notHttp << QStringLiteral("invalid response 0: ")
            << QStringLiteral("ERROR   [HTTP] Invalid response (not HTTPURLResponse)");
        QTest::newRow("refusal with an error object")
            << false
            << ScriptedReply::json(
                   413, R"({"Success":false,"Error":{"Code":"FILE_TOO_LARGE","Message":"Too big"}})")
            << QStringLiteral("server error 413: Too big") << QString();
        QTest::newRow("refusal in plain text from a proxy")
            << false << proxy << QStringLiteral("server error 413: Request body too large") << QString();
        QTest::newRow("check 404 is a server error, not an absent copy")
            << true << ScriptedReply::json(404, R"({"Success":true,"Data":{"Exists":false}})")
            << QStringLiteral("server error 404: ") << QString();
    }

    void replies()
    {
        QFETCH(bool, check);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, outcome);
        QFETCH(QString, lastLine);

        QTemporaryDir dir;
        LoopbackHttpServer server;
        server.enqueue(reply);
        UploadService service([](qint64, qint64) {});
        QString seen;
        try {
            if (check) {
                blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("k"), sampleHash));
            } else {
                seen = blockingWait(service.upload(writeFile(dir, QStringLiteral("r.txt"), "r"),
                                                   server.baseUrl(), QStringLiteral("k"), {}))
                           .data->url;
            }
        } catch (const UploadError &error) {
            seen = QStringLiteral("%1 %2: %3")
                       .arg(error.errorCase() == UploadError::Case::invalidResponse ? u"invalid response"_qs
                                                                                    : u"server error"_qs)
                       .arg(error.statusCode())
                       .arg(error.serverMessage());
        } catch (const DecodingError &) {
            seen = QStringLiteral("not decoded");
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
    // caller's part. Cancelling is the service's own.
    void transportFailurePassesThrough()
    {
        QTemporaryDir dir;
        const QUrl file = writeFile(dir, QStringLiteral("t.bin"), QByteArray(8 * 1024 * 1024, 't'));
        LoopbackHttpServer server;
        ScriptedReply reply = ScriptedReply::json(200, successReply);
        reply.reading = ScriptedReply::Reading::slowly;
        reply.slowChunkBytes = 4096;
        server.enqueue(reply);
        UploadService *servicePointer = nullptr;
        std::atomic<bool> cancelled{false};
        UploadService service([&](qint64 sent, qint64) {
            if (sent > 0 && !cancelled.exchange(true))
                servicePointer->cancel();
        });
        servicePointer = &service;
        try {
            blockingWait(service.upload(file, server.baseUrl(), QStringLiteral("k"), {}));
            QFAIL("a cancelled upload returned");
        } catch (const TransportError &error) {
            QCOMPARE(error.kind(), TransportError::Kind::cancelled);
        }
        QCOMPARE(logLines(), QStringList{QStringLiteral("INFO    [HTTP] POST ") + server.baseUrl() +
                                         QStringLiteral("/api/upload")});
    }
};

QTEST_GUILESS_MAIN(UploadServiceTest)
#include "UploadServiceTest.moc"
