#pragma once

#include "net/HttpSession.h"
#include "upload/CheckResult.h"
#include "upload/UploadResult.h"

#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace sendova {

// Receives the session's body-progress notices and hands the totals on.
class UploadSessionDelegate
{
public:
    using ProgressHandler = std::function<void(qint64 totalBytesSent, qint64 totalBytesExpected)>;

    // Called on the session's worker thread.
    void didSendBodyData(qint64 bytesSent, qint64 totalBytesSent, qint64 totalBytesExpected) const;

    std::optional<ProgressHandler> progressHandler;
};

struct UploadSessionLimits
{
    // A request fails when nothing moves for this long.
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(60)};
    // Upper bound of a transfer that keeps moving.
    std::chrono::milliseconds transferLimit{std::chrono::seconds(3600)};
};

// The client for one request to the server: the upload itself or the
// duplicate check. Made for a request and dropped after it.
class UploadService
{
public:
    using ProgressHandler = UploadSessionDelegate::ProgressHandler;

    using Limits = UploadSessionLimits;

    // The handler is called on the session's worker thread with the totals
    // of the whole request body, multipart framing included.
    explicit UploadService(ProgressHandler progressHandler, Limits limits = {});

    UploadService(const UploadService &) = delete;
    UploadService &operator=(const UploadService &) = delete;

    // Throws UploadError, FileError (file unreadable), TransportError or
    // DecodingError. fileHash is the "sha256:…" text when known.
    QCoro::Task<UploadResult> upload(QUrl fileUrl, QString serverUrl, QString apiKey,
                                     std::optional<QString> fileHash);

    // Throws UploadError, TransportError or DecodingError.
    QCoro::Task<CheckResult> checkDuplicate(QString serverUrl, QString apiKey, QString fileHash);

    // Aborts the request in flight; it then fails with a TransportError whose
    // isCancellation() is true. Safe from any thread.
    void cancel();

private:
    std::unique_ptr<HttpSession> m_session;
    ProgressHandler m_progressHandler;
    Limits m_limits;
};

} // namespace sendova
