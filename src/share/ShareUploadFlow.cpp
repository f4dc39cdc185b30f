// The share program's own conversation with the server. It differs from the
// tray program's on purpose: the check path carries the bare hex digest, the
// replies are read with the share program's own records, and the HTTP status
// is never looked at. The wire itself (session, streamed body, file-name
// escaping) is the tray program's.

#include "share/ShareViewModel.h"

#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "net/HttpSession.h"
#include "platform/MachineName.h"
#include "support/LocalizationService.h"
#include "support/ShownText.h"
#include "support/StrictJson.h"
#include "upload/HashService.h"
#include "upload/MultipartBody.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>

#include <cstdio>

namespace sendova {

namespace {

// A failure of the share flow's own, with a fixed text.
class ShareError : public Error
{
public:
    ShareError(QString domain, int code, QString text)
        : Error(QStringLiteral("%1 %2: %3").arg(domain, QString::number(code), text)), m_text(std::move(text))
    {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};

std::optional<QUrl> requestUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}

QString describe(const std::exception &failure)
{
    // The decoder's words ("Data.Url: required member is missing") mean
    // nothing to the user; they go where a developer looks, the window says
    // what happened.
    if (const auto *decoding = dynamic_cast<const DecodingError *>(&failure)) {
        std::fprintf(stderr, "sendova-share: the server's reply could not be read: %s\n", decoding->what());
        return LocalizationService::shared().localized("error.invalid_response");
    }
    if (const auto *error = dynamic_cast<const Error *>(&failure))
        return error->description();
    return QString::fromLocal8Bit(failure.what());
}

// A transfer that keeps moving is only stopped after a week; going quiet for
// a minute (the request's inactivity limit) ends it much sooner.
constexpr std::chrono::seconds generousTransferLimit{7 * 24 * 3600};

} // namespace

std::optional<ShareAppConfig> ShareViewModel::loadShareConfig()
{
    QFile file(ConfigService::shared().configURL());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;

    ShareAppConfig config;
    try {
        config = ShareAppConfig::decode(bytes);
    } catch (const Error &) {
        return std::nullopt;
    }
    // The same account as the other programs: a key in the file was written
    // after any in the keychain (every store there empties the file's).
    if (!config.apiKey.isEmpty())
        return config;
    if (const std::optional<QString> key = KeychainService::shared().loadAPIKey())
        config.apiKey = *key;
    return config;
}

QCoro::Task<> ShareViewModel::uploadFile(QUrl fileUrl)
{
    const QPointer<ShareViewModel> self(this);
    setFileName(shownText(fileUrl.fileName()));
    setState(ShareState::loading());

    const std::optional<ShareAppConfig> config = loadShareConfig();
    if (!config || config->apiKey.isEmpty()) {
        setState(ShareState::error(notConfiguredText()));
        co_return;
    }

    setState(ShareState::hashing());
    QString hash;
    std::optional<QString> failure;
    try {
        // Named before it is awaited: GCC 12 destroys the argument temporaries of
        // a co_await expression twice.
        auto pending = calculateHash(fileUrl);
        hash = co_await std::move(pending);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
        co_return;
    if (failure) {
        setState(ShareState::error(*failure));
        co_return;
    }

    if (config->checkForDuplicates) {
        std::optional<QString> link;
        try {
            auto pending = checkDuplicate(hash, config->serverUrl, config->apiKey);
            link = co_await std::move(pending);
        } catch (const std::exception &error) {
            failure = describe(error);
        }
        if (!self)
            co_return;
        if (failure) {
            setState(ShareState::error(*failure));
            co_return;
        }
        if (link) {
            m_resultURL = *link;
            // A stored copy's link is copied whatever the setting says.
            putOnClipboard(*link);
            setState(ShareState::success(*link));
            co_return;
        }
    }

    setState(ShareState::uploading());
    ShareUploadResult result;
    try {
        auto pending = performUpload(fileUrl, hash, config->serverUrl, config->apiKey);
        result = co_await std::move(pending);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
        co_return;
    if (failure) {
        setState(ShareState::error(*failure));
        co_return;
    }

    if (result.success && result.data) {
        m_resultURL = result.data->url;
        if (config->autoCopyToClipboard)
            putOnClipboard(result.data->url);
        setState(ShareState::success(result.data->url));
    } else {
        setState(ShareState::error(result.error ? result.error->message : unknownErrorText()));
    }
}

QCoro::Task<QString> ShareViewModel::calculateHash(QUrl fileUrl)
{
    const QPointer<ShareViewModel> self(this);
    // Runs on the hashing thread: only hand the fraction over.
    auto progress = [self](double fraction) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, fraction] {
                if (self)
                    self->setHashProgress(fraction);
            },
            Qt::QueuedConnection);
    };
    auto pending = HashService::shared().hashFile(fileUrl, progress);
    co_return co_await std::move(pending);
}

QCoro::Task<std::optional<QString>> ShareViewModel::checkDuplicate(QString hash, QString serverUrl,
                                                                   QString apiKey)
{
    const std::optional<QUrl> url = requestUrl(serverUrl + QStringLiteral("/api/check/") +
                                               QString(hash).remove(QStringLiteral("sha256:")));
    if (!url)
        co_return std::nullopt;

    HttpRequest request;
    request.method = "GET";
    request.url = *url;
    request.headers.append({"X-API-Key", apiKey.toUtf8()});

    HttpSession session;
    auto pending = session.send(std::move(request));
    const HttpReply reply = co_await std::move(pending);
    const CheckResponse response = CheckResponse::decode(reply.body);
    if (response.data && response.data->exists)
        co_return response.data->url;
    co_return std::nullopt;
}

QCoro::Task<ShareUploadResult> ShareViewModel::performUpload(QUrl fileUrl, QString hash, QString serverUrl,
                                                             QString apiKey)
{
    const std::optional<QUrl> url = requestUrl(serverUrl + QStringLiteral("/api/upload"));
    if (!url)
        throw ShareError(QStringLiteral("ShareExtension"), -1, invalidURLText());

    const QString boundary = MultipartBody::newBoundary();
    HttpRequest request;
    request.method = "POST";
    request.url = *url;
    request.transferLimit = generousTransferLimit;
    request.headers.append({"X-API-Key", apiKey.toUtf8()});
    request.headers.append({"X-File-Hash", hash.toUtf8()});
    request.headers.append({"X-Source-Machine", machineName().toUtf8()});
    request.headers.append({"Content-Type", "multipart/form-data; boundary=" + boundary.toUtf8()});
    // Streamed from the file: the same bytes as one buffer would hold, in
    // constant memory whatever the file's size.
    request.body = MultipartBody::forFile(fileUrl, boundary);

    const QPointer<ShareViewModel> self(this);
    m_speedMeter.start(m_clock());
    // Runs on the session's worker thread: only hand the totals over.
    HttpSession session([self](qint64 sent, qint64 expected) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, sent, expected] {
                if (self)
                    self->recordBodySent(sent, expected);
            },
            Qt::QueuedConnection);
    });
    auto pending = session.send(std::move(request));
    const HttpReply reply = co_await std::move(pending);
    co_return ShareUploadResult::decode(reply.body);
}

} // namespace sendova
