#include "FuzzSupport.h"

#include "api/SendovaServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

using namespace sendova::server;

namespace {

// One server for the whole run, in a throw-away folder in memory, with one
// user and an API key. Each input is one client connection, served on the
// fuzzer's own thread over a socket pair. Its clock moves an hour with each
// connection, so that links expire and login attempts are forgotten, and the
// sweep runs now and then: a long run keeps its folder and memory small.
class FuzzServer
{
public:
    FuzzServer()
    {
        char dir[] = "/dev/shm/sendova-fuzz.XXXXXX";
        m_dir = ::mkdtemp(dir);
        ServerOptions options;
        options.dataDir = m_dir / "data";
        options.passwordIterations = 1;
        options.logRequests = false;
        options.purgeInterval = std::chrono::seconds(0);
        options.linkLifetime = std::chrono::seconds(60);
        // Few requests per connection and a short wait: the replies must fit
        // the socket pair's buffer, since nobody reads them while it serves.
        options.connections.requestsPerConnection = 16;
        options.connections.inactivityTimeout = std::chrono::milliseconds(500);
        m_server = std::make_unique<SendovaServer>(options, [this] { return m_now; });
        apiKey =
            m_server->accounts().issueApiKey(m_server->accounts().addUser("alice", "password").id, "fuzz");
    }
    ~FuzzServer()
    {
        m_server.reset();
        std::filesystem::remove_all(m_dir);
    }

    // What the server answers a client that sends these bytes and then stops writing.
    std::string serve(const std::string &request)
    {
        int ends[2];
        FUZZ_EXPECT(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0 &&
                    ::send(ends[0], request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()));
        ::shutdown(ends[0], SHUT_WR);
        m_now += std::chrono::hours(1);
        m_server->serveConnection(ends[1]);
        if (++m_served % 1000 == 0) {
            m_server->content().purgeExpired();
        }
        std::string reply;
        char buffer[4096];
        for (ssize_t got; (got = ::recv(ends[0], buffer, sizeof buffer, 0)) > 0;) {
            reply.append(buffer, std::size_t(got));
        }
        ::close(ends[0]);
        return reply;
    }

    std::string apiKey;

private:
    std::filesystem::path m_dir;
    TimePoint m_now = std::chrono::system_clock::now();
    std::size_t m_served = 0;
    std::unique_ptr<SendovaServer> m_server;
};

} // namespace

// The first byte picks what the rest is: a whole request, or the body of an
// upload with a valid key, of a login or of a setup-token exchange. To a
// whole request the server answers with an HTTP status line or closes without
// a word; to a body, with the route's JSON reply.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    static FuzzServer server;
    const std::string rest = bytesOf<std::string>(data + 1, size - 1);
    const std::string heads[] = {
        "POST /api/upload HTTP/1.1\r\nX-API-Key: " + server.apiKey +
            "\r\nContent-Type: multipart/form-data; boundary=B0und4ry\r\n",
        "POST /api/auth/login HTTP/1.1\r\nContent-Type: application/json\r\n",
        "POST /api/exchange-setup-token HTTP/1.1\r\nContent-Type: application/json\r\n"};
    const int route = data[0] % 4;
    const std::string reply = server.serve(
        route == 0 ? rest
                   : heads[route - 1] + "Content-Length: " + std::to_string(rest.size()) + "\r\n\r\n" + rest);
    FUZZ_EXPECT(route == 0 ? reply.empty() || reply.starts_with("HTTP/1.1 ")
                           : reply.find(route == 1 ? "\r\n\r\n{\"Success\":" : "\r\n\r\n{\"success\":") !=
                                 std::string::npos);
    return 0;
}
