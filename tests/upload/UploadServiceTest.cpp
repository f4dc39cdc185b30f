#include "upload/UploadService.h"
#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "net/FileError.h"
#include "net/HttpSession.h"
#include "platform/MachineName.h"
#include "support/LocalizationService.h"
#include "support/LogService.h"
#include "support/StrictJson.h"
#include "upload/UploadError.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <mutex>

using namespace sendova;
using namespace sendova::test;
using namespace std::chrono_literals;

namespace {

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

const QByteArray successReply =
    R"({"Success":true,"Data":{"Url":"https://s.example/f/abc","ShortCode":"abc",)"
    R"("FileName":"a.txt","FileSize":3,"IsDuplicate":false}})";
const QByteArray existsReply = R"({"Success":true,"Data":{"Exists":true,"Url":"https://s.example/f/x"}})";
const QString sampleHash =
    QStringLiteral("sha256:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

// The log as "LEVEL   [Category] message" lines, without their time stamps.
QStringList logLines()
{
    const QString text = LogService::shared().logText();
    QStringList lines;
    if (text.isEmpty())
        return lines;
    for (const QString &line : text.split(QLatin1Char('\n')))
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

QByteArray boundaryOf(const RecordedRequest &request)
{
    const QByteArray prefix = "multipart/form-data; boundary=";
    const QByteArray type = request.header("Content-Type").value_or(QByteArray());
    return type.startsWith(prefix) ? type.mid(prefix.size()) : QByteArray();
}

QList<QByteArray> headerNames(const RecordedRequest &request)
{
    QList<QByteArray> names;
    for (const auto &h : request.headers)
        names << h.first;
    return names;
}

} // namespace

class UploadServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void multipartBodyOnTheWire_data();
    void multipartBodyOnTheWire();
    void uploadHeaders_data();
    void uploadHeaders();
    void trailingSlashIsNotCorrected();
    void everyUploadHasItsOwnBoundary();
    void replyHandling_data();
    void replyHandling();
    void refusalKeepsTheServersWords_data();
    void refusalKeepsTheServersWords();
    void invalidServerUrlFailsBeforeAnything_data();
    void invalidServerUrlFailsBeforeAnything();
    void unreadableFileFailsBeforeAnyRequest();
    void nonHttpReplyIsInvalidResponse();
    void progressRisesToTheWholeBody();
    void cancelStopsAnUploadInFlight();
    void stalledServerFailsAfterTheRequestTimeout();
    void refusedConnectionPassesTheTransportFailure();
    void duplicateCheckRequest();
    void duplicateCheckReplies_data();
    void duplicateCheckReplies();
    void errorDescriptionsFollowTheLanguage();
};

void UploadServiceTest::init()
{
    LogService::shared().clear();
}

void UploadServiceTest::cleanup()
{
    LocalizationService::shared().setLanguage(Language::english);
}

void UploadServiceTest::multipartBodyOnTheWire_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("sentName");

    QTest::newRow("plain") << QStringLiteral("a.txt") << QByteArray("abc") << QByteArray("a.txt");
    QTest::newRow("empty file") << QStringLiteral("empty.bin") << QByteArray() << QByteArray("empty.bin");
    QTest::newRow("spaces and accents")
        << QStringLiteral("mi foto de São Paulo ñ.jpg") << QByteArray("\x00\x01\xff", 3)
        << QStringLiteral("mi foto de São Paulo ñ.jpg").toUtf8();
    QTest::newRow("quotes cannot add a parameter")
        << QStringLiteral("a\";x=\".txt") << QByteArray("q") << QByteArray("a%22;x=%22.txt");
    QTest::newRow("line breaks cannot add a header")
        << QStringLiteral("a\r\nX-Evil: 1.txt") << QByteArray("r") << QByteArray("a%0D%0AX-Evil: 1.txt");
    QTest::newRow("characters special in URLs")
        << QStringLiteral("100% #1?.txt") << QByteArray("u") << QByteArray("100% #1?.txt");
    QTest::newRow("body looks like framing")
        << QStringLiteral("f.txt") << QByteArray("\r\n--x--\r\n") << QByteArray("f.txt");
}

