#include "http/HttpServer.h"

#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace sendova::server {

namespace {

using SteadyClock = std::chrono::steady_clock;

// After a reply that leaves part of a request unread, the client may still be
// sending. Closing at once would answer its bytes with a reset, which can
// destroy the reply before the client has read it; so the rest is read and
// dropped for a little while first.
constexpr auto LingerTime = std::chrono::seconds(2);
// How long a worker waits for the next request of its connection itself
// while no other connection waits for a worker: handing the connection to
// the waiting set and back costs two thread wake-ups, which on a busy
// machine can take milliseconds.
constexpr auto HandOverAfter = std::chrono::milliseconds(20);
// How often the waiting set looks for connections whose time is up.
constexpr auto WaitCheckInterval = std::chrono::milliseconds(100);
constexpr std::size_t BufferSize = 64 * 1024;

// Header values as the client sent them: httplib percent-decodes them, which
// turns "Content-Length: %34%30" into 40 and lets an encoded API key through.
// The head was recorded byte for byte while httplib read it.
httplib::Headers headersAsSent(std::string_view head)
{
    httplib::Headers headers;
    bool requestLine = true;
    while (!head.empty()) {
        const auto newline = head.find('\n');
        std::string_view line = head.substr(0, newline);
        head.remove_prefix(newline == std::string_view::npos ? head.size() : newline + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (std::exchange(requestLine, false)) {
            continue;
        }
        if (line.empty()) {
            break;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
            value.remove_suffix(1);
        }
        headers.emplace(std::string(line.substr(0, colon)), std::string(value));
    }
    return headers;
}

} // namespace

class HttpServer::WorkerPool : public httplib::TaskQueue
{
public:
    WorkerPool(HttpServer &server) : m_server(server)
    {
        for (std::size_t i = 0; i < server.m_limits.workerThreads; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
        std::lock_guard lock(m_server.m_poolMutex);
        m_server.m_pool = this;
    }

    void enqueue(std::function<void()> job) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
            ++m_server.m_queued;
        }
        m_wake.notify_one();
    }

    // Jobs still queued run before the threads end; they find the server
    // stopping and close their connections at once.
    void shutdown() override
    {
        {
            std::lock_guard lock(m_server.m_poolMutex);
            m_server.m_pool = nullptr;
        }
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
                --m_server.m_queued;
            }
            job();
        }
    }

    HttpServer &m_server;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    bool m_shutdown = false;
};

