#include "net/HttpSession.h"

#include "net/FileError.h"
#include "net/LibCurl.h"
#include "support/LocalizationService.h"

#include <QFile>
#include <QFuture>
#include <QLocale>
#include <QPromise>
#include <QThreadPool>

#include <QCoroFuture>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <unistd.h>

namespace sendova {

namespace {

// libcurl hands each read callback at most this much; larger than its 64 KiB
// default so that a big upload costs fewer system calls per megabyte.
constexpr long uploadBufferSize = 512 * 1024;

TransportError::Kind kindOf(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return TransportError::Kind::connection;
    case CURLE_OPERATION_TIMEDOUT:
        return TransportError::Kind::timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
        return TransportError::Kind::tls;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL: // also what an HTTP/0.9-style answer gives
        return TransportError::Kind::notHttp;
    case CURLE_ABORTED_BY_CALLBACK:
        return TransportError::Kind::cancelled;
    default:
        return TransportError::Kind::other;
    }
}

// Finer than the kind: what the user can act on (a name to check, a server
// to start, a certificate to look at).
TransportError::Reason reasonOf(CURLcode code, long osErrno, TransportError::Kind kind)
{
    using Reason = TransportError::Reason;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return Reason::nameNotFound;
    case CURLE_COULDNT_CONNECT:
        return osErrno == ECONNREFUSED ? Reason::refused : Reason::unreachable;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return Reason::certificateUntrusted;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return Reason::connectionCut;
    default:
        return TransportError::usualReason(kind);
    }
}

TransportError cancelledError()
{
    return TransportError(TransportError::Kind::cancelled, CURLE_ABORTED_BY_CALLBACK,
                          QString::fromUtf8(libCurl().easy_strerror(CURLE_ABORTED_BY_CALLBACK)));
}

bool isHeaderSafe(const QByteArray &text)
{
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

struct Outcome
{
    HttpReply reply;
    std::exception_ptr error;
};

} // namespace

std::optional<QByteArray> HttpReply::header(const QByteArray &name) const
{
    for (const HttpHeader &h : headers) {
        if (h.name.compare(name, Qt::CaseInsensitive) == 0)
            return h.value;
    }
    return std::nullopt;
}

class HttpSession::Worker
{
public:
    explicit Worker(ProgressHandler progressHandler) : m_progressHandler(std::move(progressHandler))
    {
        m_multi = libCurl().multi_init();
        m_easy = libCurl().easy_init();
        m_pool.setMaxThreadCount(1);
        // One thread for the session's whole life, not one per idle spell.
        m_pool.setExpiryTimeout(-1);
    }

    ~Worker()
    {
        cancel();
        m_pool.waitForDone();
        libCurl().easy_cleanup(m_easy);
        libCurl().multi_cleanup(m_multi);
    }

    QFuture<Outcome> submit(HttpRequest request)
    {
        const quint64 serial = ++m_lastSerial;
        auto promise = std::make_shared<QPromise<Outcome>>();
        QFuture<Outcome> future = promise->future();
        promise->start();
        m_pool.start([this, serial, promise, request = std::move(request)] {
            promise->addResult(perform(request, serial));
            promise->finish();
        });
        return future;
    }

    void cancel()
    {
        // Raise only: a concurrent cancel() that read an older serial must
        // not un-cancel a request the other one covered.
        const quint64 through = m_lastSerial.load();
        quint64 current = m_cancelledThrough.load();
        while (current < through && !m_cancelledThrough.compare_exchange_weak(current, through)) {
        }
        libCurl().multi_wakeup(m_multi);
    }

private:
    // State of the one transfer running on the worker thread.
    struct Transfer
    {
        Worker *worker = nullptr;
        quint64 serial = 0;
        const HttpBody *body = nullptr;
        qint64 offset = 0; // into the whole body
        qint64 lastReportedSent = 0;
        // Inactivity is measured here rather than with libcurl's low-speed
        // check, which averages over several seconds and so fires late.
        std::chrono::steady_clock::duration inactivityLimit{};
        std::chrono::steady_clock::time_point lastActivity;
        curl_off_t lastDownloaded = 0;
        curl_off_t lastUploaded = 0;
        bool inactive = false;
        qint64 replyLimit = 0;
        qint64 replyBytes = 0; // headers and body received so far
        bool tooLarge = false;
        HttpReply reply;
        std::exception_ptr callbackError;
    };

