#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace sendova::test {

namespace {

constexpr int pollStep = 50; // ms between looks at the stop flag
constexpr qsizetype maxHeadBytes = 1024 * 1024;

bool sendAll(int socket, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Binds the socket to 127.0.0.1 with a port of the system's choosing and
// returns that port, 0 when it cannot.
quint16 bindLoopback(int socket)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

} // namespace

std::optional<QByteArray> RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return std::nullopt;
}

int RecordedRequest::headerCount(const QByteArray &name) const
{
    int count = 0;
    for (const auto &h : headers)
        count += h.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return count;
}

ScriptedReply ScriptedReply::json(int status, QByteArray body)
{
    ScriptedReply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", "application/json"}};
    reply.body = std::move(body);
    return reply;
}

LoopbackHttpServer::LoopbackHttpServer()
{
    m_defaultReply = ScriptedReply::json(
        500, R"({"Success":false,"Error":{"Code":"unscripted","Message":"no reply scripted"}})");
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        throw std::runtime_error("socket() failed");
    const int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    m_port = bindLoopback(m_listener);
    if (m_port == 0 || ::listen(m_listener, 16) != 0)
        throw std::runtime_error("bind/listen on 127.0.0.1 failed");
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    m_stopping = true;
    m_changed.notify_all();
    m_acceptThread.join();
    ::close(m_listener);
    for (std::thread &thread : m_threads)
        thread.join();
}

quint16 LoopbackHttpServer::unusedPort()
{
    // Bound once and released: the system does not hand it out again at once.
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const quint16 port = bindLoopback(probe);
    ::close(probe);
    return port;
}

QString LoopbackHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void LoopbackHttpServer::enqueue(ScriptedReply reply)
{
    std::lock_guard guard(m_lock);
    m_queue.push_back(std::move(reply));
}

void LoopbackHttpServer::setDefaultReply(ScriptedReply reply)
{
    std::lock_guard guard(m_lock);
    m_defaultReply = std::move(reply);
}

void LoopbackHttpServer::setKeepBodies(bool keep)
{
    std::lock_guard guard(m_lock);
    m_keepBodies = keep;
}

QList<RecordedRequest> LoopbackHttpServer::requests() const
{
    std::lock_guard guard(m_lock);
    return m_requests;
}

int LoopbackHttpServer::connectionsAccepted() const
{
    std::lock_guard guard(m_lock);
    return m_connections;
}

int LoopbackHttpServer::closedByClientCount() const
{
    int count = 0;
    for (const RecordedRequest &request : m_requests)
        count += request.closedByClient ? 1 : 0;
    return count;
}

bool LoopbackHttpServer::waitForRequests(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock guard(m_lock);
    return m_changed.wait_for(guard, timeout, [&] { return m_requests.size() >= count; });
}

bool LoopbackHttpServer::waitForClientClose(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock guard(m_lock);
    return m_changed.wait_for(guard, timeout, [&] { return closedByClientCount() >= count; });
}

ScriptedReply LoopbackHttpServer::nextReply()
{
    if (m_queue.empty())
        return m_defaultReply;
    ScriptedReply reply = std::move(m_queue.front());
    m_queue.erase(m_queue.begin());
    return reply;
}

void LoopbackHttpServer::acceptLoop()
{
    while (!m_stopping) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, pollStep) <= 0)
            continue;
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        {
            std::lock_guard guard(m_lock);
            ++m_connections;
        }
        m_threads.emplace_back([this, socket] {
            serveConnection(socket);
            ::close(socket);
        });
    }
}