void UploadServiceTest::multipartBodyOnTheWire()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, sentName);

    QTemporaryDir dir;
    const QUrl file = writeFile(dir, fileName, contents);
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, successReply));
    UploadService service([](qint64, qint64) {});
    blockingWait(service.upload(file, server.baseUrl(), QStringLiteral("key"), sampleHash));

    const RecordedRequest seen = server.requests().value(0);
    const QByteArray boundary = boundaryOf(seen);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
            .match(QString::fromLatin1(boundary))
            .hasMatch(),
        boundary.constData());
    const QByteArray expected = "--" + boundary + "\r\n" +
                                "Content-Disposition: form-data; name=\"file\"; filename=\"" + sentName +
                                "\"\r\n" + "Content-Type: application/octet-stream\r\n" + "\r\n" + contents +
                                "\r\n" + "--" + boundary + "--\r\n";
    QCOMPARE(seen.body, expected);
    QCOMPARE(seen.contentLength, expected.size());
}

void UploadServiceTest::uploadHeaders_data()
{
    QTest::addColumn<QString>("apiKey");
    QTest::addColumn<std::optional<QString>>("hash");
    QTest::addColumn<QList<QByteArray>>("customHeaders");

    const QList<QByteArray> withHash = {"X-API-Key", "X-File-Hash", "X-Source-Machine", "Content-Type"};
    const QList<QByteArray> withoutHash = {"X-API-Key", "X-Source-Machine", "Content-Type"};
    QTest::newRow("with hash") << QStringLiteral("k-123") << std::optional<QString>(sampleHash) << withHash;
    QTest::newRow("without hash") << QStringLiteral("k-123") << std::optional<QString>() << withoutHash;
    QTest::newRow("empty key is still sent") << QString() << std::optional<QString>() << withoutHash;
}

void UploadServiceTest::uploadHeaders()
{
    QFETCH(QString, apiKey);
    QFETCH(std::optional<QString>, hash);
    QFETCH(QList<QByteArray>, customHeaders);

    QTemporaryDir dir;
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, successReply));
    UploadService service([](qint64, qint64) {});
    blockingWait(
        service.upload(writeFile(dir, QStringLiteral("h.txt"), "x"), server.baseUrl(), apiKey, hash));

    const RecordedRequest seen = server.requests().value(0);
    QCOMPARE(seen.method, QByteArray("POST"));
    QCOMPARE(seen.target, QByteArray("/api/upload"));
    QList<QByteArray> present;
    for (const QByteArray &name : headerNames(seen)) {
        if (name.startsWith("X-") || name == "Content-Type" || name == "Expect")
            present << name;
    }
    QCOMPARE(present, customHeaders);
    QCOMPARE(seen.header("X-API-Key"), std::optional<QByteArray>(apiKey.toUtf8()));
    QCOMPARE(seen.header("X-File-Hash"), hash ? std::optional<QByteArray>(hash->toUtf8()) : std::nullopt);
    QCOMPARE(seen.header("X-Source-Machine"), std::optional<QByteArray>(machineName().toUtf8()));
    QVERIFY(!machineName().isEmpty());
}

void UploadServiceTest::trailingSlashIsNotCorrected()
{
    QTemporaryDir dir;
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, successReply));
    server.enqueue(ScriptedReply::json(200, R"({"Success":true,"Data":{"Exists":false}})"));
    const QString serverUrl = server.baseUrl() + QLatin1Char('/');
    UploadService uploader([](qint64, qint64) {});
    blockingWait(
        uploader.upload(writeFile(dir, QStringLiteral("t.txt"), "t"), serverUrl, QStringLiteral("k"), {}));
    UploadService checker([](qint64, qint64) {});
    blockingWait(checker.checkDuplicate(serverUrl, QStringLiteral("k"), sampleHash));

    QCOMPARE(server.requests().value(0).target, QByteArray("//api/upload"));
    QCOMPARE(server.requests().value(1).target, "//api/check/" + sampleHash.toUtf8());
    QCOMPARE(logLines().value(0),
             QStringLiteral("INFO    [HTTP] POST ") + serverUrl + QStringLiteral("/api/upload"));
}

