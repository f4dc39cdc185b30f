#include "upload/UploadService.h"
#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "net/FileError.h"
#include "net/HttpSession.h"
#include "platform/MachineName.h"
#include "support/LogService.h"
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

    // What each call ends with: both requests' replies (status, what a
    // refusal keeps of the server's words); an unusable address, judged
    // before the file; a missing file. Cancelling is the service's own.
    void calls_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QString>("address");     // SERVER: the test server's
        QTest::addColumn<ScriptedReply>("reply"); // read slowly: cancelled once under way
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<QString>("outcome");

        const QString server = QStringLiteral("SERVER");
        const QByteArray r("r");
        ScriptedReply proxy = ScriptedReply::json(413, "Request body too large\n");
        proxy.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
        ScriptedReply slow = ScriptedReply::json(200, successReply);
        slow.reading = ScriptedReply::Reading::slowly;
        slow.slowChunkBytes = 4096;

        QTest::newRow("upload 201 decodes") << false << server << ScriptedReply::json(201, successReply) << r
                                            << QStringLiteral("https://s.example/f/abc");
        QTest::newRow("refusal with an error object")
            << false << server
            << ScriptedReply::json(
                   413, R"({"Success":false,"Error":{"Code":"FILE_TOO_LARGE","Message":"Too big"}})")
            << r << QStringLiteral("serverError 413: Too big");
        QTest::newRow("refusal in plain text from a proxy")
            << false << server << proxy << r << QStringLiteral("serverError 413: Request body too large");
        QTest::newRow("check 404 is a server error, not an absent copy")
            << true << server << ScriptedReply::json(404, R"({"Success":true,"Data":{"Exists":false}})") << r
            << QStringLiteral("serverError 404: ");
        QTest::newRow("upload to an unusable address, no file")
            << false << QStringLiteral("ftp://sendova.example") << slow << QByteArray()
            << QStringLiteral("invalidURL 0: ");
        QTest::newRow("no file") << false << server << slow << QByteArray() << QStringLiteral("file error");
        QTest::newRow("cancelled") << false << server << slow << QByteArray(8 * 1024 * 1024, 't')
                                   << QStringLiteral("cancelled");
    }

    void calls()
    {
        QFETCH(bool, check);
        QFETCH(QString, address);
        QFETCH(ScriptedReply, reply);
        QFETCH(QByteArray, contents);
        QFETCH(QString, outcome);

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
        } catch (const FileError &) {
            seen = QStringLiteral("file error");
        } catch (const TransportError &error) {
            seen = error.isCancellation() ? QStringLiteral("cancelled") : error.description();
        }
        QCOMPARE(seen, outcome);
        if (!check && server.requests().size() == 1)
            QCOMPARE(server.requests()[0].header("X-File-Hash"), std::nullopt);
    }

    // What the error report will carry of an exchange, line by line (after
    // the time stamp); the decoder's own words follow "Decode error: ".
    void exchangeLogged_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QStringList>("lines"); // BASE: the server's address
        QTest::newRow("upload, undecodable and not UTF-8")
            << false << ScriptedReply::json(200, "\xff<html>")
            << QStringList{u"INFO    [HTTP] POST BASE/api/upload"_qs, u"INFO    [HTTP] Response: 200"_qs,
                           u"DEBUG   [HTTP] Body: <non-utf8>"_qs, u"ERROR   [JSON] Decode error: "_qs,
                           u"ERROR   [JSON] Raw response: <non-utf8>"_qs};
        QTest::newRow("lookup refused")
            << true << ScriptedReply::json(413, "full")
            << QStringList{u"DEBUG   [API] Checking duplicate for hash prefix: sha256:0123456789abc..."_qs,
                           u"INFO    [HTTP] GET BASE/api/check/"_qs + sampleHash,
                           u"INFO    [HTTP] Response: 413"_qs, u"DEBUG   [HTTP] Body: full"_qs,
                           u"ERROR   [HTTP] Server error 413: full"_qs};
    }
    void exchangeLogged()
    {
        QFETCH(bool, check);
        QFETCH(ScriptedReply, reply);
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        LoopbackHttpServer server;
        server.enqueue(reply);
        LogService::shared().clear();
        UploadService service([](qint64, qint64) {});
        try {
            if (check)
                blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("k"), sampleHash));
            else
                blockingWait(service.upload(writeFile(dir, u"a.txt"_qs, "a"), server.baseUrl(), u"k"_qs, {}));
            QFAIL("the reply was taken");
        } catch (const Error &) {
        }
        QStringList logged = LogService::shared().logText().split(u'\n');
        for (QString &line : logged)
            line = line.section(u"] "_qs, 1);
        QCOMPARE(logged.size(), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString expected = lines[i].replace(u"BASE"_qs, server.baseUrl());
            QVERIFY2(logged[i].startsWith(expected), qPrintable(logged[i]));
        }
    }
};

QTEST_GUILESS_MAIN(UploadServiceTest)
#include "UploadServiceTest.moc"
