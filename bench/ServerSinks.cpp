// The two yardsticks of bench/server-throughput.py: servers that take an
// upload and throw it away. "raw" reads the head and Content-Length bytes
// straight off the socket; "httplib" is the HTTP library the server uses,
// running its own multipart parser over the body. Prints the port.
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view Reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                                   "16\r\n\r\n{\"Success\":true}";

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

void serveRaw(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<char> buffer(1 << 20);
    std::string pending;
    for (;;) {
        std::size_t headEnd = 0;
        while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
            const auto got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                ::close(fd);
                return;
            }
            pending.append(buffer.data(), static_cast<std::size_t>(got));
        }
        const std::string head = lower(pending.substr(0, headEnd));
        pending.erase(0, headEnd + 4);
        std::uint64_t left = 0;
        if (const auto at = head.find("\r\ncontent-length:"); at != std::string::npos) {
            left = std::strtoull(head.c_str() + at + 17, nullptr, 10);
        }
        if (head.find("\r\nexpect: 100-continue") != std::string::npos &&
            !sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) {
            break;
        }
        const auto buffered = std::min<std::uint64_t>(left, pending.size());
        pending.erase(0, buffered);
        left -= buffered;
        while (left > 0) {
            const auto got = ::recv(fd, buffer.data(), std::min<std::uint64_t>(left, buffer.size()), 0);
            if (got <= 0) {
                ::close(fd);
                return;
            }
            left -= static_cast<std::uint64_t>(got);
        }
        if (!sendAll(fd, Reply)) {
            break;
        }
    }
    ::close(fd);
}

int runRaw()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("raw sink");
        return 1;
    }
    std::cout << ntohs(address.sin_port) << std::endl;
    for (int fd; (fd = ::accept(listener, nullptr, nullptr)) >= 0;) {
        std::thread(serveRaw, fd).detach();
    }
    return 0;
}

int runHttplib()
{
    httplib::Server server;
    // As the server does: without it each reply's body waits for the
    // client's delayed acknowledgement of its head.
    server.set_tcp_nodelay(true);
    server.Post("/api/upload",
                [](const httplib::Request &, httplib::Response &res, const httplib::ContentReader &reader) {
                    reader([](const httplib::MultipartFormData &) { return true; },
                           [](const char *, std::size_t) { return true; });
                    res.set_content("{\"Success\":true}", "application/json");
                });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::cout << port << std::endl;
    return server.listen_after_bind() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string_view kind = argc > 1 ? argv[1] : "";
    if (kind == "raw") {
        return runRaw();
    }
    if (kind == "httplib") {
        return runHttplib();
    }
    std::cerr << "usage: sendova_bench_server_sink raw|httplib\n";
    return 2;
}
