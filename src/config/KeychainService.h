#pragma once

#include "support/Error.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

class QObject;
class QThread;

namespace QKeychain {
class Job;
}

namespace sendova {

class KeychainError : public Error
{
public:
    enum class Kind { unableToStore, encodingFailed };

    static KeychainError unableToStore(qint32 status, const QString &detail = QString());
    static KeychainError encodingFailed();

    Kind kind() const { return m_kind; }
    // QtKeychain's error code; 0 for encodingFailed.
    qint32 status() const { return m_status; }

    // Fixed English texts: they name a keychain status, not a sentence the
    // user has to read in their own language.
    QString description() const override;

private:
    KeychainError(Kind kind, qint32 status, QString technical);

    Kind m_kind;
    qint32 m_status;
};

// The API key in the desktop's secret store (Secret Service or KWallet, via
// QtKeychain). The three operations are synchronous and may be called from
// any thread: the QtKeychain jobs all run on one private thread of this
// service, and the caller blocks, without re-entering its own event loop,
// until the job ends or operationBound has passed.
class KeychainService
{
public:
    // Long enough for the user to answer an unlock prompt of the keyring.
    static constexpr std::chrono::milliseconds operationBound{60000};

    static KeychainService &shared();

    static QString service() { return QStringLiteral("com.sendova.client"); }
    static QString apiKeyAccount() { return QStringLiteral("api-key"); }

    // Replaces the stored key in one step, so a store that fails leaves the
    // previous key in place. Throws KeychainError.
    void saveAPIKey(const QString &key) const;
    // Nothing when there is no item, the store cannot be reached or refuses,
    // or the value is not UTF-8.
    std::optional<QString> loadAPIKey() const;
    // Failures are ignored: there is nothing the caller could do about them.
    void deleteAPIKey() const;

    KeychainService(const KeychainService &) = delete;
    KeychainService &operator=(const KeychainService &) = delete;

private:
    KeychainService();

    struct Outcome
    {
        bool finished = false;
        int error = 0;
        QString errorString;
        QByteArray data;
    };
    Outcome run(std::function<QKeychain::Job *()> makeJob) const;
    void stop();

    QThread *m_thread = nullptr;
    QObject *m_context = nullptr;
    std::atomic<bool> m_stopped{false};
};

} // namespace sendova
