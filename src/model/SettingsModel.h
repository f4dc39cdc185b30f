#pragma once

#include "config/LoginService.h"
#include "support/Language.h"

#include <QObject>
#include <QString>

#include <QCoroTask>

#include <optional>

namespace sendova {

class AppViewModel;

// The outcome of the last connection test, as the settings sheet shows it.
struct ConnectionStatus
{
    enum class Case { failed, success };

    Case statusCase = Case::success;
    // What failed; empty for success.
    QString message;

    static ConnectionStatus failed(QString message) { return {Case::failed, std::move(message)}; }
    static ConnectionStatus success() { return {Case::success, QString()}; }

    bool operator==(const ConnectionStatus &) const = default;
};

// The settings sheet's own state and actions. The settings themselves are
// the view model's config, edited in memory and written only by save().
//
// Every property announces itself only when its value really changed.
class SettingsModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool testingConnection READ testingConnection NOTIFY testingConnectionChanged)
    Q_PROPERTY(std::optional<sendova::ConnectionStatus> connectionStatus READ connectionStatus NOTIFY
                   connectionStatusChanged)
    Q_PROPERTY(bool showServerField READ showServerField NOTIFY showServerFieldChanged)
    Q_PROPERTY(bool isTestButtonDisabled READ isTestButtonDisabled NOTIFY isTestButtonDisabledChanged)
    Q_PROPERTY(sendova::Language language READ language WRITE setLanguage NOTIFY languageChanged)

public:
    explicit SettingsModel(AppViewModel &app, LoginService &loginService = LoginService::shared(),
                           QObject *parent = nullptr);

    bool testingConnection() const { return m_testingConnection; }
    const std::optional<ConnectionStatus> &connectionStatus() const { return m_connectionStatus; }
    bool showServerField() const { return m_showServerField; }
    // A test is running, or there is no key to test.
    bool isTestButtonDisabled() const;
    // The configuration's language; a code we do not ship reads as English.
    Language language() const;
    // Into the configuration, and the whole interface switches at once,
    // before any save.
    void setLanguage(Language language);

    // Each time the sheet is shown: the sheet's state starts over, and the
    // server row shows when SENDOVA_SERVER is set, Alt is held (altHeld) or
    // the stored server is not the public one (window managers often keep
    // Alt to themselves).
    void present(bool altHeld);

    // With the server and key as edited, unsaved. "Connection failed" (not
    // translated) for any answer but 200, the error's text for a request that
    // failed. Does nothing while isTestButtonDisabled.
    QCoro::Task<> testConnection();
    // Saves and closes; a failed save lands in the view model's errorMessage
    // and the sheet closes all the same.
    QCoro::Task<> save();
    // Throws the edits away (settings, key and recent uploads read again),
    // switches the interface back to the stored language, and closes.
    QCoro::Task<> cancel();
    // The header's close button: the edits stay in memory, unsaved.
    void close();
    // Forgets the account on disk and in memory, opens the setup and closes.
    QCoro::Task<> logout();

Q_SIGNALS:
    void testingConnectionChanged();
    void connectionStatusChanged();
    void showServerFieldChanged();
    void isTestButtonDisabledChanged();
    void languageChanged();

private:
    void setTestingConnection(bool testing);
    void setConnectionStatus(const std::optional<ConnectionStatus> &status);
    // After the view model's config changed.
    void configEdited();

    AppViewModel &m_app;
    LoginService &m_loginService;
    bool m_testingConnection = false;
    std::optional<ConnectionStatus> m_connectionStatus;
    bool m_showServerField = false;
    // As last announced, so that only real changes are.
    bool m_testButtonDisabled = true;
    Language m_language = Language::english;
    // The key as it was when the status was last cleared.
    QString m_testedKey;
};

} // namespace sendova
