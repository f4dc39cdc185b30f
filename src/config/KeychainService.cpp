#include "config/KeychainService.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QFuture>
#include <QPromise>
#include <QStringDecoder>
#include <QThread>

#include <QCoroDBusPendingReply>
#include <QCoroFuture>

#include <qt6keychain/keychain.h>

namespace sendova {

KeychainError::KeychainError(Kind kind, qint32 status, QString technical)
    : Error(std::move(technical)), m_kind(kind), m_status(status)
{}

KeychainError KeychainError::unableToStore(qint32 status, const QString &detail)
{
    QString technical = QStringLiteral("Keychain store failed with status %1").arg(status);
    if (!detail.isEmpty())
        technical += QLatin1String(": ") + detail;
    return KeychainError(Kind::unableToStore, status, technical);
}

KeychainError KeychainError::encodingFailed()
{
    return KeychainError(Kind::encodingFailed, 0, QStringLiteral("API key is not valid UTF-16"));
}

KeychainError KeychainError::unavailable()
{
    return KeychainError(Kind::unavailable, 0,
                         QStringLiteral("org.freedesktop.secrets is neither owned nor activatable"));
}

QString KeychainError::description() const
{
    switch (m_kind) {
    case Kind::unableToStore:
        return QLatin1String("Failed to store in Keychain (status: ") + QString::number(m_status) +
               QLatin1Char(')');
    case Kind::unavailable:
        return QStringLiteral("No keyring is available to store the API key");
    case Kind::encodingFailed:
        break;
    }
    return QStringLiteral("Failed to encode API key");
}

namespace {

const QString secretServiceName = QStringLiteral("org.freedesktop.secrets");

// Lives on the keychain thread; only there to give queued calls a home.
class KeychainContext : public QObject
{
public:
    using QObject::QObject;
};

QDBusMessage busCall(const char *method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), QLatin1String(method));
}

std::optional<QString> keyFromBytes(const QByteArray &bytes)
{
    // A leading U+FEFF is part of the key, not a byte-order mark.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString key = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return key;
}

} // namespace

KeychainService &KeychainService::shared()
{
    // Never destroyed: a thread object torn down by static destruction while
    // its thread still runs would abort the process at exit.
    static KeychainService *const instance = new KeychainService;
    return *instance;
}

KeychainService::KeychainService()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("Keychain"));
    m_context = new KeychainContext;
    m_context->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread->start();
    // The thread has to end before the application object goes away; later
    // calls then fail at once instead of waiting for a thread that is gone.
    if (QCoreApplication::instance())
        qAddPostRoutine([] { shared().stop(); });
}

void KeychainService::stop()
{
    if (m_stopped.exchange(true))
        return;
    m_thread->quit();
    m_thread->wait(QDeadlineTimer(2000));
}

bool KeychainService::post(std::function<void()> work)
{
    if (m_stopped.load())
        return false;
    return QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
}

void KeychainService::throwNoAnswer()
{
    throw KeychainError::unableToStore(QKeychain::OtherError,
                                       QStringLiteral("no answer from the secret store in time"));
}

QCoro::Task<KeychainService::Outcome> KeychainService::run(std::function<QKeychain::Job *()> makeJob)
{
    auto promise = std::make_shared<QPromise<Outcome>>();
    QFuture<Outcome> future = promise->future();
    promise->start();
    const bool posted = post([makeJob = std::move(makeJob), promise] {
        QKeychain::Job *job = makeJob();
        // QtKeychain frees the job after it has finished, on this thread.
        job->setAutoDelete(true);
        QObject::connect(job, &QKeychain::Job::finished, job, [promise](QKeychain::Job *finished) {
            Outcome outcome;
            outcome.error = finished->error();
            outcome.errorString = finished->errorString();
            if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(finished))
                outcome.data = read->binaryData();
            promise->addResult(std::move(outcome));
            promise->finish();
        });
        job->start();
    });
    if (!posted) {
        promise->addResult(
            Outcome{QKeychain::OtherError, QStringLiteral("the keychain thread has ended"), {}});
        promise->finish();
    }
    Outcome outcome = co_await future;
    co_return outcome;
}

