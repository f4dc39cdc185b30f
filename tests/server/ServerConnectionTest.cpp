#include "ServerFixture.h"

#include <netinet/tcp.h>
#include <thread>

using namespace sendova::server;
using namespace sendova::server::test;

class ServerConnectionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void busyWorkersStillAnswer_data()
    {
        QTest::addColumn<bool>("idle");
        // Each sends a request head one line at a time, for ever.
        QTest::newRow("slow clients") << false;
        QTest::newRow("idle kept-alive connections") << true;
    }

    // Both workers are taken by connections that send nothing useful; a third
    // client must still be answered, well within its time-out.
    void busyWorkersStillAnswer()
    {
        QFETCH(bool, idle);
        ServerOptions options = testOptions();
        options.connections.workerThreads = 2;
        options.connections.requestTimeout = std::chrono::seconds(1);
        options.connections.keepAliveTimeout = std::chrono::seconds(60);
        RunningServer server(options);
        std::vector<std::jthread> occupants;
        for (int i = 0; i < 2 * (idle ? 1 : 2); ++i) {
            occupants.emplace_back([port = server.port(), idle](std::stop_token stop) {
                RawConnection connection(port);
                bool open =
                    connection.send(idle ? "GET / HTTP/1.1\r\nHost: x\r\n\r\n" : "GET / HTTP/1.1\r\n");
                while (open && !stop.stop_requested()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    open = idle || connection.send("X-Drip: y\r\n");
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QCOMPARE(statusOf(server.client(10).Get("/")), 200);
    }

    void headIsBounded_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("lineLength");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("ordinary") << 20 << 40 << QByteArray("404");
        QTest::newRow("too many lines") << 200 << 10 << QByteArray("431");
    }

    // httplib keeps any number of headers; without a bound, one request's head
    // could fill the server's memory.
    void headIsBounded()
    {
        QFETCH(int, lines);
        QFETCH(int, lineLength);
        QFETCH(QByteArray, status);
        RunningServer server;
        const std::string reply = server.exchange(
            "GET /f/nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
            ("X-Pad: " + QByteArray(lineLength, 'p') + "\r\n").repeated(lines).toStdString() + "\r\n");
        QVERIFY(reply.starts_with("HTTP/1.1 " + status.toStdString()));
    }

    // The request is refused after part of its body; what follows must not be
    // answered as the next request, or behind a proxy that reuses connections
    // the next user could get its reply.
    void unreadBodyIsNeverTakenForARequest()
    {
        RunningServer server;
        const QByteArray body =
            "{\"userName\":\"" + QByteArray("GET /forged HTTP/1.1\r\nHost: x\r\n\r\n").repeated(6000);
        const QByteArray received = QByteArray::fromStdString(
            server.exchange("POST /api/auth/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                            "Content-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body.toStdString()));
        QVERIFY2(received.startsWith("HTTP/1.1 413 "), received.constData());
        QCOMPARE(received.count("HTTP/1.1 "), 1);
    }

    // Replies are written as a head and a body; on a reused connection the body
    // would otherwise wait for the client's delayed acknowledgement.
    void repliesAreNotDelayed()
    {
        RunningServer server;
        RawConnection connection(server.port());
        QVERIFY(connection.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        QVERIFY(connection.read(false).starts_with("HTTP/1.1 200 "));
        std::vector<int> noDelay; // of the server's end of each connection
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            const int fd = std::stoi(entry.path().filename().string());
            sockaddr_in local{};
            socklen_t length = sizeof local;
            int on = 0;
            socklen_t size = sizeof on;
            if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 &&
                local.sin_family == AF_INET && ntohs(local.sin_port) == server.port() &&
                ::getpeername(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 &&
                ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size) == 0) {
                noDelay.push_back(on);
            }
        }
        QCOMPARE(noDelay, std::vector<int>{1});
    }

    void logLinesCannotBeForged()
    {
        ServerOptions options = testOptions();
        options.logRequests = true;
        RunningServer server(options);
        ErrorCapture log;
        QVERIFY(
            server
                .exchange("GET /f/x%0a2026-01-01T00:00:00.000Z%20198.51.100.7%20GET%20/f/y%20200 HTTP/1.1\r\n"
                          "Host: x\r\nConnection: close\r\n\r\n")
                .starts_with("HTTP/1.1 404 "));
        const std::string text = log.text();
        QVERIFY2(
            text.ends_with(
                " 127.0.0.1 GET /f/x%0A2026-01-01T00:00:00.000Z%20198.51.100.7%20GET%20/f/y%20200 404\n"),
            text.c_str());
        QCOMPARE(std::count(text.begin(), text.end(), '\n'), 1);
    }
};

QTEST_GUILESS_MAIN(ServerConnectionTest)
#include "ServerConnectionTest.moc"
