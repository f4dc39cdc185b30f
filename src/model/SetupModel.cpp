#include "model/SetupModel.h"

#include "config/KeychainService.h"
#include "model/AppViewModel.h"
#include "model/LoginFailure.h"
#include "platform/DesktopNotifications.h"
#include "platform/MachineName.h"
#include "support/LocalizationService.h"

#include <QPointer>

#include <cstdio>

namespace sendova {

namespace {

// What the sheet says about a refused login: the server's code picks a text
// of ours where we have one, otherwise its own message stands.
QString refusalText(const std::optional<LoginErrorInfo> &error)
{
    const LocalizationService &texts = LocalizationService::shared();
    if (!error)
        return texts.localized("error.connection_failed");
    if (error->code == QLatin1String("INVALID_CREDENTIALS"))
        return texts.localized("error.invalid_credentials");
    if (error->code == QLatin1String("TENANT_INACTIVE"))
        return texts.localized("error.tenant_inactive");
    return error->message;
}

SetupOutcome failedOutcome(QString message)
{
    return SetupOutcome{false, QStringLiteral("Error"), std::move(message)};
}

} // namespace

SetupModel::SetupModel(AppViewModel &app, LoginService &loginService, QObject *parent)
    : QObject(parent), m_app(app), m_loginService(loginService),
      m_serverUrl(QString::fromLatin1(AppConfig::defaultServerUrl))
{}

SetupModel::Derived SetupModel::derived() const
{
    return Derived{effectiveServerUrl(), isButtonDisabled()};
}

void SetupModel::announce(const Derived &before)
{
    const Derived now = derived();
    if (now.effectiveServerUrl != before.effectiveServerUrl)
        Q_EMIT effectiveServerUrlChanged();
    if (now.isButtonDisabled != before.isButtonDisabled)
        Q_EMIT isButtonDisabledChanged();
}

QString SetupModel::effectiveServerUrl() const
{
    return AppConfig::hasServerOverride() ? AppConfig::defaults().serverUrl()
                                          : AppConfig::trimmedServerUrl(m_serverUrl);
}

bool SetupModel::isButtonDisabled() const
{
    if (isLoading())
        return true;
    if (m_setupMode == SetupMode::apiKey)
        return m_apiKey.isEmpty();
    return m_username.isEmpty() || m_password.isEmpty();
}

template<typename T>
void SetupModel::assign(T &field, const T &value, void (SetupModel::*changed)())
{
    if (value == field)
        return;
    const Derived before = derived();
    field = value;
    Q_EMIT(this->*changed)();
    announce(before);
}

void SetupModel::setSetupMode(SetupMode mode)
{
    if (mode == m_setupMode)
        return;
    assign(m_setupMode, mode, &SetupModel::setupModeChanged);
    setErrorMessage(std::nullopt);
}

void SetupModel::setServerUrl(const QString &serverUrl)
{
    assign(m_serverUrl, serverUrl, &SetupModel::serverUrlChanged);
}

void SetupModel::setUsername(const QString &username)
{
    assign(m_username, username, &SetupModel::usernameChanged);
}

void SetupModel::setPassword(const QString &password)
{
    assign(m_password, password, &SetupModel::passwordChanged);
}

void SetupModel::setApiKey(const QString &apiKey)
{
    assign(m_apiKey, apiKey, &SetupModel::apiKeyChanged);
}

void SetupModel::setShowServerField(bool show)
{
    if (show == m_showServerField)
        return;
    m_showServerField = show;
    Q_EMIT showServerFieldChanged();
}

void SetupModel::setErrorMessage(const std::optional<QString> &message, const QString &detail)
{
    m_errorDetail = detail;
    if (message == m_errorMessage)
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void SetupModel::beginLoading()
{
    const Derived before = derived();
    if (m_running++ == 0)
        Q_EMIT isLoadingChanged();
    announce(before);
}

void SetupModel::endLoading()
{
    const Derived before = derived();
    if (--m_running == 0)
        Q_EMIT isLoadingChanged();
    announce(before);
}

bool SetupModel::fail(const QString &message, const QString &detail)
{
    setErrorMessage(message, detail);
    endLoading();
    return false;
}

void SetupModel::setNotificationPermissionRequest(NotificationPermissionRequest request)
{
    m_notificationPermission = std::move(request);
}

SetupModel::NotificationPermissionRequest SetupModel::sessionBusPermissionRequest()
{
    return [] { return DesktopNotifications::askServer(QDBusConnection::sessionBus()); };
}

void SetupModel::present(bool altHeld)
{
    setSetupMode(SetupMode::login);
    setServerUrl(m_app.config()._serverUrl);
    setUsername(QString());
    setPassword(QString());
    setApiKey(QString());
    setErrorMessage(std::nullopt);
    const bool storedElsewhere = m_app.config()._serverUrl != QLatin1String(AppConfig::defaultServerUrl);
    setShowServerField(AppConfig::hasServerOverride() || altHeld || storedElsewhere);
}

QCoro::Task<KeyringReadiness> SetupModel::keyCanBeStored() const
{
    if (m_keyStorage == KeyStorage::configFile)
        co_return KeyringReadiness::ready;
    auto unlocking = KeychainService::unlockAsync();
    co_return co_await std::move(unlocking);
}

QCoro::Task<bool> SetupModel::store(QString serverUrl, QString apiKey)
{
    const AppConfig previous = m_app.config();
    AppConfig next = previous;
    next._serverUrl = AppConfig::trimmedServerUrl(std::move(serverUrl));
    next.apiKey = std::move(apiKey);
    m_app.setConfig(next);
    QPointer<AppViewModel> app(&m_app);
    auto saving = m_app.saveConfigAsync(m_keyStorage);
    const bool saved = co_await std::move(saving);
    // The running program keeps the account that is on disk.
    if (!saved && app)
        app->setConfig(previous);
    co_return saved;
}

QCoro::Task<bool> SetupModel::begin()
{
    QPointer<SetupModel> self(this);
    beginLoading();
    setErrorMessage(std::nullopt);
    // Before any request: a key obtained now could only be lost.
    auto probing = keyCanBeStored();
    const KeyringReadiness readiness = co_await std::move(probing);
    if (!self)
        co_return false;
    try {
        KeychainService::requireReady(readiness);
    } catch (const KeychainError &refusal) {
        co_return fail(refusal.description(), refusal.technicalText());
    }
    co_return true;
}

QCoro::Task<bool> SetupModel::complete(QString serverUrl, QString apiKey)
{
    QPointer<SetupModel> self(this);
    auto storing = store(std::move(serverUrl), std::move(apiKey));
    const bool stored = co_await std::move(storing);
    if (!self)
        co_return stored;
    if (!stored)
        co_return fail(m_app.errorMessage().value_or(QString()));
    if (m_notificationPermission) {
        auto asking = m_notificationPermission();
        const std::optional<QString> failure = co_await std::move(asking);
        if (failure) {
            const QByteArray line = "Notification authorization error: " + failure->toUtf8() + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fflush(stdout);
        }
        if (!self)
            co_return true;
    }
    m_app.setShowSetup(false);
    endLoading();
    co_return true;
}

template<typename Reply>
QCoro::Task<std::optional<Reply>> SetupModel::ask(QCoro::Task<Reply> request)
{
    QPointer<SetupModel> self(this);
    std::exception_ptr failure;
    try {
        Reply reply = co_await std::move(request);
        co_return reply;
    } catch (...) {
        failure = std::current_exception();
    }
    if (self) {
        const LoginFailure shown = LoginFailure::from(failure);
        fail(shown.description, shown.detail);
    }
    co_return std::nullopt;
}

QCoro::Task<bool> SetupModel::submit()
{
    if (isButtonDisabled())
        co_return false;
    if (m_setupMode == SetupMode::apiKey) {
        auto connecting = connectWithApiKey();
        co_return co_await std::move(connecting);
    }
    auto loggingIn = login();
    co_return co_await std::move(loggingIn);
}

QCoro::Task<bool> SetupModel::login()
{
    QPointer<SetupModel> self(this);
    // The fields as they are at the press.
    const QString server = effectiveServerUrl();
    const QString username = m_username;
    const QString password = m_password;
    auto beginning = begin();
    if (!co_await std::move(beginning))
        co_return false;

    auto asking = ask(m_loginService.login(server, username, password));
    const std::optional<LoginResponse> reply = co_await std::move(asking);
    if (!reply || !self)
        co_return false;
    if (!reply->success || !reply->data || !reply->data->apiKey)
        co_return fail(refusalText(reply->error));
    auto completing = complete(reply->data->serverUrl.value_or(server), *reply->data->apiKey);
    co_return co_await std::move(completing);
}

QCoro::Task<bool> SetupModel::connectWithApiKey()
{
    QPointer<SetupModel> self(this);
    const QString server = effectiveServerUrl();
    const QString key = m_apiKey;
    auto beginning = begin();
    if (!co_await std::move(beginning))
        co_return false;

    auto asking = ask(m_loginService.status(server, key));
    const std::optional<StatusReply> reply = co_await std::move(asking);
    if (!reply || !self)
        co_return false;
    if (!reply->accepted())
        co_return fail(LocalizationService::shared().localized("setup.error.connection_failed"),
                       QStringLiteral("GET /api/status answered %1").arg(reply->statusCode));
    auto completing = complete(server, key);
    co_return co_await std::move(completing);
}

QCoro::Task<SetupOutcome> SetupModel::performSetup(QString token, QString serverUrl)
{
    QPointer<SetupModel> self(this);
    beginLoading();
    SetupOutcome outcome;
    std::exception_ptr failure;
    ExchangeTokenResponse reply;
    try {
        // A one-time token spent on a key that nothing can keep would be lost.
        auto probing = keyCanBeStored();
        KeychainService::requireReady(co_await std::move(probing));
        serverUrl = AppConfig::trimmedServerUrl(serverUrl);
        auto pending = m_loginService.exchangeSetupToken(serverUrl, token, machineName());
        reply = co_await std::move(pending);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return failedOutcome(QString());

    if (failure) {
        outcome = failedOutcome(LoginFailure::from(failure).description);
    } else if (!reply.success || !reply.apiKey) {
        outcome = SetupOutcome{false, QStringLiteral("Error de Setup"),
                               reply.error ? reply.error->message : QStringLiteral("Unknown error")};
    } else {
        auto storing = store(reply.serverUrl.value_or(serverUrl), *reply.apiKey);
        const bool stored = co_await std::move(storing);
        if (!self)
            co_return failedOutcome(QString());
        if (!stored) {
            outcome = failedOutcome(m_app.errorMessage().value_or(QString()));
        } else {
            m_app.setShowSetup(false);
            outcome = SetupOutcome{
                true, QStringLiteral("Sendova Configured"),
                QLatin1String("Connected to: ") + reply.tenantName.value_or(QStringLiteral("Sendova")) +
                    QLatin1String("\nUser: ") + reply.userName.value_or(QStringLiteral("User"))};
        }
    }
    endLoading();
    co_return outcome;
}

} // namespace sendova
