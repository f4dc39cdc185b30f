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

} // namespace

class UploadServiceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { LogService::shared().clear(); }
    void cleanup() { LocalizationService::shared().setLanguage(Language::english); }

    void multipartBodyOnTheWire_data();
    void multipartBodyOnTheWire();
    void duplicateCheckRequest();
    void replies_data();
    void replies();
    void refusalKeepsTheServersWords_data();
    void refusalKeepsTheServersWords();
    void failsBeforeAnyRequest_data();
    void failsBeforeAnyRequest();
    void transportFailurePassesThrough_data();
    void transportFailurePassesThrough();
    void nonHttpReplyIsInvalidResponse();
    void errorDescriptionsFollowTheLanguage();
};

void UploadServiceTest::multipartBodyOnTheWire_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("sentName");
    QTest::addColumn<std::optional<QString>>("hash");

    QTest::newRow("plain, with hash") << QStringLiteral("a.txt") << QByteArray("abc") << QByteArray("a.txt")
                                      << std::optional<QString>(sampleHash);
    QTest::newRow("accents, no hash") << QStringLiteral("São ñ.jpg") << QByteArray("\x00\x01\xff", 3)
                                      << QStringLiteral("São ñ.jpg").toUtf8() << std::optional<QString>();
    QTest::newRow("quotes cannot add a parameter")
        << QStringLiteral("a\";x=\".txt") << QByteArray("q") << QByteArray("a%22;x=%22.txt")
        << std::optional<QString>();
    QTest::newRow("line breaks cannot add a header")
        << QStringLiteral("a\r\nX-Evil: 1.txt") << QByteArray("\r\n--x--\r\n")
        << QByteArray("a%0D%0AX-Evil: 1.txt") << std::optional<QString>();
}

void UploadServiceTest::multipartBodyOnTheWire()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, sentName);
    QFETCH(std::optional<QString>, hash);

    QTemporaryDir dir;
    const QUrl file = writeFile(dir, fileName, contents);
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, successReply));
    std::mutex lock;
    QPair<qint64, qint64> lastReport;
    UploadService service([&](qint64 sent, qint64 expected) {
        std::lock_guard guard(lock);
        lastReport = {sent, expected};
    });
    blockingWait(service.upload(file, server.baseUrl(), QStringLiteral("k-123"), hash));

    const RecordedRequest seen = server.requests().value(0);
    QCOMPARE(seen.method, QByteArray("POST"));
    QCOMPARE(seen.target, QByteArray("/api/upload"));
    QList<QByteArray> custom;
    for (const auto &h : seen.headers) {
        if (h.first.startsWith("X-") || h.first == "Content-Type" || h.first == "Expect")
            custom << h.first;
    }
    const QList<QByteArray> expectedHeaders =
        hash ? QList<QByteArray>{"X-API-Key", "X-File-Hash", "X-Source-Machine", "Content-Type"}
             : QList<QByteArray>{"X-API-Key", "X-Source-Machine", "Content-Type"};
    QCOMPARE(custom, expectedHeaders);
    QCOMPARE(seen.header("X-API-Key"), std::optional<QByteArray>("k-123"));
    QCOMPARE(seen.header("X-File-Hash"), hash ? std::optional<QByteArray>(hash->toUtf8()) : std::nullopt);
    QCOMPARE(seen.header("X-Source-Machine"), std::optional<QByteArray>(machineName().toUtf8()));

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
    // Progress counts the whole body, framing included.
    QCOMPARE(lastReport, (QPair<qint64, qint64>(expected.size(), expected.size())));
}