void LoopbackHttpServer::serveConnection(int socket)
{
    QByteArray pending; // received, not yet consumed
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);

    // Up to `limit` bytes appended to pending. 1 = got some, 0 = peer closed,
    // -1 = error or stopping.
    auto receive = [&](qint64 limit) -> int {
        for (;;) {
            if (m_stopping)
                return -1;
            pollfd waiting{socket, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, pollStep);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
            if (ready < 0)
                return -1;
            const ssize_t n = ::recv(socket, chunk.data(), size_t(std::min<qint64>(limit, chunk.size())), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno == ECONNRESET ? 0 : -1;
            if (n == 0)
                return 0;
            pending.append(chunk.constData(), n);
            return 1;
        }
    };

    for (;;) {
        qsizetype headEnd;
        while ((headEnd = pending.indexOf("\r\n\r\n")) < 0) {
            if (pending.size() > maxHeadBytes || receive(chunk.size()) != 1)
                return;
        }
        const QList<QByteArray> lines = pending.left(headEnd).split('\n');
        pending.remove(0, headEnd + 4);

        RecordedRequest record;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        record.method = requestLine.value(0);
        record.target = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                record.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
        record.contentLength = record.header("Content-Length").value_or("0").toLongLong();

        qsizetype index;
        bool keepBodies;
        ScriptedReply reply;
        {
            std::lock_guard guard(m_lock);
            index = m_requests.size();
            m_requests.append(record);
            keepBodies = m_keepBodies;
            // Taken with the record: a test that saw this request arrive
            // knows the next request gets the next reply.
            reply = nextReply();
        }
        m_changed.notify_all();
        auto update = [&](auto change) {
            {
                std::lock_guard guard(m_lock);
                change(m_requests[index]);
            }
            m_changed.notify_all();
        };
        auto clientClosed = [&] { update([](RecordedRequest &r) { r.closedByClient = true; }); };
        // Waits a poll step for the client to hang up.
        auto hungUp = [socket] {
            pollfd waiting{socket, POLLRDHUP, 0};
            return ::poll(&waiting, 1, pollStep) > 0 && (waiting.revents & (POLLRDHUP | POLLHUP | POLLERR));
        };

        if (record.header("Expect").value_or(QByteArray()).compare("100-continue", Qt::CaseInsensitive) ==
                0 &&
            reply.reading != ScriptedReply::Reading::stall) {
            if (!sendAll(socket, "HTTP/1.1 100 Continue\r\n\r\n"))
                return;
        }

        if (reply.reading == ScriptedReply::Reading::stall) {
            // Leave the body in the kernel's buffers until the client gives up.
            while (!m_stopping) {
                if (hungUp()) {
                    clientClosed();
                    return;
                }
            }
            return;
        }

        qint64 received = 0;
        const qint64 stopAt = reply.reading == ScriptedReply::Reading::closeMidBody
                                  ? std::min(reply.closeAfterBodyBytes, record.contentLength)
                                  : record.contentLength;
        QByteArray body;
        for (;;) {
            const qint64 take = std::min<qint64>(pending.size(), stopAt - received);
            if (take > 0) {
                if (keepBodies)
                    body.append(pending.constData(), take);
                pending.remove(0, take);
                received += take;
                update([&](RecordedRequest &r) { r.bodyBytesReceived = received; });
            }
            if (received >= stopAt)
                break;
            qint64 limit = stopAt - received;
            if (reply.reading == ScriptedReply::Reading::slowly) {
                // A client that hangs up mid-body is seen at once, not after a
                // slow drain of all the kernel had buffered, which on a loaded
                // machine outlasts any wait of a test.
                pollfd peek{socket, POLLRDHUP, 0};
                if (::poll(&peek, 1, 0) > 0 && (peek.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
                    clientClosed();
                    update([&](RecordedRequest &r) { r.body = body; });
                    return;
                }
                std::this_thread::sleep_for(reply.slowInterval);
                limit = std::min(limit, reply.slowChunkBytes);
            }
            const int got = receive(limit);
            if (got == 0)
                clientClosed();
            if (got != 1) {
                update([&](RecordedRequest &r) { r.body = body; });
                return;
            }
        }
        update([&](RecordedRequest &r) {
            r.body = body;
            r.complete = received == r.contentLength;
        });
        if (reply.reading == ScriptedReply::Reading::closeMidBody) {
            ::shutdown(socket, SHUT_RDWR);
            return;
        }

        for (auto waited = std::chrono::milliseconds(0); waited < reply.delay && !m_stopping;
             waited += std::chrono::milliseconds(pollStep)) {
            if (hungUp()) {
                clientClosed();
                return;
            }
        }

        {
            std::unique_lock guard(m_lock);
            m_changed.wait_for(guard, std::chrono::seconds(10),
                               [&] { return m_stopping || m_requests.size() >= reply.answerTogether; });
        }

        if (reply.raw) {
            sendAll(socket, *reply.raw);
            return;
        }
        // Clients read only the code; one reason phrase does for every status.
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
        for (const auto &h : reply.headers)
            head += h.first + ": " + h.second + "\r\n";
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n";
        if (!sendAll(socket, head + reply.body))
            return;
        if (record.header("Connection").value_or(QByteArray()).compare("close", Qt::CaseInsensitive) == 0)
            return;
    }
}

} // namespace sendova::test
