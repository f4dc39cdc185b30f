#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace sendova::server {

struct ConnectionLimits
{
    std::size_t workerThreads = 64;
    // From its first byte, a request's head and whatever body its route does
    // not grant more time must have arrived within this.
    std::chrono::milliseconds requestTimeout{10000};
    // The longest silence while a request arrives or a reply is written.
    std::chrono::milliseconds inactivityTimeout{30000};
    // How long an idle connection waits for its next request (or a new one
    // for its first).
    std::chrono::milliseconds keepAliveTimeout{5000};
    // A body granted more than the request timeout must still arrive at this
    // average rate (bytes per second) after the first requestTimeout.
    std::uint64_t minimumBodyRate = 16 * 1024;
    // Open connections from one client address; 0 for no limit (behind a
    // proxy, every connection comes from the proxy).
    std::size_t connectionsPerAddress = 64;
    // Workers that may be sending a download at the same time. Links are
    // public, so anyone can start many slow downloads; the other workers
    // stay free for everything else.
    std::size_t downloadWorkers = 48;
    std::size_t requestsPerConnection = 1000;
    std::size_t maxHeadBytes = 64 * 1024;
    std::size_t maxHeaderLines = 100;
};

// httplib's server with its connection handling replaced. The library in
// Debian 12 waits on each read separately, so a client dripping one header
// line at a time holds a worker for ever; it keeps any number of headers;
// it percent-decodes header values; and a body a handler left unread is
// parsed as the next request. Here each connection is served by a loop of our
// own over a stream of our own, which bounds the whole request in time and
// size, gives the handlers the header values as sent, closes connections
// whose body was not read to the end, and ends everything at once on stop.
// A connection holds a worker only once a whole request head has arrived:
// until then it waits in one poll set with every other such connection, so
// that clients sending slowly, or nothing, cannot keep others waiting.
class HttpServer : public httplib::Server
{
public:
    explicit HttpServer(ConnectionLimits limits);
    ~HttpServer() override;

    // Handlers installed through these see the connection they serve.
    void setPreRoutingHandler(HandlerWithResponse handler);
    void setErrorHandler(HandlerWithResponse handler);

    // Ends every connection at its next wait, so that the accept loop's end
    // is prompt; called before stopListening().
    void closeConnections();
    // Ends the accept loop, or has it end at once if it has not begun yet.
    void stopListening();

    // For the handler on the calling thread: the body it is about to read
    // may take longer than the request timeout, as long as it keeps the
    // minimum body rate.
    static void allowSlowBody();
    // For the handler on the calling thread: whether its request ran out of time.
    static bool requestTimedOut();
    // For the handler on the calling thread: close once this reply is sent.
    static void closeAfterReply();

    // Serves one accepted connection on the calling thread until it ends,
    // then closes it. The accept loop calls it; so do the fuzz targets, on
    // one end of a socket pair.
    bool process_and_close_socket(socket_t sock) override;

private:
    class Connection;
    class Waiting;
    class WorkerPool;

    // Serves requests whose heads have arrived; hands the connection to the
    // waiting set when the next head has not, or closes it.
    void serve(std::shared_ptr<Connection> connection);
    // Queues a connection whose head has arrived (or whose time is up) for a worker.
    void dispatch(std::shared_ptr<Connection> connection);

    // The connection the calling worker thread serves, if any.
    static thread_local Connection *s_current;

    ConnectionLimits m_limits;
    int m_stopFd = -1;
    std::atomic<bool> m_stopping{false};
    std::mutex m_poolMutex;
    WorkerPool *m_pool = nullptr;         // while the accept loop runs
    std::atomic<std::size_t> m_queued{0}; // connections waiting for a worker
    std::unique_ptr<Waiting> m_waitingSet;
    std::mutex m_addressMutex;
    std::map<std::string, std::size_t> m_perAddress;
};

} // namespace sendova::server
