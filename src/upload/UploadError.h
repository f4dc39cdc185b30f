#pragma once

#include "support/Error.h"

#include <concepts>
#include <memory>

namespace sendova {

// The upload client's own failures. Transport, file and decoding failures
// are not wrapped in it; they reach the caller as they are.
class UploadError : public Error
{
public:
    enum class Case { serverError, networkError, invalidURL, invalidResponse };

    // serverMessage is the server's own explanation, when it gave one; the
    // description does not show it (callers that want it ask for it).
    static UploadError serverError(int statusCode, QString serverMessage = QString());
    // For callers that want a transport failure shown as a network error.
    template<std::derived_from<Error> Underlying>
    static UploadError networkError(Underlying underlying)
    {
        return UploadError(std::make_shared<const Underlying>(std::move(underlying)));
    }
    static UploadError invalidURL();
    static UploadError invalidResponse();

    Case errorCase() const { return m_case; }
    // Meaningful for serverError only.
    int statusCode() const { return m_statusCode; }
    QString serverMessage() const { return m_serverMessage; }
    // Set for networkError only.
    const Error *underlying() const { return m_underlying.get(); }

    // Looked up now, in the current language.
    QString description() const override;

private:
    UploadError(Case errorCase, int statusCode, QString serverMessage = QString());
    explicit UploadError(std::shared_ptr<const Error> underlying);

    Case m_case;
    int m_statusCode = 0;
    QString m_serverMessage;
    std::shared_ptr<const Error> m_underlying;
};

} // namespace sendova
