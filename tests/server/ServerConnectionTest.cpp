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
        QTest::addColumn<QByteArray>("occupant"); // what each of 16 connections does, for ever
        QTest::newRow("slow heads") << QByteArray("sends a header line every 200 ms");
        QTest::newRow("idle kept-alive connections") << QByteArray("sends one request, then nothing");
        QTest::newRow("slow readers of a download") << QByteArray("reads nothing of a long reply");
    }

    // Both workers could be taken by connections that send or read nothing
    // useful, well within every time limit; a newcomer must still be answered
    // at once.
    void busyWorkersStillAnswer()
    {
        QFETCH(QByteArray, occupant);
        ServerOptions options = testOptions();
        options.connections.workerThreads = 2;
        options.connections.downloadWorkers = 1;
        options.connections.keepAliveTimeout = std::chrono::seconds(60);
        RunningServer server(options);
        const std::string download =
            occupant.startsWith("reads")
                ? "GET " + server.pathOf(jsonOf(server.upload("long", std::string(12 << 20, 'l')))) +
                      " HTTP/1.1\r\n"
                : "GET / HTTP/1.1\r\n";
        std::vector<std::jthread> occupants;
        for (int i = 0; i < 16; ++i) {
            occupants.emplace_back([&, port = server.port()](std::stop_token stop) {
                RawConnection connection(port, 4096);
                const bool dripping = occupant.startsWith("sends a header");
                bool open = connection.send(dripping ? download : download + "Host: x\r\n\r\n");
                while (open && !stop.stop_requested()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    open = !dripping || connection.send("X-Drip: y\r\n");
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto asked = std::chrono::steady_clock::now();
        QCOMPARE(statusOf(server.client(10).Get("/")), 200);
        QCOMPARE_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
        // All at once: one by one, each would sleep out its turn before the next hears.
        for (std::jthread &occupant : occupants)
            occupant.request_stop();
    }

    void lingeringConnectionIsClosed_data()
    {
        QTest::addColumn<bool>("dripping");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("head dripping past the deadline") << true << QByteArray("HTTP/1.1 408 ");
        QTest::newRow("kept alive, then silent") << false << QByteArray("HTTP/1.1 200 ");
    }

    // Short deadlines, and a generous bound on when the server must have
    // closed: the read gives up only after 30 s.
    void lingeringConnectionIsClosed()
    {
        QFETCH(bool, dripping);
        QFETCH(QByteArray, reply);
        ServerOptions options = testOptions();
        options.connections.requestTimeout = std::chrono::seconds(1);
        options.connections.keepAliveTimeout = std::chrono::seconds(1);
        RunningServer server(options);
        RawConnection connection(server.port());
        QVERIFY(connection.send(dripping ? "GET / HTTP/1.1\r\n" : "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        std::jthread drip([&](std::stop_token stop) {
            while (dripping && !stop.stop_requested() && connection.send("X-Drip: y\r\n")) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
        const std::string received = connection.read();
        QVERIFY2(received.starts_with(reply.toStdString()), received.c_str());
        QVERIFY(connection.peerClosed());
    }

    // Connections cost memory and descriptors even without a worker: one
    // address may hold only so many.
    void connectionsPerAddressAreCapped()
    {
        ServerOptions options = testOptions();
        options.connections.connectionsPerAddress = 2;
        RunningServer server(options);
        RawConnection first(server.port());
        RawConnection second(server.port());
        for (RawConnection *open : {&first, &second}) {
            QVERIFY(open->send("GET / HTTP/1.1\r\nHost: x\r\n\r\n") &&
                    open->read(false).starts_with("HTTP/1.1 200 "));
        }
        QVERIFY(server.exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\n").starts_with("HTTP/1.1 503 "));
    }

    // An upload that keeps trickling in, below the minimum rate, is cut off
    // instead of holding its worker for as long as it likes.
    void slowUploadIsCut()
    {
        ServerOptions options = testOptions();
        options.connections.requestTimeout = std::chrono::seconds(1);
        options.connections.minimumBodyRate = 64 * 1024;
        RunningServer server(options);
        RawConnection connection(server.port());
        QVERIFY(connection.send(
            "POST /api/upload HTTP/1.1\r\nHost: x\r\nX-API-Key: " + server.apiKey +
            "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: 10000000\r\n\r\n"
            "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a\"\r\n\r\n"));
        const auto start = std::chrono::steady_clock::now();
        std::jthread trickle([&](std::stop_token stop) {
            // 20 KiB/s for at most 6 s
            for (int i = 0; i < 120 && !stop.stop_requested() && connection.send(std::string(1024, 't'));
                 ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        const std::string reply = connection.read(false);
        QVERIFY2(reply.starts_with("HTTP/1.1 408 "), reply.c_str());
        QCOMPARE_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
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

    void logLineNamesClientAndCannotBeForged_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("logged"); // the end of the only line
        QTest::newRow("line break in the path")
            << QByteArray(
                   "GET /f/x%0a2026-01-01T00:00:00.000Z%20198.51.100.7%20GET%20/f/y%20200 HTTP/1.1\r\n")
            << QByteArray(
                   " 127.0.0.1 GET /f/x%0A2026-01-01T00:00:00.000Z%20198.51.100.7%20GET%20/f/y%20200 404\n");
        // httplib keeps any number of headers: the server bounds them, and a
        // refusal of a head httplib cannot read is one fail2ban must attribute.
        QTest::newRow("head too large") << "GET /f/x HTTP/1.1\r\n" + QByteArray("X-Pad: p\r\n").repeated(200)
                                        << QByteArray(" 127.0.0.1 GET /f/x 431\n");
        QTest::newRow("ordinary head")
            << "GET /f/x HTTP/1.1\r\n" + ("X-Pad: " + QByteArray(40, 'p') + "\r\n").repeated(20)
            << QByteArray(" 127.0.0.1 GET /f/x 404\n");
    }

    void logLineNamesClientAndCannotBeForged()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, logged);
        ServerOptions options = testOptions();
        options.logRequests = true;
        RunningServer server(options);
        ErrorCapture log;
        QVERIFY(server.exchange((request + "Host: x\r\nConnection: close\r\n\r\n").toStdString())
                    .starts_with("HTTP/1.1 4"));
        const std::string text = log.text();
        QVERIFY2(text.ends_with(logged.toStdString()), text.c_str());
        QCOMPARE(std::count(text.begin(), text.end(), '\n'), 1);
    }
};

QTEST_GUILESS_MAIN(ServerConnectionTest)
#include "ServerConnectionTest.moc"
