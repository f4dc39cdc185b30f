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

    static UploadError serverError(int statusCode);
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
    // Set for networkError only.
    const Error *underlying() const { return m_underlying.get(); }

    // Looked up now, in the current language.
    QString description() const override;

private:
    UploadError(Case errorCase, int statusCode);
    explicit UploadError(std::shared_ptr<const Error> underlying);

    Case m_case;
    int m_statusCode = 0;
    std::shared_ptr<const Error> m_underlying;
};

} // namespace sendova
