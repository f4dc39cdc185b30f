#pragma once

#include "support/Error.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QFile;

namespace sendova {

struct HttpHeader
{
    QByteArray name;
    QByteArray value;

    bool operator==(const HttpHeader &) const = default;
};

// A request body that goes out as head + the first fileLength bytes of an
// already opened file + tail, read as the transfer needs them, so that the
// size of the file never decides how much memory an upload takes.
struct HttpBody
{
    QByteArray head;
    // Open for reading, positioned at its start. Shared because the worker
    // thread reads it after the caller has moved on.
    std::shared_ptr<QFile> file;
    qint64 fileLength = 0;
    QByteArray tail;

    qint64 size() const { return head.size() + fileLength + tail.size(); }
};

struct HttpRequest
{
    QByteArray method = "GET";
    QUrl url;
    // Sent in this order after the few libcurl adds itself (Host, Accept,
    // Content-Length). An empty value is sent as an empty header.
    QList<HttpHeader> headers;
    std::optional<HttpBody> body;
    // Fails the request when no byte moves either way for this long,
    // connecting included.
    std::chrono::milliseconds inactivityTimeout{std::chrono::seconds(60)};
    // Upper bound for the whole exchange while data keeps flowing.
    std::chrono::milliseconds transferLimit{std::chrono::seconds(3600)};
    // Most bytes of reply (headers and body together) kept in memory. Every
    // reply this program reads is a small JSON object; a server or proxy
    // that sends more is broken or hostile, and must not fill the memory.
    qint64 replyLimit = 1024 * 1024;
};

struct HttpReply
{
    int status = 0;
    // Of the final reply only, in the order received.
    QList<HttpHeader> headers;
    QByteArray body;

    // The first header of that name, compared case-insensitively.
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// A request that did not end with a reply. The description is libcurl's
// own, with its detail ("Failed to connect to 127.0.0.1 port 9 …").
class TransportError : public Error
{
public:
    enum class Kind {
        connection, // no route, refused, name not resolved
        timeout,    // inactivity limit or whole-transfer limit reached
        tls,        // handshake or certificate verification failed
        notHttp,    // the peer answered with something that is not HTTP
        cancelled,  // HttpSession::cancel() stopped it
        tooLarge,   // the reply outgrew HttpRequest::replyLimit
        other,
    };

    // What the user is told: a few sentences that cover every failure, each
    // naming the host. libcurl's own words stay in the technical text, for
    // the log.
    enum class Reason {
        unreachable,
        refused,
        nameNotFound,
        timedOut,
        certificateUntrusted,
        secureConnectionFailed,
        connectionCut,
        notHttp,
        tooLarge,
        cancelled,
    };

    // technical is the log's text; reason defaults to the kind's usual one.
    TransportError(Kind kind, int curlCode, QString technical, QString host = QString(),
                   std::optional<Reason> reason = std::nullopt)
        : Error(std::move(technical)), m_kind(kind), m_curlCode(curlCode), m_host(std::move(host)),
          m_reason(reason.value_or(usualReason(kind)))
    {}

    Kind kind() const { return m_kind; }
    Reason reason() const { return m_reason; }
    bool isCancellation() const { return m_kind == Kind::cancelled; }
    // CURLcode; 0 when the failure did not come from libcurl.
    int curlCode() const { return m_curlCode; }
    QString host() const { return m_host; }
    static Reason usualReason(Kind kind);

    // Looked up now, in the current language.
    QString description() const override;

private:
    Kind m_kind;
    int m_curlCode;
    QString m_host;
    Reason m_reason;
};

// One HTTP client with its own worker thread, which is also its serial queue:
// requests sent through the same session run one after another, each on that
// thread, and reuse its connections. TLS is always verified, proxies come
// from the usual environment variables, redirects are not followed.
//
// send() may be awaited from any thread that runs a Qt event loop; the
// awaiting coroutine resumes on that thread.
class HttpSession
{
public:
    // Called on the worker thread as body bytes leave, with rising totals of
    // the whole request body.
    using ProgressHandler = std::function<void(qint64 totalSent, qint64 totalExpected)>;

    explicit HttpSession(ProgressHandler progressHandler = {});
    // Aborts whatever is in flight and waits for the worker to let go.
    ~HttpSession();

    HttpSession(const HttpSession &) = delete;
    HttpSession &operator=(const HttpSession &) = delete;

    // Loads libcurl now rather than with the first request, for a caller
    // that has other waiting to do first. Any thread.
    static void preload();

    // Throws TransportError, or FileError when the body's file cannot be read
    // while it is being sent. Any status, 4xx and 5xx included, is a reply.
    QCoro::Task<HttpReply> send(HttpRequest request);

    // Stops every request sent before this call, the running one at once;
    // each fails with a TransportError of kind cancelled. Thread-safe.
    // Requests sent afterwards run normally.
    void cancel();

private:
    class Worker;
    std::unique_ptr<Worker> m_worker;
};

} // namespace sendova