    bool isCancelled(quint64 serial) const { return serial <= m_cancelledThrough.load(); }

    Outcome perform(const HttpRequest &request, quint64 serial);
    CURLcode run(quint64 serial, bool &cancelled);

    static size_t readBody(char *buffer, size_t size, size_t count, void *userData);
    static int seekBody(void *userData, curl_off_t offset, int origin);
    static bool admit(Transfer &transfer, size_t bytes);
    static size_t writeBody(char *data, size_t size, size_t count, void *userData);
    static size_t readHeader(char *data, size_t size, size_t count, void *userData);
    static int progress(void *userData, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);

    ProgressHandler m_progressHandler;
    CURLM *m_multi = nullptr;
    CURL *m_easy = nullptr; // kept across requests so its connections are reused
    std::atomic<quint64> m_lastSerial{0};
    std::atomic<quint64> m_cancelledThrough{0};
    QThreadPool m_pool;
};

size_t HttpSession::Worker::readBody(char *buffer, size_t size, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    const HttpBody &body = *transfer->body;
    const qint64 wanted = qint64(size * count);
    qint64 written = 0;
    while (written < wanted && transfer->offset < body.size()) {
        qint64 offset = transfer->offset;
        const qint64 room = wanted - written;
        if (offset < body.head.size()) {
            const qint64 n = std::min(room, body.head.size() - offset);
            std::memcpy(buffer + written, body.head.constData() + offset, size_t(n));
            written += n;
            transfer->offset += n;
            continue;
        }
        offset -= body.head.size();
        if (offset < body.fileLength) {
            const qint64 n = std::min(room, body.fileLength - offset);
            ssize_t got;
            do {
                got = ::pread(body.file->handle(), buffer + written, size_t(n), off_t(offset));
            } while (got < 0 && errno == EINTR);
            if (got <= 0) {
                // A file that shrank since its size was taken would leave the
                // announced Content-Length unfilled: stop instead of sending
                // a body that is not what was promised.
                const QString reason =
                    got < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                            : QStringLiteral("the file became shorter while it was being sent");
                transfer->callbackError = std::make_exception_ptr(FileError(body.file->fileName(), reason));
                return CURL_READFUNC_ABORT;
            }
            written += got;
            transfer->offset += got;
            continue;
        }
        offset -= body.fileLength;
        const qint64 n = std::min(room, body.tail.size() - offset);
        std::memcpy(buffer + written, body.tail.constData() + offset, size_t(n));
        written += n;
        transfer->offset += n;
    }
    return size_t(written);
}

// libcurl rewinds when it replays a request on a fresh connection after a
// reused one turned out to be closed.
int HttpSession::Worker::seekBody(void *userData, curl_off_t offset, int origin)
{
    auto *transfer = static_cast<Transfer *>(userData);
    if (origin != SEEK_SET || offset < 0 || offset > transfer->body->size())
        return CURL_SEEKFUNC_CANTSEEK;
    transfer->offset = offset;
    return CURL_SEEKFUNC_OK;
}

// Counts what arrives against the reply limit; past it, the transfer stops
// before another byte is kept.
bool HttpSession::Worker::admit(Transfer &transfer, size_t bytes)
{
    transfer.replyBytes += qint64(bytes);
    if (transfer.replyBytes <= transfer.replyLimit)
        return true;
    transfer.tooLarge = true;
    return false;
}