void UploadServiceTest::everyUploadHasItsOwnBoundary()
{
    QTemporaryDir dir;
    const QUrl file = writeFile(dir, QStringLiteral("b.txt"), "b");
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, successReply));
    server.enqueue(ScriptedReply::json(200, successReply));
    UploadService first([](qint64, qint64) {});
    blockingWait(first.upload(file, server.baseUrl(), QStringLiteral("k"), {}));
    UploadService second([](qint64, qint64) {});
    blockingWait(second.upload(file, server.baseUrl(), QStringLiteral("k"), {}));
    const QByteArray one = boundaryOf(server.requests().value(0));
    const QByteArray two = boundaryOf(server.requests().value(1));
    QVERIFY(!one.isEmpty());
    QVERIFY(one != two);
}

void UploadServiceTest::replyHandling_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    // "result", "serverError" or "decodingError"
    QTest::addColumn<QString>("outcome");
    // After the "POST" line.
    QTest::addColumn<QStringList>("lines");

    const QString body = QString::fromUtf8(successReply);
    QTest::newRow("200 decodes") << 200 << successReply << QStringLiteral("result")
                                 << QStringList{QStringLiteral("INFO    [HTTP] Response: 200"),
                                                QStringLiteral("DEBUG   [HTTP] Body: ") + body};
    QTest::newRow("201 decodes") << 201 << successReply << QStringLiteral("result")
                                 << QStringList{QStringLiteral("INFO    [HTTP] Response: 201"),
                                                QStringLiteral("DEBUG   [HTTP] Body: ") + body};
    QTest::newRow("success false decodes")
        << 200 << QByteArray(R"({"Success":false,"Error":{"Code":"quota","Message":"Full"}})")
        << QStringLiteral("result")
        << QStringList{
               QStringLiteral("INFO    [HTTP] Response: 200"),
               text(R"(DEBUG   [HTTP] Body: {"Success":false,"Error":{"Code":"quota","Message":"Full"}})")};
    QTest::newRow("400 with JSON is a server error")
        << 400 << successReply << QStringLiteral("serverError")
        << QStringList{QStringLiteral("INFO    [HTTP] Response: 400"),
                       QStringLiteral("DEBUG   [HTTP] Body: ") + body,
                       QStringLiteral("ERROR   [HTTP] Server error 400: ") + body};
    QTest::newRow("404") << 404 << QByteArray("not found") << QStringLiteral("serverError")
                         << QStringList{QStringLiteral("INFO    [HTTP] Response: 404"),
                                        QStringLiteral("DEBUG   [HTTP] Body: not found"),
                                        QStringLiteral("ERROR   [HTTP] Server error 404: not found")};
    QTest::newRow("413") << 413 << QByteArray("too large") << QStringLiteral("serverError")
                         << QStringList{QStringLiteral("INFO    [HTTP] Response: 413"),
                                        QStringLiteral("DEBUG   [HTTP] Body: too large"),
                                        QStringLiteral("ERROR   [HTTP] Server error 413: too large")};
    QTest::newRow("500 non-UTF-8") << 500 << QByteArray("\xff\xfe\xfd") << QStringLiteral("serverError")
                                   << QStringList{
                                          QStringLiteral("INFO    [HTTP] Response: 500"),
                                          QStringLiteral("DEBUG   [HTTP] Body: <non-utf8>"),
                                          QStringLiteral("ERROR   [HTTP] Server error 500: <non-utf8>")};
    QTest::newRow("200 not JSON") << 200 << QByteArray("<html>oops</html>") << QStringLiteral("decodingError")
                                  << QStringList{
                                         QStringLiteral("INFO    [HTTP] Response: 200"),
                                         QStringLiteral("DEBUG   [HTTP] Body: <html>oops</html>"),
                                         QStringLiteral("ERROR   [JSON] Decode error: %1"),
                                         QStringLiteral("ERROR   [JSON] Raw response: <html>oops</html>")};
    QTest::newRow("200 non-UTF-8 is still decoded")
        << 200 << QByteArray("{\"Success\":\"\xff\"}") << QStringLiteral("decodingError")
        << QStringList{QStringLiteral("INFO    [HTTP] Response: 200"),
                       QStringLiteral("DEBUG   [HTTP] Body: <non-utf8>"),
                       QStringLiteral("ERROR   [JSON] Decode error: %1"),
                       QStringLiteral("ERROR   [JSON] Raw response: <non-utf8>")};
    QTest::newRow("200 wrong member type")
        << 200 << QByteArray(R"({"Success":"yes"})") << QStringLiteral("decodingError")
        << QStringList{QStringLiteral("INFO    [HTTP] Response: 200"),
                       text(R"(DEBUG   [HTTP] Body: {"Success":"yes"})"),
                       QStringLiteral("ERROR   [JSON] Decode error: %1"),
                       text(R"(ERROR   [JSON] Raw response: {"Success":"yes"})")};
}