void UploadServiceTest::duplicateCheckRequest()
{
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, existsReply));
    UploadService service([](qint64, qint64) {});
    const CheckResult result =
        blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("key-1"), sampleHash));
    QCOMPARE(result.data->url, std::optional<QString>(QStringLiteral("https://s.example/f/x")));

    const RecordedRequest seen = server.requests().value(0);
    QCOMPARE(seen.method, QByteArray("GET"));
    QCOMPARE(seen.target, "/api/check/" + sampleHash.toUtf8());
    QCOMPARE(seen.header("X-API-Key"), std::optional<QByteArray>("key-1"));
    QCOMPARE(seen.header("X-Source-Machine"), std::nullopt);
    QCOMPARE(logLines().value(0),
             QStringLiteral("DEBUG   [API] Checking duplicate for hash prefix: sha256:0123456789abc..."));
}

void UploadServiceTest::replies_data()
{
    QTest::addColumn<bool>("check");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    // "result", "serverError" or "decodingError"
    QTest::addColumn<QString>("outcome");
    // After the request line; %1 stands for the decoder's description.
    QTest::addColumn<QStringList>("lines");

    const QString body = QString::fromUtf8(successReply);
    QTest::newRow("upload 201 decodes") << false << 201 << successReply << QStringLiteral("result")
                                        << QStringList{QStringLiteral("INFO    [HTTP] Response: 201"),
                                                       QStringLiteral("DEBUG   [HTTP] Body: ") + body};
    QTest::newRow("upload 400 with JSON is a server error")
        << false << 400 << successReply << QStringLiteral("serverError")
        << QStringList{QStringLiteral("INFO    [HTTP] Response: 400"),
                       QStringLiteral("DEBUG   [HTTP] Body: ") + body,
                       QStringLiteral("ERROR   [HTTP] Server error 400: ") + body};
    QTest::newRow("upload 500 non-UTF-8")
        << false << 500 << QByteArray("\xff\xfe\xfd") << QStringLiteral("serverError")
        << QStringList{QStringLiteral("INFO    [HTTP] Response: 500"),
                       QStringLiteral("DEBUG   [HTTP] Body: <non-utf8>"),
                       QStringLiteral("ERROR   [HTTP] Server error 500: <non-utf8>")};
    QTest::newRow("upload 200 not JSON")
        << false << 200 << QByteArray("<html>oops</html>") << QStringLiteral("decodingError")
        << QStringList{QStringLiteral("INFO    [HTTP] Response: 200"),
                       QStringLiteral("DEBUG   [HTTP] Body: <html>oops</html>"),
                       QStringLiteral("ERROR   [JSON] Decode error: %1"),
                       QStringLiteral("ERROR   [JSON] Raw response: <html>oops</html>")};
    QTest::newRow("check 200 success false decodes")
        << true << 200 << QByteArray(R"({"Success":false})") << QStringLiteral("result") << QStringList();
    QTest::newRow("check 404 is a server error, not an absent copy")
        << true << 404 << QByteArray(R"({"Success":true,"Data":{"Exists":false}})")
        << QStringLiteral("serverError") << QStringList();
    QTest::newRow("check lower-case members fail") << true << 200 << QByteArray(R"({"success":true})")
                                                   << QStringLiteral("decodingError") << QStringList();
}

void UploadServiceTest::replies()
{
    QFETCH(bool, check);
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
        if (check) {
            const CheckResult result =
                blockingWait(service.checkDuplicate(server.baseUrl(), QStringLiteral("k"), sampleHash));
            QCOMPARE(result, CheckResult::decode(body));
        } else {
            const UploadResult result = blockingWait(service.upload(
                writeFile(dir, QStringLiteral("r.txt"), "r"), server.baseUrl(), QStringLiteral("k"), {}));
            QCOMPARE(result, UploadResult::decode(body));
        }
        seenOutcome = QStringLiteral("result");
    } catch (const UploadError &error) {
        seenOutcome = QStringLiteral("serverError");
        QCOMPARE(error.errorCase(), UploadError::Case::serverError);
        QCOMPARE(error.statusCode(), status);
    } catch (const DecodingError &error) {
        seenOutcome = QStringLiteral("decodingError");
        decodeDescription = error.description();
    }
    QCOMPARE(seenOutcome, outcome);
    if (check)
        return;
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
    }
}

