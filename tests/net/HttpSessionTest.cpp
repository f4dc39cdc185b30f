#include "net/HttpSession.h"
#include "BlockingWait.h"
#include "LoopbackHttpServer.h"
#include "net/FileError.h"
#include "support/LocalizationService.h"

#include <QFile>
#include <QTemporaryFile>
#include <QTest>

#include <QCoroTask>

#include <atomic>
#include <mutex>
#include <thread>

using namespace sendova;
using namespace sendova::test;

Q_DECLARE_METATYPE(sendova::test::ScriptedReply)
Q_DECLARE_METATYPE(std::optional<sendova::TransportError::Kind>)

namespace {

HttpRequest requestTo(const LoopbackHttpServer &server, QByteArray method = "GET")
{
    HttpRequest request;
    request.method = std::move(method);
    request.url = QUrl(server.baseUrl() + QStringLiteral("/api/x"));
    return request;
}

// A body of head, then the file's bytes, then tail.
HttpBody bodyWith(QTemporaryFile &temporary, const QByteArray &head, const QByteArray &contents,
                  const QByteArray &tail = {})
{
    temporary.open();
    temporary.write(contents);
    temporary.flush();
    auto file = std::make_shared<QFile>(temporary.fileName());
    file->open(QIODevice::ReadOnly);
    return HttpBody{head, file, contents.size(), tail};
}

ScriptedReply reading(ScriptedReply::Reading how)
{
    ScriptedReply reply = ScriptedReply::json(200, "{}");
    reply.reading = how;
    reply.closeAfterBodyBytes = 100000;
    reply.slowChunkBytes = 4096;
    return reply;
}

} // namespace

class HttpSessionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Any status is a reply, its body raw bytes; one connection serves a
    // session's requests. The request's body streams from its file, with
    // rising progress.
    void replyAsItCame_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("repeats"); // of the file's seven bytes
        QTest::newRow("200, empty file") << 200 << QByteArray("{\"ok\":true}") << 0;
        // Larger than one read callback, so the file is read in pieces.
        QTest::newRow("404, not UTF-8, 3 MiB") << 404 << QByteArray("\xff\xfe not utf-8") << 450000;
    }
    void replyAsItCame()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, repeats);
        const QByteArray contents = QByteArray("0123456").repeated(repeats);
        const qint64 total = contents.size() + 16;
        QTemporaryFile temporary;
        LoopbackHttpServer server;
        ScriptedReply scripted = ScriptedReply::json(status, body);
        scripted.headers = {{"X-Reply", "yes"}};
        server.setDefaultReply(scripted);
        std::mutex lock;
        QList<QPair<qint64, qint64>> reports;
        HttpSession session([&](qint64 sent, qint64 expected) {
            std::lock_guard guard(lock);
            reports.append({sent, expected});
        });
        HttpRequest request = requestTo(server, "POST");
        request.headers = {{"X-B", "2"}, {"X-A", "1"}, {"X-Empty", ""}};
        request.body = bodyWith(temporary, "--head--", contents, "--tail--");
        for (int i = 0; i < 2; ++i) {
            reports.clear();
            const HttpReply reply = blockingWait(session.send(request));
            QCOMPARE(reply.status, status);
            QCOMPARE(reply.body, body);
            QCOMPARE(reply.header("x-reply"), std::optional<QByteArray>("yes"));
        }
        QCOMPARE(server.connectionsAccepted(), 1);
        const QList<RecordedRequest> seen = server.requests();
        QCOMPARE(seen.size(), 2);
        HeaderList custom;
        std::ranges::copy_if(seen[1].headers, std::back_inserter(custom),
                             [](const auto &header) { return header.first.startsWith("X-"); });
        QCOMPARE(custom, (HeaderList{{"X-B", "2"}, {"X-A", "1"}, {"X-Empty", ""}}));
        QCOMPARE(seen[1].headerCount("Content-Type") + seen[1].headerCount("Expect"), 0);
        QVERIFY(seen[1].body == "--head--" + contents + "--tail--");
        QVERIFY(!reports.isEmpty());
        for (qsizetype i = 0; i < reports.size(); ++i) {
            QCOMPARE(reports[i].second, total);
            QVERIFY2(i == 0 || reports[i].first > reports[i - 1].first, "totals must rise");
        }
        QCOMPARE(reports.last().first, total);
    }

    // Cancel stops the running request and the queued one, not later ones.
    void cancelStopsWhatWasSent()
    {
        const QByteArray contents(8 * 1024 * 1024, 'y');
        QTemporaryFile temporary;
        LoopbackHttpServer server;
        server.enqueue(reading(ScriptedReply::Reading::slowly));
        server.setDefaultReply(ScriptedReply::json(200, "{}"));
        HttpSession *sessionPointer = nullptr;
        std::atomic<bool> bothSent{false};
        std::atomic<bool> cancelled{false};
        HttpSession session([&](qint64 sent, qint64) {
            // From the progress thread once the body is under way, the way a
            // user's click lands in the middle of a transfer. The transfer
            // holds still until the second request is queued: on a busy
            // machine this thread can get here first, and a later cancel
            // leaves megabytes for the slow server to read before it sees
            // the hang-up.
            if (sent > 0 && !cancelled.exchange(true)) {
                while (!bothSent)
                    std::this_thread::yield();
                sessionPointer->cancel();
            }
        });
        sessionPointer = &session;
        HttpRequest upload = requestTo(server, "POST");
        upload.body = bodyWith(temporary, {}, contents);
        QCoro::Task<HttpReply> running = session.send(upload);
        QCoro::Task<HttpReply> queued = session.send(requestTo(server));
        bothSent = true;
        for (QCoro::Task<HttpReply> *task : {&running, &queued}) {
            try {
                blockingWait(std::move(*task));
                QFAIL("a cancelled request returned");
            } catch (const TransportError &error) {
                QVERIFY(error.isCancellation());
            }
        }
        QVERIFY(server.waitForClientClose(1));
        QVERIFY(server.requests().value(0).bodyBytesReceived < contents.size());
        QCOMPARE(blockingWait(session.send(requestTo(server))).status, 200);
    }

    // A body goes with the replies that stop reading it or hang up in its middle.
    // The user reads each failure in their language, the host named and none
    // of libcurl's words (those are for the log).
    void failure_data()
    {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<int>("inactivityMs");
        QTest::addColumn<qint64>("replyLimit");                        // 0: the default
        QTest::addColumn<std::optional<TransportError::Kind>>("kind"); // nothing: a reply
        QTest::addColumn<QString>("spanish");
        using Kind = TransportError::Kind;
        using Reading = ScriptedReply::Reading;
        QTest::newRow("server stops reading")
            << reading(Reading::stall) << 1000 << qint64(0) << std::optional(Kind::timeout)
            << u"El servidor 127.0.0.1 tardó demasiado en responder."_qs;
        QTest::newRow("server hangs up mid-body")
            << reading(Reading::closeMidBody) << 60000 << qint64(0) << std::optional(Kind::connection)
            << u"Se cortó la conexión con 127.0.0.1."_qs;
        ScriptedReply ssh;
        ssh.raw = QByteArray("SSH-2.0-OpenSSH_9.2\r\n\r\n");
        QTest::newRow("not HTTP") << ssh << 60000 << qint64(0) << std::optional(Kind::notHttp)
                                  << u"127.0.0.1 no respondió como un servidor web."_qs;
        ScriptedReply headers = ScriptedReply::json(200, "{}");
        for (int i = 0; i < 100; ++i)
            headers.headers.append({"X-Filler-" + QByteArray::number(i), QByteArray(60, 'f')});
        QTest::newRow("headers over the limit")
            << headers << 60000 << qint64(4096) << std::optional(Kind::tooLarge)
            << u"La respuesta de 127.0.0.1 era demasiado grande para leerla."_qs;
        QTest::newRow("body a byte over the default")
            << ScriptedReply::json(200, QByteArray(1024 * 1024 + 1, 'x')) << 60000 << qint64(0)
            << std::optional(Kind::tooLarge)
            << u"La respuesta de 127.0.0.1 era demasiado grande para leerla."_qs;
        // Nobody listens: the port of a server that has just gone.
        QTest::newRow("connection refused")
            << ScriptedReply() << 60000 << qint64(0) << std::optional(Kind::connection)
            << u"El servidor 127.0.0.1 rechazó la conexión."_qs;
    }
    void failure()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(int, inactivityMs);
        QFETCH(qint64, replyLimit);
        QFETCH(std::optional<TransportError::Kind>, kind);
        QFETCH(QString, spanish);
        LocalizationService::shared().setLanguage(Language::spanish);
        auto server = std::make_unique<LoopbackHttpServer>();
        const bool refused = QByteArrayView(QTest::currentDataTag()) == "connection refused";
        server->enqueue(reply);
        HttpSession session;
        const bool withBody = reply.reading == ScriptedReply::Reading::stall ||
                              reply.reading == ScriptedReply::Reading::closeMidBody;
        HttpRequest request = requestTo(*server, withBody ? "POST" : "GET");
        if (refused)
            server.reset();
        QTemporaryFile temporary;
        if (withBody)
            request.body = bodyWith(temporary, {}, QByteArray(32 * 1024 * 1024, 'z'));
        request.inactivityTimeout = std::chrono::milliseconds(inactivityMs);
        if (replyLimit > 0)
            request.replyLimit = replyLimit;
        try {
            QCOMPARE(blockingWait(session.send(request)).body, reply.body);
            QVERIFY(!kind);
        } catch (const TransportError &error) {
            QCOMPARE(std::optional(error.kind()), kind);
            QCOMPARE(error.description(), spanish);
            QVERIFY(!error.technicalText().isEmpty() && !spanish.contains(error.technicalText()));
        }
    }

    // Neither gets a reply: a header with a line break never leaves, and a
    // file that shrank is not sent short.
    void failsWithoutAReply()
    {
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::json(200, "{}"));
        HttpSession session;
        HttpRequest request = requestTo(server, "POST");
        request.headers = {{"X-API-Key", "key\r\nX-Injected: 1"}};
        QVERIFY_THROWS_EXCEPTION(TransportError, blockingWait(session.send(request)));
        QCOMPARE(server.connectionsAccepted(), 0);
        request.headers.clear();
        QTemporaryFile temporary;
        request.body = bodyWith(temporary, "h", "12345", "t");
        request.body->fileLength = 10;
        QVERIFY_THROWS_EXCEPTION(FileError, blockingWait(session.send(request)));
    }
};

QTEST_GUILESS_MAIN(HttpSessionTest)
#include "HttpSessionTest.moc"
