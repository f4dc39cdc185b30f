#pragma once

#include "config/ConfigService.h"
#include "config/KeychainService.h"
#include "config/LoginService.h"

#include <QObject>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace sendova {

class AppViewModel;

// The two ways the setup sheet connects, in the order its picker shows them.
enum class SetupMode { login, apiKey };

// What the user is told about a setup link: an alert with this title and
// text, fixed and not translated.
struct SetupOutcome
{
    bool configured = false;
    QString title;
    QString message;

    bool operator==(const SetupOutcome &) const = default;
};

// The setup sheet's state and actions: login with user name and password,
// connection with an API key, and the exchange of a setup link's token. The
// command-line client drives the same model without a sheet.
//
// Every property announces itself only when its value really changed. A
// success stores server and key through the view model (the keychain by
// default, config.json with KeyStorage::configFile) and closes the sheet by
// clearing the view model's showSetup; any failure leaves the stored
// settings, the key and the view model's configuration as they were.
class SetupModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(sendova::SetupMode setupMode READ setupMode WRITE setSetupMode NOTIFY setupModeChanged)
    Q_PROPERTY(QString serverUrl READ serverUrl WRITE setServerUrl NOTIFY serverUrlChanged)
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY usernameChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(QString apiKey READ apiKey WRITE setApiKey NOTIFY apiKeyChanged)
    Q_PROPERTY(bool showServerField READ showServerField NOTIFY showServerFieldChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString effectiveServerUrl READ effectiveServerUrl NOTIFY effectiveServerUrlChanged)
    Q_PROPERTY(bool isButtonDisabled READ isButtonDisabled NOTIFY isButtonDisabledChanged)

public:
    // Asks the desktop for permission to show notifications and resolves
    // once it has answered: to the failure's text when the request itself
    // failed, to nothing otherwise (the answer does not matter here).
    using NotificationPermissionRequest = std::function<QCoro::Task<std::optional<QString>>()>;

    explicit SetupModel(AppViewModel &app, LoginService &loginService = LoginService::shared(),
                        QObject *parent = nullptr);

    SetupMode setupMode() const { return m_setupMode; }
    // Clears the error: it belonged to the other mode.
    void setSetupMode(SetupMode mode);
    QString serverUrl() const { return m_serverUrl; }
    void setServerUrl(const QString &serverUrl);
    QString username() const { return m_username; }
    void setUsername(const QString &username);
    QString password() const { return m_password; }
    void setPassword(const QString &password);
    QString apiKey() const { return m_apiKey; }
    void setApiKey(const QString &apiKey);
    bool showServerField() const { return m_showServerField; }
    bool isLoading() const { return m_running > 0; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    // The technical rendering of the failure behind errorMessage (also in
    // the log); empty when the message is a refusal the server explained.
    QString errorDetail() const { return m_errorDetail; }
    // SENDOVA_SERVER when set, otherwise the server field: the only address
    // this model sends to or stores.
    QString effectiveServerUrl() const;
    // Loading, or the current mode's fields empty (spaces count as filled).
    bool isButtonDisabled() const;

    // Where a success keeps the key; the keychain unless the caller asks.
    KeyStorage keyStorage() const { return m_keyStorage; }
    void setKeyStorage(KeyStorage storage) { m_keyStorage = storage; }
    // Awaited after a successful login or key connection, before the sheet
    // closes. When the request fails, "Notification authorization error: "
    // and its text go to standard output. None is asked when no request is
    // set (the command-line client).
    void setNotificationPermissionRequest(NotificationPermissionRequest request);
    // The tray program's request: whether a notification server answers on
    // the session bus, Linux having no permission to ask for.
    static NotificationPermissionRequest sessionBusPermissionRequest();

    // Each time the sheet is shown: the fields start over, and the server
    // field shows when SENDOVA_SERVER is set, Alt is held (altHeld) or the
    // stored server is not the public one (window managers often keep Alt to
    // themselves).
    void present(bool altHeld);

    // The primary button: login or key connection by the mode of the moment.
    // Does nothing while isButtonDisabled. True when the setup is done.
    QCoro::Task<bool> submit();
    QCoro::Task<bool> login();
    QCoro::Task<bool> connectWithApiKey();
    // A setup link: checks that the key can be stored before the one-time
    // token is spent, exchanges it, stores key and server and closes the
    // setup. Failures come back in the outcome, not in errorMessage.
    QCoro::Task<SetupOutcome> performSetup(QString token, QString serverUrl);

Q_SIGNALS:
    void setupModeChanged();
    void serverUrlChanged();
    void usernameChanged();
    void passwordChanged();
    void apiKeyChanged();
    void showServerFieldChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void effectiveServerUrlChanged();
    void isButtonDisabledChanged();

private:
    struct Derived
    {
        QString effectiveServerUrl;
        bool isButtonDisabled = false;
    };
    Derived derived() const;
    // Announces the derived values that differ from before.
    void announce(const Derived &before);
    void setShowServerField(bool show);
    void setErrorMessage(const std::optional<QString> &message, const QString &detail = QString());
    void beginLoading();
    void endLoading();
    // Ends a login or key connection that did not configure anything.
    bool fail(const QString &message, const QString &detail = QString());

    template<typename T>
    void assign(T &field, const T &value, void (SetupModel::*changed)());

    QCoro::Task<KeyringReadiness> keyCanBeStored() const;
    // Server and key into the view model's configuration and saved; put back
    // as they were when the save fails.
    QCoro::Task<bool> store(QString serverUrl, QString apiKey);
    // The start of a login or key connection: false (and the error shown)
    // when no key could be kept.
    QCoro::Task<bool> begin();
    // The request's reply, or nothing once its failure is shown.
    template<typename Reply>
    QCoro::Task<std::optional<Reply>> ask(QCoro::Task<Reply> request);
    // After the server accepted: store, ask for notification permission and
    // close the sheet.
    QCoro::Task<bool> complete(QString serverUrl, QString apiKey);

    AppViewModel &m_app;
    LoginService &m_loginService;
    SetupMode m_setupMode = SetupMode::login;
    QString m_serverUrl;
    QString m_username;
    QString m_password;
    QString m_apiKey;
    bool m_showServerField = false;
    int m_running = 0;
    std::optional<QString> m_errorMessage;
    QString m_errorDetail;
    KeyStorage m_keyStorage = KeyStorage::keychain;
    NotificationPermissionRequest m_notificationPermission;
};

} // namespace sendova