void UploadServiceTest::failsBeforeAnyRequest_data()
{
    QTest::addColumn<QString>("serverUrl");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("failure");

    // A missing file too: the address is judged first.
    QTest::newRow("empty address") << QString() << false << QStringLiteral("invalidURL");
    QTest::newRow("not http") << QStringLiteral("ftp://sendova.example") << false
                              << QStringLiteral("invalidURL");
    QTest::newRow("bad port") << QStringLiteral("http://sendova.example:99999") << true
                              << QStringLiteral("invalidURL");
    QTest::newRow("unreadable file") << QStringLiteral("http://127.0.0.1:1") << false
                                     << QStringLiteral("file");
}

void UploadServiceTest::failsBeforeAnyRequest()
{
    QFETCH(QString, serverUrl);
    QFETCH(bool, fileExists);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    const QUrl file = fileExists ? writeFile(dir, QStringLiteral("f.txt"), "f")
                                 : QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone.txt")));
    UploadService service([](qint64, qint64) {});
    QString seen;
    try {
        blockingWait(service.upload(file, serverUrl, QStringLiteral("k"), {}));
    } catch (const UploadError &error) {
        if (error.errorCase() == UploadError::Case::invalidURL)
            seen = QStringLiteral("invalidURL");
    } catch (const FileError &error) {
        QCOMPARE(error.path(), file.toLocalFile());
        seen = QStringLiteral("file");
    }
    QCOMPARE(seen, failure);
    QCOMPARE(logLines(), QStringList());
    if (failure == QLatin1String("invalidURL")) {
        try {
            blockingWait(service.checkDuplicate(serverUrl, QStringLiteral("k"), sampleHash));
            QFAIL("an invalid address was asked");
        } catch (const UploadError &error) {
            QCOMPARE(error.errorCase(), UploadError::Case::invalidURL);
        }
    }
}

// The HTTP session's failures reach the caller as they are, and the log
// holds only the request line: reporting them is the caller's part.
void UploadServiceTest::transportFailurePassesThrough_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<TransportError::Kind>("kind");
    QTest::newRow("refused") << QStringLiteral("refused") << TransportError::Kind::connection;
    QTest::newRow("stalled") << QStringLiteral("stalled") << TransportError::Kind::timeout;
    QTest::newRow("cancelled") << QStringLiteral("cancelled") << TransportError::Kind::cancelled;
}

void UploadServiceTest::transportFailurePassesThrough()
{
    QFETCH(QString, failure);
    QFETCH(TransportError::Kind, kind);
    QTemporaryDir dir;
    const QUrl file = writeFile(dir, QStringLiteral("t.bin"), QByteArray(8 * 1024 * 1024, 't'));
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, successReply);
    reply.reading =
        failure == QLatin1String("stalled") ? ScriptedReply::Reading::stall : ScriptedReply::Reading::slowly;
    reply.slowChunkBytes = 4096;
    reply.slowInterval = 20ms;
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
    QCOMPARE(logLines(),
             QStringList{QStringLiteral("INFO    [HTTP] POST ") + serverUrl + QStringLiteral("/api/upload")});
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
}

void UploadServiceTest::errorDescriptionsFollowTheLanguage()
{
    const TransportError refused(TransportError::Kind::connection, 7,
                                 QStringLiteral("Couldn't connect to server"));
    const UploadError serverError = UploadError::serverError(413);
    QCOMPARE(serverError.description(), QStringLiteral("Server error (413)"));
    QCOMPARE(UploadError::networkError(refused).description(),
             QStringLiteral("Network error: Couldn't connect to server"));
    // Built before the switch, described after it.
    LocalizationService::shared().setLanguage(Language::spanish);
    QCOMPARE(serverError.description(), QStringLiteral("Error del servidor (413)"));
}

QTEST_GUILESS_MAIN(UploadServiceTest)
#include "UploadServiceTest.moc"
