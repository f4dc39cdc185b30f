#pragma once

#include "net/HttpSession.h"
#include "support/Error.h"

#include <QByteArray>
#include <QString>

#include <QCoroTask>

#include <mutex>
#include <optional>
#include <set>

namespace sendova {

// Failures of the login service itself. Only serverError, invalidURL and
// invalidResponse are raised here; the other cases exist for the texts the
// setup screens show.
class LoginError : public Error
{
public:
    enum class Kind {
        serverError,
        invalidURL,
        invalidResponse,
        invalidToken,
        connectionFailed,
        invalidCredentials
    };

    static LoginError serverError(int statusCode);
    static LoginError invalidURL(const QString &url);
    static LoginError invalidResponse(const QString &detail);
    static LoginError invalidToken();
    static LoginError connectionFailed();
    static LoginError invalidCredentials();

    Kind kind() const { return m_kind; }
    // The HTTP status for serverError, 0 otherwise.
    int statusCode() const { return m_statusCode; }

    // Looked up in the language current when asked.
    QString description() const override;

private:
    LoginError(Kind kind, int statusCode, QString technical);

    Kind m_kind;
    int m_statusCode;
};

struct LoginRequest
{
    QString userName;
    QString password;
    bool reuseExisting = false;

    // Compact JSON.
    QByteArray encode() const;
};

struct LoginData
{
    std::optional<QString> serverUrl;
    std::optional<QString> apiKey;
    std::optional<QString> tenantName;
    std::optional<QString> userName;

    bool operator==(const LoginData &) const = default;
};

struct LoginErrorInfo
{
    QString code;
    QString message;

    bool operator==(const LoginErrorInfo &) const = default;
};

struct LoginResponse
{
    bool success = false;
    std::optional<LoginData> data;
    std::optional<LoginErrorInfo> error;

    bool operator==(const LoginResponse &) const = default;

    // Throws DecodingError.
    static LoginResponse decode(const QByteArray &body);
};

struct ExchangeTokenRequest
{
    QString token;
    QString machineName;

    // Compact JSON.
    QByteArray encode() const;
};

struct ErrorInfo
{
    QString code;
    QString message;

    bool operator==(const ErrorInfo &) const = default;
};

// The values lie at the top level of this reply, not under "data".
struct ExchangeTokenResponse
{
    bool success = false;
    std::optional<QString> apiKey;
    std::optional<QString> serverUrl;
    std::optional<QString> tenantName;
    std::optional<QString> userName;
    std::optional<ErrorInfo> error;

    bool operator==(const ExchangeTokenResponse &) const = default;

    // Throws DecodingError.
    static ExchangeTokenResponse decode(const QByteArray &body);
};

// The server's answer to a connection test.
struct StatusReply
{
    int statusCode = 0;
    // The server's own explanation of a refusal, when its body carries one.
    std::optional<QString> serverMessage;
    // A 200 whose body is a Sendova status reply ({"success": true, …}), and
    // the account it names, when it does; any other 200 (a web page, a
    // captive portal) is not a Sendova server.
    bool recognized = false;
    std::optional<QString> userName;
    std::optional<QString> tenantName;
    // The largest file the server takes, in bytes, when it says.
    std::optional<qint64> maxUploadSize;

    // Reads a 200 reply's body into recognized, the names and the limit.
    void readBody(const QByteArray &body);

    // The key works: the only answer testConnection counts as success.
    bool accepted() const { return statusCode == 200; }
    // The server refused this key; any other status says something about
    // the server, not the key.
    bool keyRefused() const { return statusCode == 401 || statusCode == 403; }
};

// Obtains and checks API keys. It only sends and decodes: what a reply means
// (success, the server's error code) is for the caller to judge, and nothing
// is stored or logged here, since requests and replies carry passwords and
// keys.
//
// Each operation may throw LoginError, TransportError (unchanged from the
// HTTP session) or DecodingError. Each runs as a transfer of its own, so a
// connection test never waits behind a slow login.
class LoginService
{
public:
    // No byte moving for this long fails a request...
    static constexpr std::chrono::seconds inactivityTimeout{30};
    // ...and no request may take longer than this in all.
    static constexpr std::chrono::seconds requestTimeout{60};

    static LoginService &shared();

    LoginService();
    LoginService(const LoginService &) = delete;
    LoginService &operator=(const LoginService &) = delete;

    // The server URL is used as given: "https://host/" yields "//api/…".
    QCoro::Task<LoginResponse> login(QString serverUrl, QString userName, QString password);
    QCoro::Task<ExchangeTokenResponse> exchangeSetupToken(QString serverUrl, QString token,
                                                          QString machineName);
    // True for status 200 only; the body is not looked at.
    QCoro::Task<bool> testConnection(QString serverUrl, QString apiKey);
    // The same request, with what the server answered.
    QCoro::Task<StatusReply> status(QString serverUrl, QString apiKey);

    // Aborts every operation in flight; each fails with a TransportError
    // whose isCancellation() is true. Thread-safe (a signal handler's
    // relay may call it).
    void cancel();

private:
    // Throws LoginError for a URL that cannot carry an HTTP request.
    static HttpRequest makeRequest(const QString &serverUrl, const char *path);
    // Throws LoginError::invalidResponse for an answer that is not HTTP.
    QCoro::Task<HttpReply> send(HttpRequest request);
    QCoro::Task<HttpReply> post(QString serverUrl, const char *path, QByteArray body);

    std::mutex m_lock;
    std::set<HttpSession *> m_running;
};

} // namespace sendova