void UploadServiceTest::replyHandling()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    QFETCH(QStringList, lines);

    QTemporaryDir dir;
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(status, body));
    UploadService service([](qint64, qint64) {});
    QString seenOutcome;
    QString decodeDescription;
    try {
        const UploadResult result = blockingWait(service.upload(writeFile(dir, QStringLiteral("r.txt"), "r"),
                                                                server.baseUrl(), QStringLiteral("k"), {}));
        seenOutcome = QStringLiteral("result");
        QCOMPARE(result, UploadResult::decode(body));
    } catch (const UploadError &error) {
        seenOutcome = QStringLiteral("serverError");
        QCOMPARE(error.errorCase(), UploadError::Case::serverError);
        QCOMPARE(error.statusCode(), status);
    } catch (const DecodingError &error) {
        seenOutcome = QStringLiteral("decodingError");
        decodeDescription = error.description();
    }
    QCOMPARE(seenOutcome, outcome);

    QStringList expected{QStringLiteral("INFO    [HTTP] POST ") + server.baseUrl() +
                         QStringLiteral("/api/upload")};
    for (const QString &line : lines)
        expected << (line.contains(QLatin1String("%1")) ? line.arg(decodeDescription) : line);
    QCOMPARE(logLines(), expected);
}

void UploadServiceTest::refusalKeepsTheServersWords_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::newRow("error object") << QByteArray("application/json")
                                  << QByteArray(R"({"Success":false,"Error":{"Code":"FILE_TOO_LARGE",)"
                                                R"("Message":"The file is larger than the limit"}})")
                                  << QStringLiteral("The file is larger than the limit");
    QTest::newRow("plain text from a proxy")
        << QByteArray("text/plain; charset=utf-8") << QByteArray("Request body too large\n")
        << QStringLiteral("Request body too large");
    QTest::newRow("HTML page") << QByteArray("text/html") << QByteArray("<h1>413</h1>") << QString();
}

void UploadServiceTest::refusalKeepsTheServersWords()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    QTemporaryDir dir;
    LoopbackHttpServer server;
    ScriptedReply refusal = ScriptedReply::json(413, body);
    refusal.headers = {{"Content-Type", contentType}};
    server.enqueue(refusal);
    UploadService service([](qint64, qint64) {});
    try {
        blockingWait(service.upload(writeFile(dir, QStringLiteral("big.bin"), "b"), server.baseUrl(),
                                    QStringLiteral("k"), {}));
        QFAIL("a refusal was taken for a result");
    } catch (const UploadError &error) {
        QCOMPARE(error.statusCode(), 413);
        QCOMPARE(error.serverMessage(), message);
        QCOMPARE(error.description(), QStringLiteral("Server error (413)"));
    }
}