// One client connection as httplib's request parser sees it. It hands out
// the bytes of a request while counting them: the head is limited in bytes
// and lines, the request in time, and it knows afterwards whether the body
// was read to its end. Between requests it gathers the next head without
// blocking, so that a worker takes it up only once the head is complete.
class HttpServer::Connection : public httplib::Stream
{
public:
    Connection(int sock, const ConnectionLimits &limits, int stopFd, const std::atomic<bool> &stopping)
        : m_sock(sock), m_limits(limits), m_stopFd(stopFd), m_stopping(stopping),
          m_buffer(std::make_unique<std::array<char, BufferSize>>()), m_idleSince(SteadyClock::now())
    {}
    ~Connection() override
    {
        ::shutdown(m_sock, SHUT_RDWR);
        ::close(m_sock);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Takes in whatever has arrived, without waiting.
    void readAvailable()
    {
        if (m_ended) {
            return;
        }
        if (m_begin > 0) {
            std::memmove(m_buffer->data(), m_buffer->data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        while (m_end < BufferSize) {
            const auto got = ::recv(m_sock, m_buffer->data() + m_end, BufferSize - m_end, MSG_DONTWAIT);
            if (got > 0) {
                if (m_end == 0 && !m_firstByte) {
                    m_firstByte = SteadyClock::now();
                }
                m_end += static_cast<std::size_t>(got);
                m_received += static_cast<std::uint64_t>(got);
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                m_ended = true;
            }
            if (got == 0 || errno != EINTR) {
                break;
            }
        }
    }

    // Whether a worker should take the connection up now: a whole head has
    // arrived (or more than a head may hold), the client has gone, or its
    // time is up.
    bool readyForWorker() const
    {
        const std::string_view pending(m_buffer->data() + m_begin, m_end - m_begin);
        return m_ended || pending.size() == BufferSize ||
               pending.find("\r\n\r\n") != std::string_view::npos ||
               pending.find("\n\n") != std::string_view::npos || SteadyClock::now() >= waitUntil();
    }
    // No byte of a next request, and none will come.
    bool finished() const { return m_begin == m_end && (m_ended || SteadyClock::now() >= waitUntil()); }

    // The head of a started request must be complete within the request
    // timeout of its first byte; an idle connection waits for the next one
    // for the keep-alive time.
    SteadyClock::time_point waitUntil() const
    {
        return m_firstByte ? *m_firstByte + m_limits.requestTimeout : m_idleSince + m_limits.keepAliveTimeout;
    }

    void beginRequest()
    {
        m_deadline = m_firstByte.value_or(SteadyClock::now()) + m_limits.requestTimeout;
        m_slowBody = false;
        m_inHead = true;
        m_head.clear();
        m_headBytes = 0;
        m_headLines = 0;
    }
    void headComplete(httplib::Request &req)
    {
        if (m_inHead) {
            m_inHead = false;
            m_bodyStart = m_delivered;
            req.headers = headersAsSent(m_head);
            req.set_header("REMOTE_ADDR", req.remote_addr);
            req.set_header("REMOTE_PORT", std::to_string(req.remote_port));
        }
    }
    void requestDone()
    {
        m_idleSince = SteadyClock::now();
        m_firstByte = m_begin < m_end ? std::optional(m_idleSince) : std::nullopt;
    }
    void allowSlowBody()
    {
        m_slowBody = true;
        m_slowSince = SteadyClock::now();
        m_slowBase = m_received;
    }
    void closeAfterReply() { m_close = true; }
    bool awaitBytes(std::chrono::milliseconds wait) const
    {
        return waitFor(POLLIN, SteadyClock::now() + wait) == Wait::Ready;
    }

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
               ::recv(m_sock, m_buffer->data(), BufferSize, MSG_DONTWAIT) > 0) {
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
        const char *data = m_buffer->data() + m_begin;
        if (m_inHead) {
            m_headBytes += count;
            m_headLines += static_cast<std::size_t>(std::count(data, data + count, '\n'));
            if (m_headBytes > m_limits.maxHeadBytes || m_headLines > m_limits.maxHeaderLines) {
                m_headTooLarge = true;
                m_readFailed = true;
                return -1;
            }
            m_head.append(data, count);
        }
        std::memcpy(ptr, data, count);
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

    // Released with the connection: its place in the count of its address.
    std::shared_ptr<void> addressSlot;
    std::size_t served = 0;

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
        auto deadline = m_deadline;
        // After the request timeout, a slow body must keep up the minimum
        // rate on average, so that trickling cannot hold a worker for ever.
        if (m_slowBody) {
            deadline = SteadyClock::time_point::max();
            if (m_limits.minimumBodyRate > 0) {
                deadline =
                    m_slowSince + m_limits.requestTimeout +
                    std::chrono::milliseconds((m_received - m_slowBase) * 1000 / m_limits.minimumBodyRate);
            }
        }
        return std::min(deadline, SteadyClock::now() + m_limits.inactivityTimeout);
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
            const auto got = ::recv(m_sock, m_buffer->data(), BufferSize, MSG_DONTWAIT);
            if (got > 0) {
                m_begin = 0;
                m_end = static_cast<std::size_t>(got);
                m_received += static_cast<std::uint64_t>(got);
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
    std::unique_ptr<std::array<char, BufferSize>> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::uint64_t m_delivered = 0;
    std::uint64_t m_bodyStart = 0;
    std::uint64_t m_received = 0;
    SteadyClock::time_point m_idleSince;
    std::optional<SteadyClock::time_point> m_firstByte;
    bool m_ended = false;
    SteadyClock::time_point m_deadline = SteadyClock::time_point::max();
    bool m_slowBody = false;
    SteadyClock::time_point m_slowSince;
    std::uint64_t m_slowBase = 0;
    bool m_inHead = false;
    std::string m_head;
    std::size_t m_headBytes = 0;
    std::size_t m_headLines = 0;
    bool m_headTooLarge = false;
    bool m_timedOut = false;
    bool m_readFailed = false;
    bool m_close = false;
};

// Connections waiting for their next request head: one poll set and one
// thread for all of them, however many there are and however slowly they send.
class HttpServer::Waiting
{
public:
    explicit Waiting(HttpServer &server) : m_server(server), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
    {
        if (m_epoll < 0) {
            throw std::system_error(errno, std::generic_category(), "cannot create an epoll set");
        }
        epoll_event stop{EPOLLIN, {.fd = server.m_stopFd}};
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, server.m_stopFd, &stop);
        m_thread = std::thread([this] { run(); });
    }
    ~Waiting()
    {
        m_thread.join();
        ::close(m_epoll);
    }

    void add(std::shared_ptr<Connection> connection)
    {
        std::lock_guard lock(m_mutex);
        if (m_server.m_stopping) {
            return;
        }
        const int fd = connection->socket();
        epoll_event event{EPOLLIN | EPOLLRDHUP, {.fd = fd}};
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0) {
            m_connections.emplace(fd, std::move(connection));
        }
    }

private:
    void run()
    {
        std::array<epoll_event, 64> events{};
        while (!m_server.m_stopping) {
            const int count = ::epoll_wait(m_epoll, events.data(), events.size(),
                                           static_cast<int>(WaitCheckInterval.count()));
            std::vector<std::shared_ptr<Connection>> ready;
            {
                std::lock_guard lock(m_mutex);
                for (int i = 0; i < count; ++i) {
                    take(events[static_cast<std::size_t>(i)].data.fd, ready);
                }
                const auto now = SteadyClock::now();
                if (now - m_lastCheck >= WaitCheckInterval) {
                    m_lastCheck = now;
                    std::vector<int> due;
                    for (const auto &[fd, connection] : m_connections) {
                        if (now >= connection->waitUntil()) {
                            due.push_back(fd);
                        }
                    }
                    for (const int fd : due) {
                        take(fd, ready);
                    }
                }
            }
            for (auto &connection : ready) {
                m_server.dispatch(std::move(connection));
            }
        }
        std::lock_guard lock(m_mutex);
        m_connections.clear();
    }

    void take(int fd, std::vector<std::shared_ptr<Connection>> &into)
    {
        const auto it = m_connections.find(fd);
        if (it != m_connections.end()) {
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
            into.push_back(std::move(it->second));
            m_connections.erase(it);
        }
    }

    HttpServer &m_server;
    int m_epoll;
    std::mutex m_mutex;
    std::map<int, std::shared_ptr<Connection>> m_connections;
    SteadyClock::time_point m_lastCheck = SteadyClock::now();
    std::thread m_thread;
};

thread_local HttpServer::Connection *HttpServer::s_current = nullptr;

HttpServer::HttpServer(ConnectionLimits limits)
    : m_limits(limits), m_stopFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_stopFd < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create an eventfd");
    }
    m_waitingSet = std::make_unique<Waiting>(*this);
    new_task_queue = [this] { return new WorkerPool(*this); };
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
    closeConnections();
    m_waitingSet.reset();
    ::close(m_stopFd);
}