void KeychainService::remember(std::optional<std::optional<QString>> key, bool isWrite)
{
    std::lock_guard guard(m_lock);
    if (isWrite)
        ++m_remembered.writes;
    m_remembered.key = std::move(key);
}

QCoro::Task<> KeychainService::saveAPIKeyAsync(QString key)
{
    // QString::toUtf8 would quietly turn a lone surrogate into U+FFFD and
    // store a different key than the one given.
    if (!key.isValidUtf16())
        throw KeychainError::encodingFailed();
    auto storing = run([key] {
        auto *job = new QKeychain::WritePasswordJob(service());
        job->setKey(apiKeyAccount());
        job->setTextData(key);
        return job;
    });
    const Outcome outcome = co_await std::move(storing);
    if (outcome.error != QKeychain::NoError) {
        // Whatever the keyring holds now, it is no longer known here.
        remember(std::nullopt, true);
        throw KeychainError::unableToStore(outcome.error, outcome.errorString);
    }
    remember(std::optional<QString>(key), true);
}

QCoro::Task<std::optional<QString>> KeychainService::loadAPIKeyAsync()
{
    quint64 writesBefore = 0;
    std::optional<std::optional<QString>> remembered;
    {
        std::lock_guard guard(m_lock);
        remembered = m_remembered.key;
        writesBefore = m_remembered.writes;
    }
    // A copy is returned: QCoro 0.8 moves from whatever lvalue co_return
    // names.
    if (remembered)
        co_return *remembered;
    auto reading = run([] {
        auto *job = new QKeychain::ReadPasswordJob(service());
        job->setKey(apiKeyAccount());
        return job;
    });
    const Outcome outcome = co_await std::move(reading);
    // A store that cannot be reached counts as holding nothing, once: asking
    // again would only make the user wait again.
    std::optional<QString> key =
        outcome.error == QKeychain::NoError ? keyFromBytes(outcome.data) : std::nullopt;
    {
        std::lock_guard guard(m_lock);
        if (m_remembered.writes == writesBefore)
            m_remembered.key = key;
    }
    co_return key;
}

QCoro::Task<> KeychainService::deleteAPIKeyAsync()
{
    auto deleting = run([] {
        auto *job = new QKeychain::DeletePasswordJob(service());
        job->setKey(apiKeyAccount());
        return job;
    });
    const Outcome outcome = co_await std::move(deleting);
    const bool gone = outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound;
    remember(gone ? std::optional<std::optional<QString>>(std::optional<QString>()) : std::nullopt, true);
}

void KeychainService::saveAPIKey(const QString &key)
{
    waitFor<void>([this, key] { return saveAPIKeyAsync(key); });
}

std::optional<QString> KeychainService::loadAPIKey()
{
    try {
        return waitFor<std::optional<QString>>([this] { return loadAPIKeyAsync(); });
    } catch (const KeychainError &) {
        return std::nullopt;
    }
}

void KeychainService::deleteAPIKey()
{
    try {
        waitFor<void>([this] { return deleteAPIKeyAsync(); });
    } catch (const KeychainError &) {
    }
}

bool KeychainService::secretServiceExists()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QDBusReply<bool> owned = bus.interface()->isServiceRegistered(secretServiceName);
    if (owned.isValid() && owned.value())
        return true;
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(secretServiceName);
}

QCoro::Task<bool> KeychainService::secretServiceExistsAsync()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return false;
    QDBusMessage owner = busCall("NameHasOwner");
    owner << secretServiceName;
    QDBusPendingReply<bool> owned = bus.asyncCall(owner);
    co_await owned;
    if (owned.isValid() && owned.value())
        co_return true;
    QDBusPendingReply<QStringList> activatable = bus.asyncCall(busCall("ListActivatableNames"));
    co_await activatable;
    co_return activatable.isValid() && activatable.value().contains(secretServiceName);
}

} // namespace sendova
