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

    // What each call ends with, and the log's last line: both requests'
    // replies (status, decoding, what a refusal keeps of the server's words);
    // an unusable address or file, with nothing sent nor logged past the
    // check's own line (the address is judged first); and the HTTP session's failures (owned by its own
    // tests), which reach the caller as they are after the request line:
    // reporting them is the caller's part. Cancelling is the service's own.
    void calls_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QString>("address");     // SERVER: the test server's
        QTest::addColumn<ScriptedReply>("reply"); // read slowly: cancelled once under way
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("lastLine"); // empty: nothing logged

        const QString server = QStringLiteral("SERVER");
        const QByteArray refusal =
            R"({"Success":false,"Error":{"Code":"FILE_TOO_LARGE","Message":"Too big"}})";
        const QByteArray r("r");
        ScriptedReply notHttp;
        notHttp.raw = QByteArray("220 smtp.example ESMTP ready\r\n\r\n");
        ScriptedReply proxy = ScriptedReply::json(413, "Request body too large\n");
        proxy.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
        ScriptedReply slow = ScriptedReply::json(200, successReply);
        slow.reading = ScriptedReply::Reading::slowly;
        slow.slowChunkBytes = 4096;

        QTest::newRow("upload 201 decodes")
            << false << server << ScriptedReply::json(201, successReply) << r
            << QStringLiteral("https://s.example/f/abc")
            << QStringLiteral("DEBUG   [HTTP] Body: ") + QString::fromUtf8(successReply);
        QTest::newRow("upload 200 not JSON")
            << false << server << ScriptedReply::json(200, "<html>oops</html>") << r
            << QStringLiteral("not decoded")
            << QStringLiteral("ERROR   [JSON] Raw response: <html>oops</html>");
        QTest::newRow("upload not HTTP")
            << false << server << notHttp << r << QStringLiteral("invalidResponse 0: ")
            << QStringLiteral("ERROR   [HTTP] Invalid response (not HTTPURLResponse)");
        QTest::newRow("refusal with an error object")
            << false << server
            << ScriptedReply::json(
                   413, R"({"Success":false,"Error":{"Code":"FILE_TOO_LARGE","Message":"Too big"}})")
            << r << QStringLiteral("serverError 413: Too big")
            << QStringLiteral("ERROR   [HTTP] Server error 413: ") + QString::fromUtf8(refusal);
        QTest::newRow("refusal in plain text from a proxy")
            << false << server << proxy << r << QStringLiteral("serverError 413: Request body too large")
            << QStringLiteral("ERROR   [HTTP] Server error 413: Request body too large");
        QTest::newRow("check 404 is a server error, not an absent copy")
            << true << server << ScriptedReply::json(404, R"({"Success":true,"Data":{"Exists":false}})") << r
            << QStringLiteral("serverError 404: ")
            << QStringLiteral(
                   "ERROR   [HTTP] Server error 404: {\"Success\":true,\"Data\":{\"Exists\":false}}");
        QTest::newRow("upload to an unusable address, no file")
            << false << QStringLiteral("ftp://sendova.example") << slow << QByteArray()
            << QStringLiteral("invalidURL 0: ") << QString();
        QTest::newRow("check at an unusable address")
            << true << QStringLiteral("ftp://sendova.example") << slow << r
            << QStringLiteral("invalidURL 0: ")
            << QStringLiteral("DEBUG   [API] Checking duplicate for hash prefix: sha256:0123456789abc...");
        QTest::newRow("no file") << false << server << slow << QByteArray() << QStringLiteral("file error")
                                 << QString();
        QTest::newRow("cancelled") << false << server << slow << QByteArray(8 * 1024 * 1024, 't')
                                   << QStringLiteral("cancelled")
                                   << QStringLiteral("INFO    [HTTP] POST SERVER/api/upload");
    }

    void calls()
    {
        QFETCH(bool, check);
        QFETCH(QString, address);
        QFETCH(ScriptedReply, reply);
        QFETCH(QByteArray, contents);
        QFETCH(QString, outcome);
        QFETCH(QString, lastLine);

        QTemporaryDir dir;
        const QUrl file = contents.isNull() ? QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone.txt")))
                                            : writeFile(dir, QStringLiteral("r.bin"), contents);
        LoopbackHttpServer server;
        server.enqueue(reply);
        address.replace(QStringLiteral("SERVER"), server.baseUrl());
        UploadService *servicePointer = nullptr;
        std::atomic<bool> cancelled{false};
        UploadService service([&](qint64 sent, qint64) {
            if (reply.reading == ScriptedReply::Reading::slowly && sent > 0 && !cancelled.exchange(true))
                servicePointer->cancel();
        });
        servicePointer = &service;
        QString seen;
        try {
            if (check)
                blockingWait(service.checkDuplicate(address, QStringLiteral("k"), sampleHash));
            else
                seen = blockingWait(service.upload(file, address, QStringLiteral("k"), {})).data->url;
        } catch (const UploadError &error) {
            static const char *const cases[] = {"serverError", "networkError", "invalidURL",
                                                "invalidResponse"};
            seen = QStringLiteral("%1 %2: %3")
                       .arg(QLatin1String(cases[int(error.errorCase())]))
                       .arg(error.statusCode())
                       .arg(error.serverMessage());
        } catch (const DecodingError &) {
            seen = QStringLiteral("not decoded");
        } catch (const FileError &) {
            seen = QStringLiteral("file error");
        } catch (const TransportError &error) {
            seen = error.isCancellation() ? QStringLiteral("cancelled") : error.description();
        }
        QCOMPARE(seen, outcome);
        const QStringList log = logLines();
        QCOMPARE(log.value(log.size() - 1), lastLine.replace(QStringLiteral("SERVER"), server.baseUrl()));
    }
};

QTEST_GUILESS_MAIN(UploadServiceTest)
#include "UploadServiceTest.moc"
