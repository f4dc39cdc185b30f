#include "config/LoginService.h"

#include "support/LocalizationService.h"
#include "support/ShownText.h"
#include "support/StrictJson.h"

#include <QUrl>

namespace sendova {

LoginError::LoginError(Kind kind, int statusCode, QString technical)
    : Error(std::move(technical)), m_kind(kind), m_statusCode(statusCode)
{}

LoginError LoginError::serverError(int statusCode)
{
    return LoginError(
        Kind::serverError, statusCode,
        QStringLiteral("Server replied with status %1 and a body that is not a reply").arg(statusCode));
}

LoginError LoginError::invalidURL(const QString &url)
{
    return LoginError(Kind::invalidURL, 0, QLatin1String("Not a usable URL: ") + url);
}

LoginError LoginError::invalidResponse(const QString &detail)
{
    return LoginError(Kind::invalidResponse, 0, QLatin1String("Not an HTTP reply: ") + detail);
}

LoginError LoginError::invalidToken()
{
    return LoginError(Kind::invalidToken, 0, QStringLiteral("Invalid setup token"));
}

LoginError LoginError::connectionFailed()
{
    return LoginError(Kind::connectionFailed, 0, QStringLiteral("Connection failed"));
}

LoginError LoginError::invalidCredentials()
{
    return LoginError(Kind::invalidCredentials, 0, QStringLiteral("Invalid credentials"));
}

QString LoginError::description() const
{
    switch (m_kind) {
    case Kind::serverError:
        return localizedFormat("error.server_error", m_statusCode);
    case Kind::invalidURL:
        return LocalizationService::shared().localized("error.invalid_url");
    case Kind::invalidResponse:
        return LocalizationService::shared().localized("error.invalid_response");
    case Kind::invalidToken:
        return LocalizationService::shared().localized("error.token_invalid");
    case Kind::connectionFailed:
        return LocalizationService::shared().localized("error.connection_failed");
    case Kind::invalidCredentials:
        break;
    }
    return LocalizationService::shared().localized("error.invalid_credentials");
}

QByteArray LoginRequest::encode() const
{
    json::OrderedJson object = json::OrderedJson::object();
    object["userName"] = json::toUtf8(userName);
    object["password"] = json::toUtf8(password);
    object["reuseExisting"] = reuseExisting;
    return QByteArray::fromStdString(object.dump());
}

QByteArray ExchangeTokenRequest::encode() const
{
    json::OrderedJson object = json::OrderedJson::object();
    object["token"] = json::toUtf8(token);
    object["machineName"] = json::toUtf8(machineName);
    return QByteArray::fromStdString(object.dump());
}

namespace {

template<typename Info>
std::optional<Info> decodeErrorInfo(const json::Json &object)
{
    const json::Json *error = json::optionalObject(object, "error", QString());
    if (!error)
        return std::nullopt;
    const QString path = QStringLiteral("error");
    return Info{json::requiredString(*error, "code", path),
                shownText(json::requiredString(*error, "message", path))};
}

} // namespace

LoginResponse LoginResponse::decode(const QByteArray &body)
{
    const json::Json object = json::parseObject(body);
    LoginResponse response;
    response.success = json::requiredBool(object, "success", QString());
    if (const json::Json *data = json::optionalObject(object, "data", QString())) {
        const QString path = QStringLiteral("data");
        response.data = LoginData{json::optionalString(*data, "serverUrl", path),
                                  json::optionalString(*data, "apiKey", path),
                                  json::optionalShownText(*data, "tenantName", path),
                                  json::optionalShownText(*data, "userName", path)};
    }
    response.error = decodeErrorInfo<LoginErrorInfo>(object);
    return response;
}

ExchangeTokenResponse ExchangeTokenResponse::decode(const QByteArray &body)
{
    const json::Json object = json::parseObject(body);
    const QString top;
    ExchangeTokenResponse response;
    response.success = json::requiredBool(object, "success", top);
    response.apiKey = json::optionalString(object, "apiKey", top);
    response.serverUrl = json::optionalString(object, "serverUrl", top);
    response.tenantName = json::optionalShownText(object, "tenantName", top);
    response.userName = json::optionalShownText(object, "userName", top);
    response.error = decodeErrorInfo<ErrorInfo>(object);
    return response;
}

namespace {

// Below 400 the body must be the reply record. From 400 on, a body that is
// one is still returned (the server explains a refusal in it); anything else
// becomes serverError.
template<typename Response>
Response decodeReply(const HttpReply &reply)
{
    if (reply.status < 400)
        return Response::decode(reply.body);
    try {
        return Response::decode(reply.body);
    } catch (const DecodingError &) {
        throw LoginError::serverError(reply.status);
    }
}

} // namespace

LoginService &LoginService::shared()
{
    static LoginService *const instance = new LoginService;
    return *instance;
}

LoginService::LoginService() = default;

HttpRequest LoginService::makeRequest(const QString &serverUrl, const char *path)
{
    const QString text = serverUrl + QString::fromLatin1(path);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        throw LoginError::invalidURL(text);
    // Before the scheme: "localhost:8080" parses as the scheme "localhost"
    // with no host, and is a server address missing its scheme.
    if (url.host().isEmpty())
        throw LoginError::invalidURL(text);
    const QString scheme = url.scheme().toLower();
    // A URL of another kind parses, but nothing it leads to answers in HTTP.
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        throw LoginError::invalidResponse(text);

    HttpRequest request;
    request.url = url;
    request.inactivityTimeout = inactivityTimeout;
    request.transferLimit = requestTimeout;
    return request;
}

QCoro::Task<HttpReply> LoginService::send(HttpRequest request)
{
    const QString url = request.url.toString();
    HttpSession session;
    {
        std::lock_guard guard(m_lock);
        m_running.insert(&session);
    }
    std::exception_ptr failure;
    HttpReply reply;
    try {
        // Named before it is awaited: GCC 12 destroys the argument
        // temporaries of a co_await expression twice.
        auto pending = session.send(std::move(request));
        reply = co_await std::move(pending);
    } catch (...) {
        failure = std::current_exception();
    }
    {
        std::lock_guard guard(m_lock);
        m_running.erase(&session);
    }
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const TransportError &error) {
            if (error.kind() != TransportError::Kind::notHttp)
                throw;
            throw LoginError::invalidResponse(url + QLatin1String(": ") + error.technicalText());
        }
    }
    if (reply.status < 100)
        throw LoginError::invalidResponse(url + QLatin1String(": no status line"));
    co_return reply;
}