size_t HttpSession::Worker::writeBody(char *data, size_t size, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    if (!admit(*transfer, size * count))
        return 0;
    transfer->reply.body.append(data, qsizetype(size * count));
    return size * count;
}

size_t HttpSession::Worker::readHeader(char *data, size_t size, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    if (!admit(*transfer, size * count))
        return 0;
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    // Interim replies (100 Continue) bring their own status line; only the
    // headers of the last one belong to the reply.
    if (line.startsWith("HTTP/")) {
        transfer->reply.headers.clear();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        transfer->reply.headers.append(HttpHeader{line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return size * count;
}

int HttpSession::Worker::progress(void *userData, curl_off_t, curl_off_t downloaded, curl_off_t,
                                  curl_off_t uploaded)
{
    auto *transfer = static_cast<Transfer *>(userData);
    if (transfer->worker->isCancelled(transfer->serial))
        return 1;
    const auto now = std::chrono::steady_clock::now();
    if (downloaded != transfer->lastDownloaded || uploaded != transfer->lastUploaded) {
        transfer->lastDownloaded = downloaded;
        transfer->lastUploaded = uploaded;
        transfer->lastActivity = now;
    } else if (now - transfer->lastActivity >= transfer->inactivityLimit) {
        transfer->inactive = true;
        return 1;
    }
    if (transfer->body && uploaded > transfer->lastReportedSent && transfer->worker->m_progressHandler) {
        transfer->lastReportedSent = uploaded;
        try {
            transfer->worker->m_progressHandler(qint64(uploaded), transfer->body->size());
        } catch (...) {
            transfer->callbackError = std::current_exception();
            return 1;
        }
    }
    return 0;
}

CURLcode HttpSession::Worker::run(quint64 serial, bool &cancelled)
{
    libCurl().multi_add_handle(m_multi, m_easy);
    int running = 0;
    CURLMcode status = CURLM_OK;
    for (;;) {
        status = libCurl().multi_perform(m_multi, &running);
        if (status != CURLM_OK || running == 0)
            break;
        if (isCancelled(serial)) {
            cancelled = true;
            break;
        }
        // cancel() wakes this wait, so an abort never waits for the timeout;
        // the timeout bounds how late an inactive transfer is noticed.
        status = libCurl().multi_poll(m_multi, nullptr, 0, 200, nullptr);
        if (status != CURLM_OK)
            break;
        if (isCancelled(serial)) {
            cancelled = true;
            break;
        }
    }
    CURLcode result = status == CURLM_OK ? CURLE_OK : CURLE_FAILED_INIT;
    if (!cancelled && status == CURLM_OK) {
        int queued = 0;
        while (CURLMsg *message = libCurl().multi_info_read(m_multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy)
                result = message->data.result;
        }
    }
    // Removing an unfinished transfer closes its connection, which is how
    // the server learns that the request was abandoned.
    libCurl().multi_remove_handle(m_multi, m_easy);
    return result;
}

Outcome HttpSession::Worker::perform(const HttpRequest &request, quint64 serial)
{
    Outcome outcome;
    if (isCancelled(serial)) {
        outcome.error = std::make_exception_ptr(cancelledError());
        return outcome;
    }

    if (request.body && request.body->fileLength > 0 && !request.body->file) {
        outcome.error = std::make_exception_ptr(
            TransportError(TransportError::Kind::other, 0, QStringLiteral("The request body names no file")));
        return outcome;
    }

    curl_slist *headers = nullptr;
    bool hasContentType = false;
    for (const HttpHeader &header : request.headers) {
        if (!isHeaderSafe(header.name) || !isHeaderSafe(header.value) || header.name.isEmpty() ||
            header.name.contains(':')) {
            // A line break in a value would let it smuggle in headers or a
            // second request.
            libCurl().slist_free_all(headers);
            outcome.error = std::make_exception_ptr(
                TransportError(TransportError::Kind::other, 0,
                               QStringLiteral("Header %1 cannot be sent: it contains a line break or a colon")
                                   .arg(QString::fromUtf8(header.name))));
            return outcome;
        }
        hasContentType = hasContentType || header.name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        // "Name;" is libcurl's way of sending a header with an empty value.
        const QByteArray line =
            header.value.isEmpty() ? header.name + ';' : header.name + ": " + header.value;
        headers = libCurl().slist_append(headers, line.constData());
    }
    // No 100-continue round trip: the server answers after the body anyway.
    headers = libCurl().slist_append(headers, "Expect:");
    if (request.body && !hasContentType)
        headers = libCurl().slist_append(headers, "Content-Type:");

    Transfer transfer;
    transfer.worker = this;
    transfer.serial = serial;
    transfer.body = request.body ? &*request.body : nullptr;
    transfer.inactivityLimit = request.inactivityTimeout;
    transfer.replyLimit = request.replyLimit;
    transfer.lastActivity = std::chrono::steady_clock::now();

    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray url = request.url.toEncoded();
    const QByteArray method = request.method.toUpper();

    libCurl().easy_reset(m_easy);
    libCurl().easy_setopt(m_easy, CURLOPT_URL, url.constData());
    libCurl().easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    libCurl().easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 0L);
    libCurl().easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    libCurl().easy_setopt(m_easy, CURLOPT_SSL_VERIFYPEER, 1L);
    libCurl().easy_setopt(m_easy, CURLOPT_SSL_VERIFYHOST, 2L);
    libCurl().easy_setopt(m_easy, CURLOPT_ERRORBUFFER, errorText);
    libCurl().easy_setopt(m_easy, CURLOPT_HTTPHEADER, headers);
    libCurl().easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, long(request.inactivityTimeout.count()));
    libCurl().easy_setopt(m_easy, CURLOPT_TIMEOUT_MS, long(request.transferLimit.count()));
    libCurl().easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Worker::writeBody);
    libCurl().easy_setopt(m_easy, CURLOPT_WRITEDATA, &transfer);
    libCurl().easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &Worker::readHeader);
    libCurl().easy_setopt(m_easy, CURLOPT_HEADERDATA, &transfer);
    libCurl().easy_setopt(m_easy, CURLOPT_NOPROGRESS, 0L);
    libCurl().easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &Worker::progress);
    libCurl().easy_setopt(m_easy, CURLOPT_XFERINFODATA, &transfer);

    if (request.body) {
        libCurl().easy_setopt(m_easy, CURLOPT_POST, 1L);
        libCurl().easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body->size()));
        libCurl().easy_setopt(m_easy, CURLOPT_READFUNCTION, &Worker::readBody);
        libCurl().easy_setopt(m_easy, CURLOPT_READDATA, &transfer);
        libCurl().easy_setopt(m_easy, CURLOPT_SEEKFUNCTION, &Worker::seekBody);
        libCurl().easy_setopt(m_easy, CURLOPT_SEEKDATA, &transfer);
        libCurl().easy_setopt(m_easy, CURLOPT_UPLOAD_BUFFERSIZE, uploadBufferSize);
        if (method != "POST")
            libCurl().easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, method.constData());
    } else if (method == "GET") {
        libCurl().easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        libCurl().easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
        libCurl().easy_setopt(m_easy, CURLOPT_POST, 1L);
        libCurl().easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(0));
        libCurl().easy_setopt(m_easy, CURLOPT_POSTFIELDS, "");
    } else {
        libCurl().easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }

    bool cancelled = false;
    const CURLcode result = run(serial, cancelled);
    const QString host = request.url.host();
    long status = 0;
    libCurl().easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    // Nothing may keep pointing at this frame's buffers.
    libCurl().easy_setopt(m_easy, CURLOPT_ERRORBUFFER, nullptr);
    libCurl().easy_setopt(m_easy, CURLOPT_HTTPHEADER, nullptr);
    libCurl().slist_free_all(headers);

    if (transfer.callbackError) {
        outcome.error = transfer.callbackError;
    } else if (transfer.tooLarge) {
        outcome.error = std::make_exception_ptr(TransportError(
            TransportError::Kind::tooLarge, CURLE_WRITE_ERROR,
            QStringLiteral("The server's reply is larger than %1; it was not read")
                .arg(QLocale::c().formattedDataSize(request.replyLimit, 0, QLocale::DataSizeIecFormat)),
            host));
    } else if (transfer.inactive) {
        outcome.error = std::make_exception_ptr(
            TransportError(TransportError::Kind::timeout, CURLE_OPERATION_TIMEDOUT,
                           QStringLiteral("Operation timed out: no data moved for %1 ms")
                               .arg(request.inactivityTimeout.count()),
                           host));
    } else if (cancelled || (result == CURLE_ABORTED_BY_CALLBACK && isCancelled(serial))) {
        outcome.error = std::make_exception_ptr(cancelledError());
    } else if (result != CURLE_OK) {
        const QString description =
            errorText[0] ? QString::fromUtf8(errorText) : QString::fromUtf8(libCurl().easy_strerror(result));
        TransportError::Kind kind = kindOf(result);
        const QString scheme = request.url.scheme().toLower();
        // An unsupported protocol is the peer's answer only when the URL
        // itself was HTTP; otherwise the URL named another protocol.
        const bool requestedHttp = scheme == QLatin1String("http") || scheme == QLatin1String("https");
        if (kind == TransportError::Kind::cancelled ||
            (result == CURLE_UNSUPPORTED_PROTOCOL && !requestedHttp))
            kind = TransportError::Kind::other;
        long osErrno = 0;
        libCurl().easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osErrno);
        outcome.error = std::make_exception_ptr(
            TransportError(kind, int(result), description, host, reasonOf(result, osErrno, kind)));
    } else {
        transfer.reply.status = int(status);
        outcome.reply = std::move(transfer.reply);
    }
    return outcome;
}

