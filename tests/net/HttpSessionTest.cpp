#include "net/HttpSession.h"
#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "net/FileError.h"

#include <QFile>
#include <QTemporaryFile>
#include <QTest>

#include <QCoroTask>

#include <atomic>
#include <mutex>

using namespace sendova;
using namespace sendova::test;
using namespace std::chrono_literals;

namespace {

QUrl urlOf(const LoopbackHttpServer &server, const char *path)
{
    return QUrl(server.baseUrl() + QString::fromUtf8(path), QUrl::StrictMode);
}

std::shared_ptr<QFile> openFileWith(QTemporaryFile &temporary, const QByteArray &contents)
{
    temporary.open();
    temporary.write(contents);
    temporary.flush();
    auto file = std::make_shared<QFile>(temporary.fileName());
    file->open(QIODevice::ReadOnly);
    return file;
}

// The transport failure send() ends with, or nothing when it returned a reply.
std::optional<TransportError> transportFailure(HttpSession &session, HttpRequest request)
{
    try {
        blockingWait(session.send(std::move(request)));
    } catch (const TransportError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class HttpSessionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getSendsHeadersInOrderAndReturnsTheReply();
    void anyStatusIsAReply_data();
    void anyStatusIsAReply();
    void redirectIsNotFollowed();
    void streamedBodyIsHeadFileTail_data();
    void streamedBodyIsHeadFileTail();
    void progressRisesToTheTotal();
    void cancelStopsASlowTransfer();
    void cancelBeforeSendingFailsAtOnce();
    void stalledServerTimesOut();
    void slowReplyAgainstTheInactivityLimit_data();
    void slowReplyAgainstTheInactivityLimit();
    void refusedConnectionIsAConnectionFailure();
    void serverClosingMidBodyFails();
    void nonHttpAnswerIsReportedAsSuch();
    void headerWithLineBreakIsNeverSent();
    void fileShorterThanAnnouncedFailsAsFileError();
    void connectionIsReusedAcrossRequests();
    void replyLargerThanTheLimitIsNotRead_data();
    void replyLargerThanTheLimitIsNotRead();
};

void HttpSessionTest::getSendsHeadersInOrderAndReturnsTheReply()
{
    LoopbackHttpServer server;
    ScriptedReply scripted = ScriptedReply::json(200, "{\"ok\":true}");
    scripted.headers.emplaceBack("X-Reply", "yes");
    server.enqueue(scripted);

    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/api/check/sha256:abc");
    request.headers = {{"X-B", "2"}, {"X-A", "1"}, {"X-Empty", ""}};
    const HttpReply reply = blockingWait(session.send(request));

    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("{\"ok\":true}"));
    QCOMPARE(reply.header("x-reply"), std::optional<QByteArray>("yes"));

    const QList<RecordedRequest> seen = server.requests();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].method, QByteArray("GET"));
    QCOMPARE(seen[0].target, QByteArray("/api/check/sha256:abc"));
    QStringList customOrder;
    for (const auto &h : seen[0].headers) {
        if (h.first.startsWith("X-"))
            customOrder << QString::fromLatin1(h.first + '=' + h.second);
    }
    QCOMPARE(customOrder,
             QStringList({QStringLiteral("X-B=2"), QStringLiteral("X-A=1"), QStringLiteral("X-Empty=")}));
    QCOMPARE(seen[0].headerCount("Expect"), 0);
    QCOMPARE(seen[0].headerCount("Content-Type"), 0);
}

void HttpSessionTest::anyStatusIsAReply_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
}

void HttpSessionTest::anyStatusIsAReply()
{
    QFETCH(int, status);
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(status, "\xff\xfe not utf-8"));
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/x");
    const HttpReply reply = blockingWait(session.send(request));
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.body, QByteArray("\xff\xfe not utf-8"));
}

