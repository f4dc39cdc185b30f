#include "HttpServer.h"

#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sendova::server {

namespace {

using SteadyClock = std::chrono::steady_clock;

// After a reply that leaves part of a request unread, the client may still be
// sending. Closing at once would answer its bytes with a reset, which can
// destroy the reply before the client has read it; so the rest is read and
// dropped for a little while first.
constexpr auto LingerTime = std::chrono::seconds(2);
// How often an idle kept-alive connection looks whether others wait for a worker.
constexpr auto IdleCheckInterval = std::chrono::milliseconds(100);

class WorkerPool : public httplib::TaskQueue
{
public:
    WorkerPool(std::size_t threads, std::atomic<std::size_t> &waiting) : m_waiting(waiting)
    {
        for (std::size_t i = 0; i < threads; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
    }

    void enqueue(std::function<void()> job) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
            ++m_waiting;
        }
        m_wake.notify_one();
    }

    // Jobs still queued run before the threads end; they find the server
    // stopping and close their connections at once.
    void shutdown() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_shutdown = true;
        }
        m_wake.notify_all();
        for (auto &thread : m_threads) {
            thread.join();
        }
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_shutdown || !m_jobs.empty(); });
                if (m_jobs.empty()) {
                    return;
                }
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
                --m_waiting;
            }
            job();
        }
    }

    std::atomic<std::size_t> &m_waiting;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    bool m_shutdown = false;
};

} // namespace

// One client connection as httplib's request parser sees it. It hands out
// the bytes of a request while counting them: the head is limited in bytes
// and lines, the request in time, and it knows afterwards whether the body
// was read to its end.
class HttpServer::Connection : public httplib::Stream
{
public:
    Connection(int sock, const ConnectionLimits &limits, int stopFd, const std::atomic<bool> &stopping)
        : m_sock(sock), m_limits(limits), m_stopFd(stopFd), m_stopping(stopping)
    {}

    // Waits, while nobody waits for a worker, for the next request of a
    // kept-alive connection. False when the connection should end instead.
    template<typename Busy>
    bool awaitRequest(Busy busy)
    {
        if (m_begin < m_end) {
            return true;
        }
        const auto end = SteadyClock::now() + m_limits.keepAliveTimeout;
        for (;;) {
            const auto now = SteadyClock::now();
            if (now >= end) {
                return false;
            }
            switch (waitFor(POLLIN, std::min(end, now + IdleCheckInterval))) {
            case Wait::Ready:
                return true;
            case Wait::TimedOut:
                if (busy()) {
                    return false;
                }
                break;
            case Wait::Stopped:
            case Wait::Failed:
                return false;
            }
        }
    }

    void beginRequest()
    {
        m_deadline = SteadyClock::now() + m_limits.requestTimeout;
        m_inHead = true;
        m_headBytes = 0;
        m_headLines = 0;
    }
    void headComplete()
    {
        m_inHead = false;
        m_bodyStart = m_delivered;
    }
    void allowSlowBody() { m_deadline = SteadyClock::time_point::max(); }
    void closeAfterReply() { m_close = true; }

    bool headTooLarge() const { return m_headTooLarge; }
    bool timedOut() const { return m_timedOut; }
    bool closing() const { return m_close || m_readFailed || m_stopping; }

    // Whether bytes of this request may still be on their way: its head was
    // never understood, or its body was not read to the end. A chunked body
    // gives no length to compare with, so it always counts as unread.
    bool requestLeftUnread(const httplib::Request &req) const
    {
        if (m_inHead || req.has_header("Transfer-Encoding")) {
            return true;
        }
        return req.has_header("Content-Length") &&
               m_delivered - m_bodyStart < req.get_header_value<std::uint64_t>("Content-Length");
    }

    // Drops what the client still sends, until it closes or LingerTime has passed.
    void linger()
    {
        ::shutdown(m_sock, SHUT_WR);
        const auto end = SteadyClock::now() + LingerTime;
        while (waitFor(POLLIN, end) == Wait::Ready &&
               ::recv(m_sock, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT) > 0) {
        }
    }

    bool is_readable() const override
    {
        return m_begin < m_end || waitFor(POLLIN, readUntil()) == Wait::Ready;
    }

    bool is_writable() const override
    {
        return !m_stopping &&
               waitFor(POLLOUT, SteadyClock::now() + m_limits.inactivityTimeout) == Wait::Ready;
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (m_readFailed || m_stopping) {
            m_readFailed = true;
            return -1;
        }
        if (m_begin == m_end && !fill()) {
            m_readFailed = true;
            return -1;
        }
        const auto count = std::min(size, m_end - m_begin);
        if (m_inHead) {
            m_headBytes += count;
            m_headLines += static_cast<std::size_t>(
                std::count(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_begin),
                           m_buffer.begin() + static_cast<std::ptrdiff_t>(m_begin + count), '\n'));
            if (m_headBytes > m_limits.maxHeadBytes || m_headLines > m_limits.maxHeaderLines) {
                m_headTooLarge = true;
                m_readFailed = true;
                return -1;
            }
        }
        std::memcpy(ptr, m_buffer.data() + m_begin, count);
        m_begin += count;
        m_delivered += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        for (;;) {
            if (m_stopping) {
                return -1;
            }
            const auto sent = ::send(m_sock, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                return sent;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return -1;
            }
            if (waitFor(POLLOUT, SteadyClock::now() + m_limits.inactivityTimeout) != Wait::Ready) {
                return -1;
            }
        }
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        describe(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        describe(::getsockname, ip, port);
    }

    socket_t socket() const override { return m_sock; }

private:
    enum class Wait { Ready, TimedOut, Stopped, Failed };

