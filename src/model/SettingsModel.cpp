#include "model/SettingsModel.h"

#include "model/AppViewModel.h"
#include "model/LoginFailure.h"
#include "support/LocalizationService.h"

#include <QPointer>

namespace sendova {

namespace {

Language languageOf(const AppConfig &config)
{
    return languageFromCode(config.languageCode).value_or(Language::english);
}

} // namespace

SettingsModel::SettingsModel(AppViewModel &app, LoginService &loginService, QObject *parent)
    : QObject(parent), m_app(app), m_loginService(loginService), m_testButtonDisabled(isTestButtonDisabled()),
      m_language(languageOf(app.config())), m_testedKey(app.config().apiKey)
{
    connect(&m_app, &AppViewModel::configChanged, this, &SettingsModel::configEdited);
}

bool SettingsModel::isTestButtonDisabled() const
{
    return m_testingConnection || m_app.config().apiKey.isEmpty();
}

Language SettingsModel::language() const
{
    return m_language;
}

void SettingsModel::configEdited()
{
    // A result speaks of the key it was tested with, not of a new one.
    if (m_app.config().apiKey != m_testedKey) {
        m_testedKey = m_app.config().apiKey;
        setConnectionStatus(std::nullopt);
    }
    const bool disabled = isTestButtonDisabled();
    if (disabled != m_testButtonDisabled) {
        m_testButtonDisabled = disabled;
        Q_EMIT isTestButtonDisabledChanged();
    }
    const Language language = languageOf(m_app.config());
    if (language != m_language) {
        m_language = language;
        Q_EMIT languageChanged();
    }
}

void SettingsModel::setLanguage(Language language)
{
    if (language == m_language)
        return;
    AppConfig config = m_app.config();
    config.languageCode = languageCode(language);
    m_app.setConfig(config);
    LocalizationService::shared().setLanguage(language);
}

void SettingsModel::setTestingConnection(bool testing)
{
    if (testing == m_testingConnection)
        return;
    m_testingConnection = testing;
    Q_EMIT testingConnectionChanged();
    configEdited();
}

void SettingsModel::setConnectionStatus(const std::optional<ConnectionStatus> &status)
{
    if (status == m_connectionStatus)
        return;
    m_connectionStatus = status;
    Q_EMIT connectionStatusChanged();
}

void SettingsModel::present(bool altHeld)
{
    setTestingConnection(false);
    setConnectionStatus(std::nullopt);
    const bool storedElsewhere = m_app.config()._serverUrl != QLatin1String(AppConfig::defaultServerUrl);
    const bool show = AppConfig::hasServerOverride() || altHeld || storedElsewhere;
    if (show != m_showServerField) {
        m_showServerField = show;
        Q_EMIT showServerFieldChanged();
    }
}

QCoro::Task<> SettingsModel::testConnection()
{
    if (isTestButtonDisabled())
        co_return;
    QPointer<SettingsModel> self(this);
    setTestingConnection(true);
    setConnectionStatus(std::nullopt);
    ConnectionStatus status = ConnectionStatus::success();
    try {
        auto pending = m_loginService.status(m_app.config().serverUrl(), m_app.config().apiKey);
        const StatusReply reply = co_await std::move(pending);
        if (!reply.accepted())
            status = ConnectionStatus::failed(QStringLiteral("Connection failed"));
    } catch (...) {
        status = ConnectionStatus::failed(LoginFailure::from(std::current_exception()).description);
    }
    if (!self)
        co_return;
    setConnectionStatus(status);
    setTestingConnection(false);
}

QCoro::Task<> SettingsModel::save()
{
    QPointer<SettingsModel> self(this);
    AppConfig config = m_app.config();
    config._serverUrl = AppConfig::trimmedServerUrl(config._serverUrl);
    m_app.setConfig(config);
    auto saving = m_app.saveConfigAsync();
    co_await std::move(saving);
    if (self)
        close();
}

QCoro::Task<> SettingsModel::cancel()
{
    QPointer<SettingsModel> self(this);
    auto reloading = m_app.reloadFromDiskAsync();
    co_await std::move(reloading);
    if (!self)
        co_return;
    LocalizationService::shared().setLanguage(languageOf(m_app.config()));
    close();
}

void SettingsModel::close()
{
    m_app.setShowSettings(false);
}

QCoro::Task<> SettingsModel::logout()
{
    QPointer<SettingsModel> self(this);
    auto forgetting = m_app.logoutAsync();
    co_await std::move(forgetting);
    if (self)
        close();
}

} // namespace sendova