void HttpSessionTest::redirectIsNotFollowed()
{
    LoopbackHttpServer server;
    ScriptedReply redirect;
    redirect.status = 302;
    redirect.headers = {{"Location", server.baseUrl().toUtf8() + "/elsewhere"}};
    server.enqueue(redirect);
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/here");
    const HttpReply reply = blockingWait(session.send(request));
    QCOMPARE(reply.status, 302);
    QCOMPARE(server.requests().size(), 1);
}

void HttpSessionTest::streamedBodyIsHeadFileTail_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("empty file") << QByteArray("head\r\n") << qint64(0) << QByteArray("\r\ntail");
    // Larger than one read callback, so the file is read in several pieces.
    QTest::newRow("3 MiB + 7") << QByteArray("--head--") << qint64(3 * 1024 * 1024 + 7)
                               << QByteArray("--tail--");
}

void HttpSessionTest::streamedBodyIsHeadFileTail()
{
    QFETCH(QByteArray, head);
    QFETCH(qint64, fileSize);
    QFETCH(QByteArray, tail);

    QByteArray contents(fileSize, Qt::Uninitialized);
    for (qint64 i = 0; i < fileSize; ++i)
        contents[i] = char((i * 7919) % 251);
    QTemporaryFile temporary;
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(201, "{}"));
    HttpSession session;
    HttpRequest request;
    request.method = "POST";
    request.url = urlOf(server, "/api/upload");
    request.body = HttpBody{head, openFileWith(temporary, contents), fileSize, tail};
    const HttpReply reply = blockingWait(session.send(request));
    QCOMPARE(reply.status, 201);

    const RecordedRequest seen = server.requests().value(0);
    QCOMPARE(seen.method, QByteArray("POST"));
    QCOMPARE(seen.contentLength, head.size() + fileSize + tail.size());
    QVERIFY(seen.body == head + contents + tail);
    // No body type is made up when the caller gave none.
    QCOMPARE(seen.headerCount("Content-Type"), 0);
    QCOMPARE(seen.headerCount("Expect"), 0);
}

void HttpSessionTest::progressRisesToTheTotal()
{
    const QByteArray contents(5 * 1024 * 1024, 'x');
    QTemporaryFile temporary;
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, "{}");
    reply.reading = ScriptedReply::Reading::slowly;
    reply.slowChunkBytes = 512 * 1024;
    reply.slowInterval = 5ms;
    server.enqueue(reply);

    std::mutex lock;
    QList<QPair<qint64, qint64>> reports;
    std::atomic<bool> onOtherThread{true};
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    HttpSession session([&](qint64 sent, qint64 expected) {
        if (QThread::currentThreadId() == mainThread)
            onOtherThread = false;
        std::lock_guard guard(lock);
        reports.append({sent, expected});
    });
    HttpRequest request;
    request.method = "POST";
    request.url = urlOf(server, "/up");
    request.body = HttpBody{"ab", openFileWith(temporary, contents), contents.size(), "cd"};
    blockingWait(session.send(request));

    const qint64 total = contents.size() + 4;
    QVERIFY(reports.size() > 1);
    QVERIFY(onOtherThread);
    for (qsizetype i = 0; i < reports.size(); ++i) {
        QCOMPARE(reports[i].second, total);
        if (i > 0)
            QVERIFY2(reports[i].first > reports[i - 1].first, "totals must rise");
    }
    QCOMPARE(reports.last().first, total);
}

void HttpSessionTest::cancelStopsASlowTransfer()
{
    const QByteArray contents(8 * 1024 * 1024, 'y');
    QTemporaryFile temporary;
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, "{}");
    reply.reading = ScriptedReply::Reading::slowly;
    reply.slowChunkBytes = 4096;
    reply.slowInterval = 20ms;
    server.enqueue(reply);

    HttpSession *sessionPointer = nullptr;
    std::atomic<bool> cancelled{false};
    HttpSession session([&](qint64 sent, qint64) {
        // Cancel from the progress thread once the body is under way, the way
        // a user's click lands in the middle of a transfer.
        if (sent > 0 && !cancelled.exchange(true))
            sessionPointer->cancel();
    });
    sessionPointer = &session;
    HttpRequest request;
    request.method = "POST";
    request.url = urlOf(server, "/up");
    request.body = HttpBody{{}, openFileWith(temporary, contents), contents.size(), {}};
    const std::optional<TransportError> failure = transportFailure(session, request);
    QVERIFY(failure);
    QVERIFY(failure->isCancellation());
    QVERIFY(server.waitForClientClose(1));
    const RecordedRequest seen = server.requests().value(0);
    QVERIFY(!seen.complete);
    QVERIFY(seen.bodyBytesReceived < contents.size());
}

