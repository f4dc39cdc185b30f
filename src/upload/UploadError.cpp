#include "upload/UploadError.h"

#include "support/LocalizationService.h"

namespace sendova {

namespace {

QString technicalName(UploadError::Case errorCase, int statusCode, const QString &serverMessage)
{
    switch (errorCase) {
    case UploadError::Case::serverError:
        return QStringLiteral("serverError(%1)").arg(statusCode) +
               (serverMessage.isEmpty() ? QString() : QLatin1String(": ") + serverMessage);
    case UploadError::Case::networkError:
        return QStringLiteral("networkError");
    case UploadError::Case::invalidURL:
        return QStringLiteral("invalidURL");
    case UploadError::Case::invalidResponse:
        return QStringLiteral("invalidResponse");
    }
    return {};
}

} // namespace

UploadError::UploadError(Case errorCase, int statusCode, QString serverMessage)
    : Error(technicalName(errorCase, statusCode, serverMessage)), m_case(errorCase), m_statusCode(statusCode),
      m_serverMessage(std::move(serverMessage))
{}

UploadError::UploadError(std::shared_ptr<const Error> underlying)
    : Error(QStringLiteral("networkError(%1)").arg(underlying->technicalText())), m_case(Case::networkError),
      m_underlying(std::move(underlying))
{}

UploadError UploadError::serverError(int statusCode, QString serverMessage)
{
    return UploadError(Case::serverError, statusCode, std::move(serverMessage));
}

UploadError UploadError::invalidURL()
{
    return UploadError(Case::invalidURL, 0);
}

UploadError UploadError::invalidResponse()
{
    return UploadError(Case::invalidResponse, 0);
}

QString UploadError::description() const
{
    switch (m_case) {
    case Case::serverError:
        // No status to show: the server answered fine and said no.
        if (m_statusCode == 0)
            return LocalizationService::shared().localized("error.server_refused");
        return localizedFormat("error.server_error", m_statusCode);
    case Case::networkError:
        return localizedFormat("error.network_error", m_underlying->description());
    case Case::invalidURL:
        return LocalizationService::shared().localized("error.invalid_url");
    case Case::invalidResponse:
        return LocalizationService::shared().localized("error.invalid_response");
    }
    return technicalText();
}

} // namespace sendova