    template<typename Query>
    void describe(Query query, std::string &ip, int &port) const
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        std::array<char, NI_MAXHOST> host{};
        std::array<char, NI_MAXSERV> service{};
        if (query(m_sock, reinterpret_cast<sockaddr *>(&address), &length) == 0 &&
            ::getnameinfo(reinterpret_cast<sockaddr *>(&address), length, host.data(), host.size(),
                          service.data(), service.size(), NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host.data();
            port = std::atoi(service.data());
        }
    }

    SteadyClock::time_point readUntil() const
    {
        return std::min(m_deadline, SteadyClock::now() + m_limits.inactivityTimeout);
    }

    Wait waitFor(short events, SteadyClock::time_point until) const
    {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - SteadyClock::now());
            if (left.count() <= 0) {
                return Wait::TimedOut;
            }
            std::array<pollfd, 2> fds{pollfd{m_sock, events, 0}, pollfd{m_stopFd, POLLIN, 0}};
            const int ready =
                ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
            if (ready < 0 && errno != EINTR) {
                return Wait::Failed;
            }
            if (fds[1].revents != 0) {
                return Wait::Stopped;
            }
            if (ready > 0) {
                return Wait::Ready;
            }
        }
    }

    bool fill()
    {
        for (;;) {
            switch (waitFor(POLLIN, readUntil())) {
            case Wait::Ready:
                break;
            case Wait::TimedOut:
                m_timedOut = true;
                return false;
            case Wait::Stopped:
            case Wait::Failed:
                return false;
            }
            const auto got = ::recv(m_sock, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
            if (got > 0) {
                m_begin = 0;
                m_end = static_cast<std::size_t>(got);
                return true;
            }
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                return false;
            }
        }
    }

    int m_sock;
    const ConnectionLimits &m_limits;
    int m_stopFd;
    const std::atomic<bool> &m_stopping;
    std::array<char, 64 * 1024> m_buffer{};
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::uint64_t m_delivered = 0;
    std::uint64_t m_bodyStart = 0;
    SteadyClock::time_point m_deadline = SteadyClock::time_point::max();
    bool m_inHead = false;
    std::size_t m_headBytes = 0;
    std::size_t m_headLines = 0;
    bool m_headTooLarge = false;
    bool m_timedOut = false;
    bool m_readFailed = false;
    bool m_close = false;
};

thread_local HttpServer::Connection *HttpServer::s_current = nullptr;

HttpServer::HttpServer(ConnectionLimits limits)
    : m_limits(limits), m_stopFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_stopFd < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create an eventfd");
    }
    new_task_queue = [this] { return new WorkerPool(m_limits.workerThreads, m_waiting); };
    // Only for the Keep-Alive header: the connection loop below is ours.
    set_keep_alive_max_count(m_limits.requestsPerConnection);
    set_keep_alive_timeout(std::chrono::ceil<std::chrono::seconds>(m_limits.keepAliveTimeout).count());
    setPreRoutingHandler(
        [](const httplib::Request &, httplib::Response &) { return HandlerResponse::Unhandled; });
    // Runs just before any reply's head is written, which is the last moment
    // to tell the client that the connection ends with it.
    set_post_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!s_current) {
            return;
        }
        if (s_current->requestLeftUnread(req)) {
            s_current->closeAfterReply();
        }
        if (s_current->closing()) {
            res.headers.erase("Keep-Alive");
            if (!res.has_header("Connection")) {
                res.set_header("Connection", "close");
            }
        }
    });
}

HttpServer::~HttpServer()
{
    ::close(m_stopFd);
}

void HttpServer::setPreRoutingHandler(HandlerWithResponse handler)
{
    // httplib calls this once the head is parsed and before any of the body is read.
    set_pre_routing_handler(
        [handler = std::move(handler)](const httplib::Request &req, httplib::Response &res) {
            if (s_current) {
                s_current->headComplete();
            }
            return handler(req, res);
        });
}

void HttpServer::setErrorHandler(HandlerWithResponse handler)
{
    // httplib answers any head it could not read with 400; say why.
    set_error_handler(HandlerWithResponse(
        [handler = std::move(handler)](const httplib::Request &req, httplib::Response &res) {
            if (s_current && res.status == 400) {
                if (s_current->headTooLarge()) {
                    res.status = 431;
                } else if (s_current->timedOut()) {
                    res.status = 408;
                }
            }
            return handler(req, res);
        }));
}

void HttpServer::closeConnections()
{
    m_stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_stopFd, &one, sizeof one);
}

void HttpServer::allowSlowBody()
{
    if (s_current) {
        s_current->allowSlowBody();
    }
}

void HttpServer::closeAfterReply()
{
    if (s_current) {
        s_current->closeAfterReply();
    }
}

bool HttpServer::process_and_close_socket(socket_t sock)
{
    // Replies are written as a head and a body; without this the body waits
    // for the client's delayed acknowledgement of the head.
    const int on = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Connection connection(sock, m_limits, m_stopFd, m_stopping);
    s_current = &connection;
    bool ok = true;
    bool unread = false;
    for (std::size_t served = 0; served < m_limits.requestsPerConnection && !m_stopping; ++served) {
        // Idle connections give way as soon as others wait for a worker.
        if (served > 0 && !connection.awaitRequest([this] { return m_waiting > 0; })) {
            break;
        }
        connection.beginRequest();
        bool clientClosed = false;
        const bool last = served + 1 == m_limits.requestsPerConnection;
        ok = process_request(connection, last, clientClosed, nullptr);
        if (!ok || clientClosed || connection.closing()) {
            unread = connection.closing();
            break;
        }
    }
    s_current = nullptr;
    if (unread && !m_stopping && !connection.timedOut()) {
        connection.linger();
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace sendova::server