void HttpSessionTest::cancelBeforeSendingFailsAtOnce()
{
    LoopbackHttpServer server;
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/x");
    QCoro::Task<HttpReply> task = session.send(request);
    session.cancel();
    // Requests sent after a cancel are not affected by it. (The cancelled
    // one may still reach the server, so every request gets the same reply.)
    server.setDefaultReply(ScriptedReply::json(200, "{}"));
    QCOMPARE(blockingWait(session.send(request)).status, 200);

    bool cancelled = false;
    try {
        blockingWait(std::move(task));
    } catch (const TransportError &error) {
        cancelled = error.isCancellation();
    }
    QVERIFY(cancelled);
    QCOMPARE(server.requests().size(), 1);
}

void HttpSessionTest::stalledServerTimesOut()
{
    const QByteArray contents(32 * 1024 * 1024, 'z');
    QTemporaryFile temporary;
    LoopbackHttpServer server;
    ScriptedReply reply;
    reply.reading = ScriptedReply::Reading::stall;
    server.enqueue(reply);

    HttpSession session;
    HttpRequest request;
    request.method = "POST";
    request.url = urlOf(server, "/up");
    request.inactivityTimeout = 1s;
    request.body = HttpBody{{}, openFileWith(temporary, contents), contents.size(), {}};
    const std::optional<TransportError> failure = transportFailure(session, request);
    QVERIFY(failure);
    QCOMPARE(failure->kind(), TransportError::Kind::timeout);
    QVERIFY(!failure->description().isEmpty());
}

void HttpSessionTest::slowReplyAgainstTheInactivityLimit_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<bool>("timesOut");
    // Waiting for the server's answer counts as inactivity too.
    QTest::newRow("answer within the limit") << 300 << 3000 << false;
    QTest::newRow("answer after the limit") << 4000 << 1000 << true;
}

void HttpSessionTest::slowReplyAgainstTheInactivityLimit()
{
    QFETCH(int, delayMs);
    QFETCH(int, limitMs);
    QFETCH(bool, timesOut);
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, "{}");
    reply.delay = std::chrono::milliseconds(delayMs);
    server.enqueue(reply);
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/slow");
    request.inactivityTimeout = std::chrono::milliseconds(limitMs);
    const std::optional<TransportError> failure = transportFailure(session, request);
    QCOMPARE(failure.has_value(), timesOut);
    if (failure)
        QCOMPARE(failure->kind(), TransportError::Kind::timeout);
}

void HttpSessionTest::refusedConnectionIsAConnectionFailure()
{
    HttpSession session;
    HttpRequest request;
    request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(LoopbackHttpServer::unusedPort()));
    const std::optional<TransportError> failure = transportFailure(session, request);
    QVERIFY(failure);
    QCOMPARE(failure->kind(), TransportError::Kind::connection);
    // libcurl's own wording, not a text of ours.
    QVERIFY2(failure->description().contains(QLatin1String("onnect")), qPrintable(failure->description()));
}

void HttpSessionTest::serverClosingMidBodyFails()
{
    const QByteArray contents(16 * 1024 * 1024, 'w');
    QTemporaryFile temporary;
    LoopbackHttpServer server;
    ScriptedReply reply;
    reply.reading = ScriptedReply::Reading::closeMidBody;
    reply.closeAfterBodyBytes = 100000;
    server.enqueue(reply);
    HttpSession session;
    HttpRequest request;
    request.method = "POST";
    request.url = urlOf(server, "/up");
    request.body = HttpBody{{}, openFileWith(temporary, contents), contents.size(), {}};
    const std::optional<TransportError> failure = transportFailure(session, request);
    QVERIFY(failure);
    QVERIFY(!failure->isCancellation());
}