void UploadServiceTest::invalidServerUrlFailsBeforeAnything_data()
{
    QTest::addColumn<QString>("serverUrl");
    QTest::newRow("empty") << QString();
    QTest::newRow("no scheme") << QStringLiteral("sendova.example.com");
    QTest::newRow("space in host") << QStringLiteral("http://send ova.example");
    QTest::newRow("not http") << QStringLiteral("ftp://sendova.example");
    QTest::newRow("bad port") << QStringLiteral("http://sendova.example:99999");
}

void UploadServiceTest::invalidServerUrlFailsBeforeAnything()
{
    QFETCH(QString, serverUrl);
    QTemporaryDir dir;
    UploadService service([](qint64, qint64) {});
    // A missing file too: the address is judged first.
    const QUrl missing = QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing")));
    auto caseOf = [](auto task) {
        try {
            blockingWait(std::move(task));
        } catch (const UploadError &error) {
            return error.errorCase();
        }
        return UploadError::Case::networkError;
    };
    QCOMPARE(caseOf(service.upload(missing, serverUrl, QStringLiteral("k"), {})),
             UploadError::Case::invalidURL);
    QCOMPARE(logLines(), QStringList());
    QCOMPARE(caseOf(service.checkDuplicate(serverUrl, QStringLiteral("k"), sampleHash)),
             UploadError::Case::invalidURL);
    QCOMPARE(logLines(), QStringList{QStringLiteral(
                             "DEBUG   [API] Checking duplicate for hash prefix: sha256:0123456789abc...")});
}

void UploadServiceTest::unreadableFileFailsBeforeAnyRequest()
{
    QTemporaryDir dir;
    LoopbackHttpServer server;
    UploadService service([](qint64, qint64) {});
    QString failedPath;
    try {
        blockingWait(service.upload(QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone.txt"))),
                                    server.baseUrl(), QStringLiteral("k"), {}));
    } catch (const FileError &error) {
        failedPath = error.path();
    }
    QCOMPARE(failedPath, dir.filePath(QStringLiteral("gone.txt")));
    QCOMPARE(server.connectionsAccepted(), 0);
    QCOMPARE(logLines(), QStringList());
}

void UploadServiceTest::nonHttpReplyIsInvalidResponse()
{
    QTemporaryDir dir;
    LoopbackHttpServer server;
    ScriptedReply garbage;
    garbage.raw = QByteArray("220 smtp.example ESMTP ready\r\n\r\n");
    server.enqueue(garbage);
    UploadService service([](qint64, qint64) {});
    std::optional<UploadError::Case> failure;
    try {
        blockingWait(service.upload(writeFile(dir, QStringLiteral("n.txt"), "n"), server.baseUrl(),
                                    QStringLiteral("k"), {}));
    } catch (const UploadError &error) {
        failure = error.errorCase();
    }
    QCOMPARE(failure, std::optional(UploadError::Case::invalidResponse));
    QCOMPARE(logLines().value(1), QStringLiteral("ERROR   [HTTP] Invalid response (not HTTPURLResponse)"));
    QCOMPARE(logLines().size(), 2);
}