void HttpServer::setPreRoutingHandler(HandlerWithResponse handler)
{
    // httplib calls this once the head is parsed and before any of the body is read.
    set_pre_routing_handler(std::move(handler));
}

void HttpServer::setErrorHandler(HandlerWithResponse handler)
{
    set_error_handler(HandlerWithResponse(
        [handler = std::move(handler)](const httplib::Request &req, httplib::Response &res) {
            if (s_current) {
                // httplib learns the client's address only from a head it
                // could read; the refusal of any other must name it too.
                if (req.remote_addr.empty()) {
                    auto &request = const_cast<httplib::Request &>(req);
                    s_current->get_remote_ip_and_port(request.remote_addr, request.remote_port);
                }
                // httplib answers any head it could not read with 400; say why.
                if (res.status == 400) {
                    if (s_current->headTooLarge()) {
                        res.status = 431;
                    } else if (s_current->timedOut()) {
                        res.status = 408;
                    }
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

void HttpServer::stopListening()
{
    // httplib's own stop() does nothing until its accept loop has begun, so a
    // stop that came first (a SIGTERM just after start-up) was lost and the
    // loop then served for ever. A loop yet to begin finds no socket instead.
    const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
    if (sock != INVALID_SOCKET) {
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
    }
}

void HttpServer::allowSlowBody()
{
    if (s_current) {
        s_current->allowSlowBody();
    }
}

bool HttpServer::requestTimedOut()
{
    return s_current && s_current->timedOut();
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
    auto connection = std::make_shared<Connection>(sock, m_limits, m_stopFd, m_stopping);
    if (m_limits.connectionsPerAddress > 0) {
        std::string address;
        int port = 0;
        connection->get_remote_ip_and_port(address, port);
        std::lock_guard lock(m_addressMutex);
        auto &count = m_perAddress[address];
        if (count >= m_limits.connectionsPerAddress) {
            static constexpr std::string_view Refusal =
                "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                "Content-Length: 39\r\nRetry-After: 10\r\nConnection: close\r\n\r\n"
                "Too many connections from your address\n";
            connection->write(Refusal.data(), Refusal.size());
            return true;
        }
        ++count;
        connection->addressSlot = std::shared_ptr<void>(nullptr, [this, address](void *) {
            std::lock_guard lock(m_addressMutex);
            if (--m_perAddress[address] == 0) {
                m_perAddress.erase(address);
            }
        });
    }
    serve(std::move(connection));
    return true;
}

void HttpServer::dispatch(std::shared_ptr<Connection> connection)
{
    std::lock_guard lock(m_poolMutex);
    if (m_pool && !m_stopping) {
        m_pool->enqueue(
            [this, connection = std::move(connection)]() mutable { serve(std::move(connection)); });
    }
}

void HttpServer::serve(std::shared_ptr<Connection> connection)
{
    bool unread = false;
    while (connection->served < m_limits.requestsPerConnection && !m_stopping) {
        connection->readAvailable();
        if (connection->finished()) {
            break;
        }
        if (!connection->readyForWorker()) {
            if (m_queued == 0 && connection->awaitBytes(HandOverAfter)) {
                continue;
            }
            // The worker is for others until the rest of the head is here.
            m_waitingSet->add(std::move(connection));
            return;
        }
        s_current = connection.get();
        connection->beginRequest();
        bool clientClosed = false;
        const bool last = ++connection->served == m_limits.requestsPerConnection;
        const bool ok =
            process_request(*connection, last, clientClosed,
                            [&connection](httplib::Request &req) { connection->headComplete(req); });
        s_current = nullptr;
        connection->requestDone();
        if (!ok || clientClosed || connection->closing()) {
            unread = connection->closing();
            break;
        }
    }
    if (unread && !m_stopping && !connection->timedOut()) {
        connection->linger();
    }
}

} // namespace sendova::server