void HttpSession::preload()
{
    libCurl();
}

HttpSession::HttpSession(ProgressHandler progressHandler)
    : m_worker(std::make_unique<Worker>(std::move(progressHandler)))
{}

HttpSession::~HttpSession() = default;

QCoro::Task<HttpReply> HttpSession::send(HttpRequest request)
{
    QFuture<Outcome> future = m_worker->submit(std::move(request));
    // The session may be gone by the time this resumes; only locals are used
    // from here on.
    Outcome outcome = co_await future;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    co_return std::move(outcome.reply);
}

void HttpSession::cancel()
{
    m_worker->cancel();
}

TransportError::Reason TransportError::usualReason(Kind kind)
{
    switch (kind) {
    case Kind::timeout:
        return Reason::timedOut;
    case Kind::tls:
        return Reason::secureConnectionFailed;
    case Kind::notHttp:
        return Reason::notHttp;
    case Kind::cancelled:
        return Reason::cancelled;
    case Kind::tooLarge:
        return Reason::tooLarge;
    case Kind::connection:
    case Kind::other:
        break;
    }
    return Reason::unreachable;
}

QString TransportError::description() const
{
    if (m_host.isEmpty())
        return LocalizationService::shared().localized("error.connection_failed");
    // In the order of Reason.
    static constexpr const char *keys[] = {
        "error.net.unreachable",
        "error.net.refused",
        "error.net.name_not_found",
        "error.net.timed_out",
        "error.net.certificate_untrusted",
        "error.net.secure_connection_failed",
        "error.net.connection_cut",
        "error.net.not_http",
        "error.net.too_large",
        "error.net.cancelled",
    };
    static_assert(std::size(keys) == std::size_t(Reason::cancelled) + 1);
    return localizedFormat(keys[int(m_reason)], m_host);
}

} // namespace sendova