void UploadServiceTest::progressRisesToTheWholeBody()
{
    QTemporaryDir dir;
    const QByteArray contents(3 * 1024 * 1024 + 11, 'p');
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, successReply);
    reply.reading = ScriptedReply::Reading::slowly;
    reply.slowChunkBytes = 256 * 1024;
    reply.slowInterval = 2ms;
    server.enqueue(reply);
    std::mutex lock;
    QList<QPair<qint64, qint64>> reports;
    UploadService service([&](qint64 sent, qint64 expected) {
        std::lock_guard guard(lock);
        reports.append({sent, expected});
    });
    blockingWait(service.upload(writeFile(dir, QStringLiteral("p.bin"), contents), server.baseUrl(),
                                QStringLiteral("k"), {}));

    const qint64 wholeBody = server.requests().value(0).contentLength;
    QVERIFY(wholeBody > contents.size());
    QVERIFY(reports.size() > 1);
    for (qsizetype i = 0; i < reports.size(); ++i) {
        QCOMPARE(reports[i].second, wholeBody);
        if (i > 0)
            QVERIFY(reports[i].first > reports[i - 1].first);
    }
    QCOMPARE(reports.last().first, wholeBody);
}

void UploadServiceTest::cancelStopsAnUploadInFlight()
{
    QTemporaryDir dir;
    const QByteArray contents(8 * 1024 * 1024, 'c');
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, successReply);
    reply.reading = ScriptedReply::Reading::slowly;
    reply.slowChunkBytes = 4096;
    reply.slowInterval = 20ms;
    server.enqueue(reply);

    UploadService *servicePointer = nullptr;
    std::atomic<bool> cancelled{false};
    UploadService service([&](qint64 sent, qint64) {
        if (sent > 0 && !cancelled.exchange(true))
            servicePointer->cancel();
    });
    servicePointer = &service;
    bool wasCancellation = false;
    try {
        blockingWait(service.upload(writeFile(dir, QStringLiteral("c.bin"), contents), server.baseUrl(),
                                    QStringLiteral("k"), {}));
    } catch (const TransportError &error) {
        wasCancellation = error.isCancellation();
    }
    QVERIFY(wasCancellation);
    QVERIFY(server.waitForClientClose(1));
    QVERIFY(!server.requests().value(0).complete);
    // Only the request line: a transport failure is the caller's to report.
    QCOMPARE(logLines().size(), 1);
}

void UploadServiceTest::stalledServerFailsAfterTheRequestTimeout()
{
    QTemporaryDir dir;
    const QByteArray contents(32 * 1024 * 1024, 's');
    LoopbackHttpServer server;
    ScriptedReply reply;
    reply.reading = ScriptedReply::Reading::stall;
    server.enqueue(reply);
    UploadService service([](qint64, qint64) {}, UploadSessionLimits{1s, 3600s});
    std::optional<TransportError::Kind> kind;
    try {
        blockingWait(service.upload(writeFile(dir, QStringLiteral("s.bin"), contents), server.baseUrl(),
                                    QStringLiteral("k"), {}));
    } catch (const TransportError &error) {
        kind = error.kind();
    }
    QCOMPARE(kind, std::optional(TransportError::Kind::timeout));
    QCOMPARE(logLines().size(), 1);
}

void UploadServiceTest::refusedConnectionPassesTheTransportFailure()
{
    QTemporaryDir dir;
    UploadService service([](qint64, qint64) {});
    std::optional<TransportError::Kind> kind;
    try {
        blockingWait(
            service.upload(writeFile(dir, QStringLiteral("f.txt"), "f"),
                           QStringLiteral("http://127.0.0.1:%1").arg(LoopbackHttpServer::unusedPort()),
                           QStringLiteral("k"), {}));
    } catch (const TransportError &error) {
        kind = error.kind();
    }
    QCOMPARE(kind, std::optional(TransportError::Kind::connection));
    QCOMPARE(logLines().size(), 1);
}

