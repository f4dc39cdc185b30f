#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>

namespace sendova::server {

struct ConnectionLimits
{
    std::size_t workerThreads = 64;
    // From its first byte, a request's head and whatever body its route does
    // not grant more time must have arrived within this.
    std::chrono::milliseconds requestTimeout{10000};
    // The longest silence while a request arrives or a reply is written.
    std::chrono::milliseconds inactivityTimeout{30000};
    // How long an idle kept-alive connection waits for its next request
    // while other connections are not waiting for a worker.
    std::chrono::milliseconds keepAliveTimeout{5000};
    std::size_t requestsPerConnection = 1000;
    std::size_t maxHeadBytes = 64 * 1024;
    std::size_t maxHeaderLines = 100;
};

// httplib's server with its connection handling replaced. The library in
// Debian 12 waits on each read separately, so a client dripping one header
// line at a time holds a worker for ever; it keeps any number of headers;
// and a body a handler left unread is parsed as the next request. Here each
// connection is served by a loop of our own over a stream of our own, which
// bounds the whole request in time and size, closes connections whose body
// was not read to the end, and ends everything at once on stop.
class HttpServer : public httplib::Server
{
public:
    explicit HttpServer(ConnectionLimits limits);
    ~HttpServer() override;

    // Handlers installed through these see the connection they serve.
    void setPreRoutingHandler(HandlerWithResponse handler);
    void setErrorHandler(HandlerWithResponse handler);

    // Ends every connection at its next wait, so that stop() returns
    // promptly; called before stop().
    void closeConnections();

    // For the handler on the calling thread: the body it is about to read
    // may take longer than the request timeout (silence is still bounded).
    static void allowSlowBody();
    // For the handler on the calling thread: close once this reply is sent.
    static void closeAfterReply();

    // Serves one accepted connection on the calling thread until it ends,
    // then closes it. The accept loop calls it; so do the fuzz targets, on
    // one end of a socket pair.
    bool process_and_close_socket(socket_t sock) override;

private:
    class Connection;

    // The connection the calling worker thread serves, if any.
    static thread_local Connection *s_current;

    ConnectionLimits m_limits;
    int m_stopFd = -1;
    std::atomic<bool> m_stopping{false};
    // Accepted connections that wait for a free worker.
    std::atomic<std::size_t> m_waiting{0};
};

} // namespace sendova::server
