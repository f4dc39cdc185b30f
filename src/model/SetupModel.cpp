#include "model/SetupModel.h"

#include "config/KeychainService.h"
#include "model/AppViewModel.h"
#include "model/LoginFailure.h"
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
    return AppConfig::hasServerOverride() ? qEnvironmentVariable(AppConfig::serverOverrideVariable)
                                          : m_serverUrl;
}

bool SetupModel::isButtonDisabled() const
{
    if (isLoading())
        return true;
    if (m_setupMode == SetupMode::apiKey)
        return m_apiKey.isEmpty();
    return m_username.isEmpty() || m_password.isEmpty();
}

void SetupModel::setSetupMode(SetupMode mode)
{
    if (mode == m_setupMode)
        return;
    const Derived before = derived();
    m_setupMode = mode;
    Q_EMIT setupModeChanged();
    setErrorMessage(std::nullopt);
    announce(before);
}

void SetupModel::setServerUrl(const QString &serverUrl)
{
    if (serverUrl == m_serverUrl)
        return;
    const Derived before = derived();
    m_serverUrl = serverUrl;
    Q_EMIT serverUrlChanged();
    announce(before);
}

void SetupModel::setUsername(const QString &username)
{
    if (username == m_username)
        return;
    const Derived before = derived();
    m_username = username;
    Q_EMIT usernameChanged();
    announce(before);
}

void SetupModel::setPassword(const QString &password)
{
    if (password == m_password)
        return;
    const Derived before = derived();
    m_password = password;
    Q_EMIT passwordChanged();
    announce(before);
}

void SetupModel::setApiKey(const QString &apiKey)
{
    if (apiKey == m_apiKey)
        return;
    const Derived before = derived();
    m_apiKey = apiKey;
    Q_EMIT apiKeyChanged();
    announce(before);
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

QCoro::Task<bool> SetupModel::keyCanBeStored() const
{
    if (m_keyStorage == KeyStorage::configFile)
        co_return true;
    auto probing = KeychainService::secretServiceExistsAsync();
    co_return co_await std::move(probing);
}

QCoro::Task<bool> SetupModel::store(QString serverUrl, QString apiKey)
{
    const AppConfig previous = m_app.config();
    AppConfig next = previous;
    next._serverUrl = std::move(serverUrl);
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

QCoro::Task<> SetupModel::finishSetup()
{
    QPointer<SetupModel> self(this);
    if (m_notificationPermission) {
        auto asking = m_notificationPermission();
        const std::optional<QString> failure = co_await std::move(asking);
        if (failure) {
            const QByteArray line = "Notification authorization error: " + failure->toUtf8() + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fflush(stdout);
        }
    }
    if (!self)
        co_return;
    m_app.setShowSetup(false);
    endLoading();
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
    beginLoading();
    setErrorMessage(std::nullopt);
    const QString server = effectiveServerUrl();

    auto probing = keyCanBeStored();
    const bool storable = co_await std::move(probing);
    if (!self)
        co_return false;
    if (!storable)
        co_return fail(KeychainError::unavailable().description(),
                       KeychainError::unavailable().technicalText());

    LoginResponse reply;
    std::exception_ptr failure;
    try {
        auto pending = m_loginService.login(server, m_username, m_password);
        reply = co_await std::move(pending);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return false;
    if (failure) {
        const LoginFailure shown = LoginFailure::from(failure);
        co_return fail(shown.description, shown.detail);
    }
    if (!reply.success || !reply.data || !reply.data->apiKey)
        co_return fail(refusalText(reply.error));

    auto storing = store(reply.data->serverUrl.value_or(server), *reply.data->apiKey);
    const bool stored = co_await std::move(storing);
    if (!self)
        co_return stored;
    if (!stored)
        co_return fail(m_app.errorMessage().value_or(QString()));
    auto finishing = finishSetup();
    co_await std::move(finishing);
    co_return true;
}

QCoro::Task<bool> SetupModel::connectWithApiKey()
{
    QPointer<SetupModel> self(this);
    beginLoading();
    setErrorMessage(std::nullopt);
    const QString server = effectiveServerUrl();
    const QString key = m_apiKey;

    auto probing = keyCanBeStored();
    const bool storable = co_await std::move(probing);
    if (!self)
        co_return false;
    if (!storable)
        co_return fail(KeychainError::unavailable().description(),
                       KeychainError::unavailable().technicalText());

    StatusReply reply;
    std::exception_ptr failure;
    try {
        auto pending = m_loginService.status(server, key);
        reply = co_await std::move(pending);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return false;
    if (failure) {
        const LoginFailure shown = LoginFailure::from(failure);
        co_return fail(shown.description, shown.detail);
    }
    if (!reply.accepted())
        co_return fail(LocalizationService::shared().localized("setup.error.connection_failed"),
                       QStringLiteral("GET /api/status answered %1").arg(reply.statusCode));

    auto storing = store(server, key);
    const bool stored = co_await std::move(storing);
    if (!self)
        co_return stored;
    if (!stored)
        co_return fail(m_app.errorMessage().value_or(QString()));
    auto finishing = finishSetup();
    co_await std::move(finishing);
    co_return true;
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
        if (!co_await std::move(probing))
            throw KeychainError::unavailable();
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