void UploadServiceTest::duplicateCheckRequest()
{
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, existsReply));
    UploadService service([](qint64, qint64) {});
    const CheckResult result =
        blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("key-1"), sampleHash));
    QVERIFY(result.success && result.data && result.data->exists);
    QCOMPARE(result.data->url, std::optional<QString>(QStringLiteral("https://s.example/f/x")));

    const RecordedRequest seen = server.requests().value(0);
    QCOMPARE(seen.method, QByteArray("GET"));
    QCOMPARE(seen.target, "/api/check/" + sampleHash.toUtf8());
    QVERIFY(seen.target.endsWith(sampleHash.toUtf8()));
    QCOMPARE(sampleHash.size(), 71);
    QList<QByteArray> custom;
    for (const QByteArray &name : headerNames(seen)) {
        if (name.startsWith("X-") || name == "Content-Type" || name == "Content-Length")
            custom << name;
    }
    QCOMPARE(custom, QList<QByteArray>{"X-API-Key"});
    QCOMPARE(seen.header("X-API-Key"), std::optional<QByteArray>("key-1"));
    QCOMPARE(seen.body, QByteArray());

    const QString url = server.baseUrl() + QStringLiteral("/api/check/") + sampleHash;
    const QStringList expected{
        QStringLiteral("DEBUG   [API] Checking duplicate for hash prefix: sha256:0123456789abc..."),
        QStringLiteral("INFO    [HTTP] GET ") + url, QStringLiteral("INFO    [HTTP] Response: 200"),
        QStringLiteral("DEBUG   [HTTP] Body: ") + QString::fromUtf8(existsReply)};
    QCOMPARE(logLines(), expected);
}

void UploadServiceTest::duplicateCheckReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("exists without url decodes")
        << 200 << QByteArray(R"({"Success":true,"Data":{"Exists":true}})") << QStringLiteral("result");
    QTest::newRow("success false decodes")
        << 200 << QByteArray(R"({"Success":false})") << QStringLiteral("result");
    QTest::newRow("404 is a server error, not an absent copy")
        << 404 << QByteArray(R"({"Success":true,"Data":{"Exists":false}})") << QStringLiteral("serverError");
    QTest::newRow("500") << 500 << QByteArray("boom") << QStringLiteral("serverError");
    QTest::newRow("lower-case members fail")
        << 200 << QByteArray(R"({"success":true})") << QStringLiteral("decodingError");
}

void UploadServiceTest::duplicateCheckReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(status, body));
    UploadService service([](qint64, qint64) {});
    QString seen;
    try {
        const CheckResult result =
            blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("k"), sampleHash));
        QCOMPARE(result, CheckResult::decode(body));
        seen = QStringLiteral("result");
    } catch (const UploadError &error) {
        QCOMPARE(error.statusCode(), status);
        seen = QStringLiteral("serverError");
    } catch (const DecodingError &) {
        seen = QStringLiteral("decodingError");
    }
    QCOMPARE(seen, outcome);
}

void UploadServiceTest::errorDescriptionsFollowTheLanguage()
{
    const TransportError refused(TransportError::Kind::connection, 7,
                                 QStringLiteral("Couldn't connect to server"));
    const UploadError serverError = UploadError::serverError(413);
    const UploadError networkError = UploadError::networkError(refused);
    const UploadError invalidUrl = UploadError::invalidURL();
    const UploadError invalidResponse = UploadError::invalidResponse();

    QCOMPARE(serverError.description(), QStringLiteral("Server error (413)"));
    QCOMPARE(networkError.description(), QStringLiteral("Network error: Couldn't connect to server"));
    QCOMPARE(invalidUrl.description(), QStringLiteral("The server address is not valid"));
    QCOMPARE(invalidResponse.description(), QStringLiteral("The server sent an invalid response"));
    QCOMPARE(networkError.underlying()->technicalText(), refused.technicalText());

    // Built before the switch, described after it.
    LocalizationService::shared().setLanguage(Language::spanish);
    QCOMPARE(serverError.description(), QStringLiteral("Error del servidor (413)"));
    QVERIFY(invalidUrl.description() != QStringLiteral("The server address is not valid"));
}

QTEST_GUILESS_MAIN(UploadServiceTest)
#include "UploadServiceTest.moc"
