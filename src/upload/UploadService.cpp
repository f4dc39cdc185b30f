#include "upload/UploadService.h"

#include "platform/MachineName.h"
#include "support/LogService.h"
#include "support/ShownText.h"
#include "support/StrictJson.h"
#include "upload/MultipartBody.h"
#include "upload/UploadError.h"

#include <QStringDecoder>

namespace sendova {

namespace {

void log(const char *level, const char *category, const QString &message)
{
    LogService::shared().log(QString::fromLatin1(level), QString::fromLatin1(category), message);
}

// Only an absolute http(s) URL with a host can be requested; anything else
// is reported as an unusable server address before any work is done.
std::optional<QUrl> parseRequestUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}

QString bodyText(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return QStringLiteral("<non-utf8>");
    return text;
}

// What the server said about its refusal: its error object's message, or a
// short plain-text body (what a proxy in front of it may send).
QString refusalText(const HttpReply &reply, const QString &text)
{
    if (std::optional<QString> message = json::refusalMessage(reply.body))
        return *message;
    const QByteArray type = reply.header("Content-Type").value_or(QByteArray()).trimmed().toLower();
    if (type.startsWith("text/plain") && text.size() <= 200)
        return shownText(text).trimmed();
    return QString();
}

// Status, body and decoding, the same for both requests.
template<typename Record>
Record handleReply(const HttpReply &reply)
{
    const QString text = bodyText(reply.body);
    log("INFO", "HTTP", QStringLiteral("Response: %1").arg(reply.status));
    log("DEBUG", "HTTP", QStringLiteral("Body: ") + text);
    if (reply.status >= 400) {
        log("ERROR", "HTTP", QStringLiteral("Server error %1: ").arg(reply.status) + text);
        throw UploadError::serverError(reply.status, refusalText(reply, text));
    }
    try {
        return Record::decode(reply.body);
    } catch (const DecodingError &error) {
        log("ERROR", "JSON", QStringLiteral("Decode error: ") + error.description());
        log("ERROR", "JSON", QStringLiteral("Raw response: ") + text);
        throw;
    }
}

// The session's failure for an answer that is not HTTP becomes the client's
// own invalidResponse; every other transport failure passes unchanged.
QCoro::Task<HttpReply> sendExpectingHttp(HttpSession &session, HttpRequest request)
{
    try {
        // Named before it is awaited: GCC 12 destroys the argument temporaries of
        // a co_await expression twice.
        auto pending = session.send(std::move(request));
        HttpReply reply = co_await std::move(pending);
        if (reply.status < 100)
            throw TransportError(TransportError::Kind::notHttp, 0, QStringLiteral("No HTTP status line"));
        co_return reply;
    } catch (const TransportError &error) {
        if (error.kind() != TransportError::Kind::notHttp)
            throw;
    }
    log("ERROR", "HTTP", QStringLiteral("Invalid response (not HTTPURLResponse)"));
    throw UploadError::invalidResponse();
}

} // namespace

void UploadSessionDelegate::didSendBodyData(qint64, qint64 totalBytesSent, qint64 totalBytesExpected) const
{
    if (progressHandler && *progressHandler)
        (*progressHandler)(totalBytesSent, totalBytesExpected);
}

UploadService::UploadService(ProgressHandler progressHandler, Limits limits)
    : m_progressHandler(std::move(progressHandler)), m_limits(limits)
{
    auto delegate = std::make_shared<UploadSessionDelegate>();
    // Only the worker thread calls this, one notice at a time, so the
    // previous total needs no lock.
    m_session =
        std::make_unique<HttpSession>([delegate, previous = qint64(0)](qint64 sent, qint64 expected) mutable {
            delegate->didSendBodyData(sent - previous, sent, expected);
            previous = sent;
        });
    delegate->progressHandler = m_progressHandler;
}

QCoro::Task<UploadResult> UploadService::upload(QUrl fileUrl, QString serverUrl, QString apiKey,
                                                std::optional<QString> fileHash)
{
    const QString urlText = serverUrl + QStringLiteral("/api/upload");
    const std::optional<QUrl> url = parseRequestUrl(urlText);
    if (!url)
        throw UploadError::invalidURL();

    const QString boundary = MultipartBody::newBoundary();
    HttpRequest request;
    request.method = "POST";
    request.url = *url;
    request.inactivityTimeout = m_limits.requestTimeout;
    request.transferLimit = m_limits.transferLimit;
    request.headers.append({"X-API-Key", apiKey.toUtf8()});
    if (fileHash)
        request.headers.append({"X-File-Hash", fileHash->toUtf8()});
    request.headers.append({"X-Source-Machine", machineName().toUtf8()});
    request.headers.append({"Content-Type", "multipart/form-data; boundary=" + boundary.toUtf8()});

    // Opening the file here makes an unreadable one fail before anything is
    // sent; its bytes are streamed as the transfer asks for them.
    request.body = MultipartBody::forFile(fileUrl, boundary);

    log("INFO", "HTTP", QStringLiteral("POST ") + urlText);
    auto pending = sendExpectingHttp(*m_session, std::move(request));
    const HttpReply reply = co_await std::move(pending);
    // The service may already be gone here: nothing of it is used below.
    co_return handleReply<UploadResult>(reply);
}

QCoro::Task<CheckResult> UploadService::checkDuplicate(QString serverUrl, QString apiKey, QString fileHash)
{
    log("DEBUG", "API",
        QStringLiteral("Checking duplicate for hash prefix: ") + fileHash.left(20) + QStringLiteral("..."));
    const QString urlText = serverUrl + QStringLiteral("/api/check/") + fileHash;
    const std::optional<QUrl> url = parseRequestUrl(urlText);
    if (!url)
        throw UploadError::invalidURL();
    log("INFO", "HTTP", QStringLiteral("GET ") + urlText);

    HttpRequest request;
    request.method = "GET";
    request.url = *url;
    request.inactivityTimeout = m_limits.requestTimeout;
    request.transferLimit = m_limits.transferLimit;
    request.headers.append({"X-API-Key", apiKey.toUtf8()});
    auto pending = sendExpectingHttp(*m_session, std::move(request));
    const HttpReply reply = co_await std::move(pending);
    co_return handleReply<CheckResult>(reply);
}

void UploadService::cancel()
{
    m_session->cancel();
}

} // namespace sendova
