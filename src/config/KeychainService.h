#pragma once

#include "support/Error.h"

#include <QString>

#include <QCoroTask>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
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
    enum class Kind { unableToStore, encodingFailed, unavailable, locked };

    static KeychainError unableToStore(qint32 status, const QString &detail = QString());
    static KeychainError encodingFailed();
    // No Secret Service on the session bus: nothing could keep the key.
    static KeychainError unavailable();
    // The keyring is locked and stayed locked: no prompt to unlock it could
    // be shown here (reason), or the user dismissed it.
    static KeychainError locked(const QString &reason);

    Kind kind() const { return m_kind; }
    // QtKeychain's error code; 0 for the other kinds.
    qint32 status() const { return m_status; }

    // Fixed English texts: they name a keychain status, not a sentence the
    // user has to read in their own language.
    QString description() const override;

private:
    KeychainError(Kind kind, qint32 status, QString technical, QString reason = QString());

    Kind m_kind;
    qint32 m_status;
    QString m_reason;
};

// Whether a key stored now would be kept.
enum class KeyringReadiness {
    ready,
    // No Secret Service on the session bus (an SSH session, a bare machine).
    unavailable,
    // Locked, and no prompt to unlock it can be shown in this session.
    lockedNoPrompter,
    // Locked, and the user dismissed the prompt.
    lockedDismissed,
};

// The API key in the desktop's secret store (Secret Service or KWallet, via
// QtKeychain).
//
// QtKeychain queues every job of a process in one unsynchronised executor,
// so all jobs run on one private thread of this service, started with the
// first job. The awaitable calls hand a job to that thread and suspend the
// caller until it ends: the tray program's main thread never waits on the
// keyring. The synchronous calls are thin wrappers that block the caller
// (without re-entering its event loop) for at most operationBound; they are
// for the command-line client and the share program, and may be called from
// any thread.
//
// A key that QtKeychain stored as text behind the Secret Service is read
// over the bus directly, without QtKeychain and the libraries it loads.
//
// The key is read from the keyring at most once per process: the first read
// is remembered, and stores and deletes keep what is remembered true.
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
    QCoro::Task<> saveAPIKeyAsync(QString key);
    // Nothing when there is no item, the store cannot be reached or refuses,
    // or the value is not UTF-8.
    QCoro::Task<std::optional<QString>> loadAPIKeyAsync();
    // True when no item is left; most callers have nothing to do about a
    // failure.
    QCoro::Task<bool> deleteAPIKeyAsync();

    void saveAPIKey(const QString &key);
    std::optional<QString> loadAPIKey();
    void deleteAPIKey();

    // Whether a Secret Service can keep the key: org.freedesktop.secrets is
    // owned on the session bus or can be started on demand. Without one, a
    // store can only fail, so callers ask before they obtain a key.
    static bool secretServiceExists();
    static QCoro::Task<bool> secretServiceExistsAsync();
    // Before anything that is spent to obtain a key (a one-time token, a
    // login): a locked keyring is asked to unlock through the desktop's
    // prompt, so that the key is not lost to a store that can only fail.
    static QCoro::Task<KeyringReadiness> unlockAsync();
    // Whether the keyring's default collection is locked now, without
    // asking for anything; nothing when there is no Secret Service.
    static QCoro::Task<std::optional<bool>> lockedAsync();
    // Throws KeychainError::unavailable or locked when readiness is not ready.
    static void requireReady(KeyringReadiness readiness);

    // Forgets what the keyring was remembered to hold: another program may
    // have changed it, and the next read asks the keyring again.
    void forgetRemembered();

    // Runs start() on the keychain thread and blocks the caller until the
    // task ends or operationBound has passed (then throws KeychainError), so
    // that a synchronous caller gets exactly the awaitable behaviour. Never
    // call it from a task that runs on the keychain thread.
    template<typename T>
    T waitFor(std::function<QCoro::Task<T>()> start);

    KeychainService(const KeychainService &) = delete;
    KeychainService &operator=(const KeychainService &) = delete;

private:
    KeychainService();

    struct Outcome
    {
        int error = 0;
        QString errorString;
        QByteArray data;
    };
    QCoro::Task<Outcome> run(std::function<QKeychain::Job *()> makeJob);
    // Posts work to the keychain thread; false once the service has stopped.
    bool post(std::function<void()> work);
    void stop();
    [[noreturn]] static void throwNoAnswer();

    // What the keyring holds, as far as this process knows: nothing known
    // until the first read or write. A read stores its result only when no
    // write started meanwhile (m_writes), so an older answer never replaces
    // a newer key.
    struct Remembered
    {
        std::optional<std::optional<QString>> key;
        quint64 writes = 0;
    };
    std::mutex m_lock;
    Remembered m_remembered;
    void remember(std::optional<std::optional<QString>> key, bool isWrite);

    std::mutex m_threadLock;
    QThread *m_thread = nullptr;
    QObject *m_context = nullptr;
    std::atomic<bool> m_stopped{false};
};

namespace detail {

template<typename T>
QCoro::Task<> settle(QCoro::Task<T> task, std::shared_ptr<std::promise<T>> promise)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            promise->set_value();
        } else {
            T value = co_await std::move(task);
            promise->set_value(std::move(value));
        }
    } catch (...) {
        promise->set_exception(std::current_exception());
    }
}

} // namespace detail

template<typename T>
T KeychainService::waitFor(std::function<QCoro::Task<T>()> start)
{
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    const bool posted = post([start = std::move(start), promise] {
        // Runs until its first suspension here; the keychain thread's event
        // loop drives the rest.
        QCoro::Task<> settling = detail::settle(start(), promise);
    });
    if (!posted || future.wait_for(operationBound) != std::future_status::ready)
        throwNoAnswer();
    return future.get();
}

} // namespace sendova
