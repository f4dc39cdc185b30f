#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sendova::test {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One request as the server saw it on the wire.
struct RecordedRequest
{
    QByteArray method;
    QByteArray target;  // path and query exactly as sent
    HeaderList headers; // in the order received, names as spelled by the client
    QByteArray body;    // raw bytes; empty when bodies are not kept
    qint64 contentLength = 0;
    qint64 bodyBytesReceived = 0;
    bool complete = false;       // the whole announced body arrived
    bool closedByClient = false; // the client hung up before it had its reply

    // The first header of that name, compared case-insensitively.
    std::optional<QByteArray> header(const QByteArray &name) const;
    int headerCount(const QByteArray &name) const;
};

// What the server does with the next request.
struct ScriptedReply
{
    enum class Reading {
        normal,
        slowly,       // slowChunkBytes every slowInterval
        stall,        // read the head, then never another byte of the body
        closeMidBody, // hang up after closeAfterBodyBytes body bytes, no reply
    };

    int status = 200;
    HeaderList headers;
    QByteArray body;
    // Waited after the body has been read and before the reply is written.
    std::chrono::milliseconds delay{0};
    // Then held until this many requests have arrived, so that clients get
    // their replies together.
    int answerTogether = 0;
    // Sent verbatim instead of a formatted reply, then the connection closes.
    std::optional<QByteArray> raw;
    Reading reading = Reading::normal;
    qint64 slowChunkBytes = 16 * 1024;
    std::chrono::milliseconds slowInterval{20};
    qint64 closeAfterBodyBytes = 0;

    static ScriptedReply json(int status, QByteArray body);
};

// An HTTP/1.1 server on 127.0.0.1 with a port of the system's choosing,
// scripted per test. It runs on threads of its own (one per connection), so
// a test may block on it while the client under test runs its event loop or
// its worker thread. Requests are answered from a queue of scripted replies;
// with the queue empty the default reply is used.
class LoopbackHttpServer
{
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();

    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    quint16 port() const { return m_port; }
    // A loopback port nothing listens on, for refused connections.
    static quint16 unusedPort();
    // "http://127.0.0.1:<port>", no trailing slash.
    QString baseUrl() const;

    void enqueue(ScriptedReply reply);
    void setDefaultReply(ScriptedReply reply);
    // Off for a sink that counts body bytes without keeping them.
    void setKeepBodies(bool keep);

    QList<RecordedRequest> requests() const;
    int connectionsAccepted() const;

    // Block until the condition holds or the time is up; true when it holds.
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool waitForClientClose(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    void acceptLoop();
    void serveConnection(int socket);
    ScriptedReply nextReply(); // with m_lock held
    int closedByClientCount() const;

    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<ScriptedReply> m_queue;
    ScriptedReply m_defaultReply;
    bool m_keepBodies = true;
    QList<RecordedRequest> m_requests;
    int m_connections = 0;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
};

} // namespace sendova::test