void HttpSessionTest::nonHttpAnswerIsReportedAsSuch()
{
    LoopbackHttpServer server;
    ScriptedReply reply;
    reply.raw = QByteArray("SSH-2.0-OpenSSH_9.2\r\n\r\n");
    server.enqueue(reply);
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/x");
    const std::optional<TransportError> failure = transportFailure(session, request);
    QVERIFY(failure);
    QCOMPARE(failure->kind(), TransportError::Kind::notHttp);
}

void HttpSessionTest::headerWithLineBreakIsNeverSent()
{
    LoopbackHttpServer server;
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/x");
    request.headers = {{"X-API-Key", "key\r\nX-Injected: 1"}};
    QVERIFY(transportFailure(session, request));
    QCOMPARE(server.connectionsAccepted(), 0);
}

void HttpSessionTest::fileShorterThanAnnouncedFailsAsFileError()
{
    QTemporaryFile temporary;
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, "{}"));
    HttpSession session;
    HttpRequest request;
    request.method = "POST";
    request.url = urlOf(server, "/up");
    request.body = HttpBody{"h", openFileWith(temporary, "12345"), 10, "t"};
    bool fileError = false;
    try {
        blockingWait(session.send(request));
    } catch (const FileError &) {
        fileError = true;
    }
    QVERIFY(fileError);
}

void HttpSessionTest::connectionIsReusedAcrossRequests()
{
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::json(200, "1"));
    server.enqueue(ScriptedReply::json(200, "2"));
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/x");
    QCOMPARE(blockingWait(session.send(request)).body, QByteArray("1"));
    QCOMPARE(blockingWait(session.send(request)).body, QByteArray("2"));
    QCOMPARE(server.connectionsAccepted(), 1);
}

void HttpSessionTest::replyLargerThanTheLimitIsNotRead_data()
{
    QTest::addColumn<qint64>("limit"); // 0: the default
    QTest::addColumn<int>("bodyBytes");
    QTest::addColumn<int>("headerCount");
    QTest::addColumn<bool>("refused");
    QTest::newRow("within the limit") << qint64(4096) << 2000 << 0 << false;
    QTest::newRow("body over the limit") << qint64(4096) << 5000 << 0 << true;
    QTest::newRow("headers over the limit") << qint64(4096) << 10 << 100 << true;
    QTest::newRow("default limit, 2 MiB") << qint64(0) << 2 * 1024 * 1024 << 0 << true;
}

void HttpSessionTest::replyLargerThanTheLimitIsNotRead()
{
    QFETCH(qint64, limit);
    QFETCH(int, bodyBytes);
    QFETCH(int, headerCount);
    QFETCH(bool, refused);
    LoopbackHttpServer server;
    ScriptedReply reply = ScriptedReply::json(200, QByteArray(bodyBytes, 'x'));
    for (int i = 0; i < headerCount; ++i)
        reply.headers.append({"X-Filler-" + QByteArray::number(i), QByteArray(60, 'f')});
    server.enqueue(reply);
    HttpSession session;
    HttpRequest request;
    request.url = urlOf(server, "/x");
    if (limit > 0)
        request.replyLimit = limit;
    if (!refused) {
        QCOMPARE(blockingWait(session.send(request)).body.size(), bodyBytes);
        return;
    }
    const std::optional<TransportError> failure = transportFailure(session, request);
    QVERIFY(failure);
    QCOMPARE(failure->kind(), TransportError::Kind::tooLarge);
    const QString size = limit > 0 ? QStringLiteral("4 KiB") : QStringLiteral("1 MiB");
    QCOMPARE(failure->description(),
             QStringLiteral("The server's reply is larger than %1; it was not read").arg(size));
}

QTEST_GUILESS_MAIN(HttpSessionTest)
#include "HttpSessionTest.moc"