void LoginService::cancel()
{
    std::lock_guard guard(m_lock);
    for (HttpSession *session : m_running)
        session->cancel();
}

QCoro::Task<HttpReply> LoginService::post(QString serverUrl, const char *path, QByteArray body)
{
    HttpRequest request = makeRequest(serverUrl, path);
    request.method = "POST";
    request.headers = {HttpHeader{"Content-Type", "application/json"}};
    request.body = HttpBody{std::move(body), nullptr, 0, {}};
    auto pending = send(std::move(request));
    co_return co_await std::move(pending);
}

QCoro::Task<LoginResponse> LoginService::login(QString serverUrl, QString userName, QString password)
{
    const QByteArray body = LoginRequest{std::move(userName), std::move(password), false}.encode();
    auto pending = post(std::move(serverUrl), "/api/auth/login", body);
    const HttpReply reply = co_await std::move(pending);
    co_return decodeReply<LoginResponse>(reply);
}

QCoro::Task<ExchangeTokenResponse> LoginService::exchangeSetupToken(QString serverUrl, QString token,
                                                                    QString machineName)
{
    const QByteArray body = ExchangeTokenRequest{std::move(token), std::move(machineName)}.encode();
    auto pending = post(std::move(serverUrl), "/api/exchange-setup-token", body);
    const HttpReply reply = co_await std::move(pending);
    co_return decodeReply<ExchangeTokenResponse>(reply);
}

QCoro::Task<StatusReply> LoginService::status(QString serverUrl, QString apiKey)
{
    HttpRequest request = makeRequest(serverUrl, "/api/status");
    request.headers = {HttpHeader{"X-API-Key", apiKey.toUtf8()}};
    auto pending = send(std::move(request));
    const HttpReply reply = co_await std::move(pending);
    StatusReply status;
    status.statusCode = reply.status;
    if (reply.status == 200)
        status.readBody(reply.body);
    else
        status.serverMessage = json::refusalMessage(reply.body);
    co_return status;
}

void StatusReply::readBody(const QByteArray &body)
{
    try {
        const json::Json document = json::parseObject(body);
        recognized = json::requiredBool(document, "success", QString());
        if (const json::Json *data = json::optionalObject(document, "data", QString())) {
            userName = json::optionalString(*data, "userName", QStringLiteral("data"));
            tenantName = json::optionalString(*data, "tenantName", QStringLiteral("data"));
            // Older servers say nothing of it; a limit that is no count is no limit.
            const auto limit = data->find("maxUploadSize");
            if (limit != data->end() && limit->is_number_unsigned())
                maxUploadSize = limit->get<qint64>();
        }
    } catch (const DecodingError &) {
        recognized = false;
    }
}

QCoro::Task<bool> LoginService::testConnection(QString serverUrl, QString apiKey)
{
    auto pending = status(std::move(serverUrl), std::move(apiKey));
    const StatusReply reply = co_await std::move(pending);
    co_return reply.accepted();
}

} // namespace sendova
