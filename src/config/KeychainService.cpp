#include "config/KeychainService.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFuture>
#include <QPromise>
#include <QStringDecoder>
#include <QThread>

#include <QCoroDBusPendingReply>
#include <QCoroFuture>
#include <QCoroSignal>

#include <qt6keychain/keychain.h>

namespace sendova {

KeychainError::KeychainError(Kind kind, qint32 status, QString technical, QString reason)
    : Error(std::move(technical)), m_kind(kind), m_status(status), m_reason(std::move(reason))
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

KeychainError KeychainError::locked(const QString &reason)
{
    return KeychainError(Kind::locked, 0, QLatin1String("Keyring locked: ") + reason, reason);
}

QString KeychainError::description() const
{
    switch (m_kind) {
    case Kind::locked:
        return QLatin1String("The keyring is locked (") + m_reason +
               QLatin1String("); unlock it and try again. Nothing was sent");
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
const QString secretServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString secretServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString promptInterface = QStringLiteral("org.freedesktop.Secret.Prompt");

// Catches a prompt's Completed signal, which QtDBus delivers only to a slot.
class PromptWatch : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

Q_SIGNALS:
    void finished(bool dismissed);

public Q_SLOTS:
    void completed(bool dismissed, const QDBusVariant &) { Q_EMIT finished(dismissed); }
};

QDBusMessage secretCall(const QString &path, const QString &interface, const char *method)
{
    return QDBusMessage::createMethodCall(secretServiceName, path, interface, QLatin1String(method));
}

// The collection new items go to ("/" when there is none yet) and whether
// it is locked; nothing when the Secret Service does not answer.
struct DefaultCollection
{
    QDBusObjectPath path;
    bool locked = false;
};

QCoro::Task<std::optional<DefaultCollection>> defaultCollection(QDBusConnection bus)
{
    QDBusMessage alias = secretCall(secretServicePath, secretServiceInterface, "ReadAlias");
    alias << QStringLiteral("default");
    QDBusPendingReply<QDBusObjectPath> aliased = bus.asyncCall(alias);
    co_await aliased;
    if (!aliased.isValid())
        co_return std::nullopt;
    DefaultCollection collection{aliased.value(), false};
    // No collection yet: the keyring makes one with the first item.
    if (collection.path.path() == QLatin1String("/"))
        co_return collection;
    QDBusMessage property = QDBusMessage::createMethodCall(secretServiceName, collection.path.path(),
                                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                                           QStringLiteral("Get"));
    property << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    QDBusPendingReply<QDBusVariant> locked = bus.asyncCall(property);
    co_await locked;
    if (!locked.isValid())
        co_return std::nullopt;
    collection.locked = locked.value().variant().toBool();
    co_return collection;
}

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

// Whether QtKeychain keeps the key in KWallet here rather than behind the
// Secret Service: it prefers KWallet on a KDE desktop, recognised as it
// recognises one.
bool kdeDesktop()
{
    const QByteArray current = qgetenv("XDG_CURRENT_DESKTOP");
    if (current == "GNOME" || current == "Unity" || current == "XFCE")
        return false;
    if (current == "KDE")
        return true;
    const QByteArray session = qgetenv("DESKTOP_SESSION");
    if (session == "gnome" || session == "xubuntu" || session.contains("xfce"))
        return false;
    if (session == "kde" || session == "kde4")
        return true;
    return qEnvironmentVariableIsEmpty("GNOME_DESKTOP_SESSION_ID") &&
           !qEnvironmentVariableIsEmpty("KDE_FULL_SESSION");
}

QCoro::Task<std::optional<QDBusPendingReply<QList<QDBusObjectPath>, QList<QDBusObjectPath>>>>
searchItems(QDBusConnection bus, QMap<QString, QString> attributes)
{
    static const QMetaType registered = qDBusRegisterMetaType<QMap<QString, QString>>();
    Q_UNUSED(registered)
    QDBusMessage search = secretCall(secretServicePath, secretServiceInterface, "SearchItems");
    search << QVariant::fromValue(attributes);
    QDBusPendingReply<QList<QDBusObjectPath>, QList<QDBusObjectPath>> found = bus.asyncCall(search);
    co_await found;
    if (!found.isValid())
        co_return std::nullopt;
    co_return found;
}

// The key as QtKeychain keeps it behind the Secret Service, read over the
// bus without QtKeychain: its lookup goes through libsecret, which brings
// GLib's GIO with it, and they stay mapped for the rest of the process (4 MiB
// of an idle tray program). The item is found by the attributes QtKeychain
// gives it, and read through a "plain" session: the secret crosses only the
// user's own session bus, whose other clients could as well ask the keyring
// for it. Nothing certain here (a locked item, a key kept as binary, KWallet,
// a service that does not answer) leaves the read to QtKeychain (nothing).
struct DirectRead
{
    // Nothing at all under the key's name; otherwise the key's bytes.
    bool absent = false;
    QByteArray bytes;
};

QCoro::Task<std::optional<DirectRead>> readDirectly(QDBusConnection bus)
{
    if (kdeDesktop() || !bus.isConnected())
        co_return std::nullopt;
    QMap<QString, QString> attributes{{QStringLiteral("user"), KeychainService::apiKeyAccount()},
                                      {QStringLiteral("server"), KeychainService::service()}};
    // The type QtKeychain gives a key stored as text, as it looks first.
    attributes.insert(QStringLiteral("type"), QStringLiteral("plaintext"));
    auto searching = searchItems(bus, attributes);
    const auto texts = co_await std::move(searching);
    if (!texts)
        co_return std::nullopt;
    if (texts->argumentAt<0>().isEmpty()) {
        if (!texts->argumentAt<1>().isEmpty())
            co_return std::nullopt;
        attributes.remove(QStringLiteral("type"));
        auto searchingAny = searchItems(bus, attributes);
        const auto any = co_await std::move(searchingAny);
        if (!any || !any->argumentAt<0>().isEmpty() || !any->argumentAt<1>().isEmpty())
            co_return std::nullopt;
        co_return DirectRead{true, {}};
    }

    QDBusMessage open = secretCall(secretServicePath, secretServiceInterface, "OpenSession");
    open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
    QDBusPendingReply<QDBusVariant, QDBusObjectPath> opening = bus.asyncCall(open);
    co_await opening;
    if (!opening.isValid())
        co_return std::nullopt;
    const QDBusObjectPath session = opening.argumentAt<1>();
    QDBusMessage get = secretCall(texts->argumentAt<0>().constFirst().path(),
                                  QStringLiteral("org.freedesktop.Secret.Item"), "GetSecret");
    get << QVariant::fromValue(session);
    QDBusPendingReply<> getting = bus.asyncCall(get);
    co_await getting;
    bus.asyncCall(secretCall(session.path(), QStringLiteral("org.freedesktop.Secret.Session"), "Close"));
    const QVariantList answer = getting.reply().arguments();
    if (getting.isError() || answer.size() != 1)
        co_return std::nullopt;
    QDBusObjectPath secretSession;
    QByteArray parameters;
    DirectRead read;
    QString contentType;
    const QDBusArgument secret = answer.constFirst().value<QDBusArgument>();
    secret.beginStructure();
    secret >> secretSession >> parameters >> read.bytes >> contentType;
    secret.endStructure();
    // libsecret hands QtKeychain only a text secret.
    if (!contentType.startsWith(QLatin1String("text/plain")))
        co_return std::nullopt;
    co_return read;
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
    // The thread has to end before the application object goes away; later
    // calls then fail at once instead of waiting for a thread that is gone.
    if (QCoreApplication::instance())
        qAddPostRoutine([] { shared().stop(); });
}

void KeychainService::stop()
{
    QThread *thread = nullptr;
    {
        std::lock_guard guard(m_threadLock);
        if (m_stopped.exchange(true))
            return;
        thread = m_thread;
    }
    if (!thread)
        return;
    thread->quit();
    thread->wait(QDeadlineTimer(2000));
}

bool KeychainService::post(std::function<void()> work)
{
    std::lock_guard guard(m_threadLock);
    if (m_stopped.load())
        return false;
    // Started with the first job: a program that only reads its key (see
    // readDirectly) never has one.
    if (!m_thread) {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("Keychain"));
        m_context = new KeychainContext;
        m_context->moveToThread(m_thread);
        QObject::connect(m_thread, &QThread::finished, m_context, &QObject::deleteLater);
        m_thread->start();
    }
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
    auto readingDirectly = readDirectly(QDBusConnection::sessionBus());
    const std::optional<DirectRead> direct = co_await std::move(readingDirectly);
    std::optional<QString> key;
    if (direct) {
        if (!direct->absent)
            key = keyFromBytes(direct->bytes);
    } else {
        auto reading = run([] {
            auto *job = new QKeychain::ReadPasswordJob(service());
            job->setKey(apiKeyAccount());
            return job;
        });
        const Outcome outcome = co_await std::move(reading);
        // A store that cannot be reached counts as holding nothing, once:
        // asking again would only make the user wait again.
        if (outcome.error == QKeychain::NoError)
            key = keyFromBytes(outcome.data);
    }
    {
        std::lock_guard guard(m_lock);
        if (m_remembered.writes == writesBefore)
            m_remembered.key = key;
    }
    co_return key;
}

QCoro::Task<bool> KeychainService::deleteAPIKeyAsync()
{
    auto deleting = run([] {
        auto *job = new QKeychain::DeletePasswordJob(service());
        job->setKey(apiKeyAccount());
        return job;
    });
    const Outcome outcome = co_await std::move(deleting);
    const bool gone = outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound;
    remember(gone ? std::optional<std::optional<QString>>(std::optional<QString>()) : std::nullopt, true);
    co_return gone;
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
        waitFor<bool>([this] { return deleteAPIKeyAsync(); });
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

namespace {

// Owned on bus, or startable on demand.
QCoro::Task<bool> nameAvailable(QDBusConnection bus, QString name)
{
    if (!bus.isConnected())
        co_return false;
    QDBusMessage owner = busCall("NameHasOwner");
    owner << name;
    QDBusPendingReply<bool> owned = bus.asyncCall(owner);
    co_await owned;
    if (owned.isValid() && owned.value())
        co_return true;
    QDBusPendingReply<QStringList> activatable = bus.asyncCall(busCall("ListActivatableNames"));
    co_await activatable;
    co_return activatable.isValid() && activatable.value().contains(name);
}

} // namespace

QCoro::Task<bool> KeychainService::secretServiceExistsAsync()
{
    auto asking = nameAvailable(QDBusConnection::sessionBus(), secretServiceName);
    co_return co_await std::move(asking);
}

QCoro::Task<std::optional<bool>> KeychainService::lockedAsync()
{
    auto probing = secretServiceExistsAsync();
    if (!co_await std::move(probing))
        co_return std::nullopt;
    auto reading = defaultCollection(QDBusConnection::sessionBus());
    const std::optional<DefaultCollection> collection = co_await std::move(reading);
    if (!collection)
        co_return std::nullopt;
    co_return collection->locked;
}

QCoro::Task<KeyringReadiness> KeychainService::unlockAsync()
{
    auto probing = secretServiceExistsAsync();
    if (!co_await std::move(probing))
        co_return KeyringReadiness::unavailable;
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto reading = defaultCollection(bus);
    const std::optional<DefaultCollection> collection = co_await std::move(reading);
    // A service that does not answer these calls is left to the store to
    // judge; so is a keyring that makes its first collection on demand.
    if (!collection || !collection->locked)
        co_return KeyringReadiness::ready;

    QDBusMessage unlock = secretCall(secretServicePath, secretServiceInterface, "Unlock");
    unlock << QVariant::fromValue(QList<QDBusObjectPath>{collection->path});
    QDBusPendingReply<QList<QDBusObjectPath>, QDBusObjectPath> unlocking = bus.asyncCall(unlock);
    co_await unlocking;
    if (!unlocking.isValid())
        co_return KeyringReadiness::lockedNoPrompter;
    const QString prompt = unlocking.argumentAt<1>().path();
    if (prompt == QLatin1String("/"))
        co_return unlocking.argumentAt<0>().contains(collection->path) ? KeyringReadiness::ready
                                                                       : KeyringReadiness::lockedNoPrompter;

    // The prompt belongs to this connection: it is shown, and answered,
    // through the same one.
    PromptWatch watch;
    bus.connect(secretServiceName, prompt, promptInterface, QStringLiteral("Completed"), &watch,
                SLOT(completed(bool, QDBusVariant)));
    QDBusMessage show = secretCall(prompt, promptInterface, "Prompt");
    show << QString();
    QDBusPendingReply<> showing = bus.asyncCall(show);
    auto answered = qCoro(&watch, &PromptWatch::finished, operationBound);
    co_await showing;
    // gnome-keyring without a prompter to start (no desktop session on this
    // bus) fails the call itself.
    if (!showing.isValid()) {
        bus.disconnect(secretServiceName, prompt, promptInterface, QStringLiteral("Completed"), &watch,
                       SLOT(completed(bool, QDBusVariant)));
        co_return KeyringReadiness::lockedNoPrompter;
    }
    const std::optional<bool> dismissed = co_await std::move(answered);
    bus.disconnect(secretServiceName, prompt, promptInterface, QStringLiteral("Completed"), &watch,
                   SLOT(completed(bool, QDBusVariant)));
    if (!dismissed)
        co_return KeyringReadiness::lockedNoPrompter;
    if (!*dismissed)
        co_return KeyringReadiness::ready;
    // gnome-keyring answers "dismissed" at once, too, when it finds nobody
    // to show its prompt (no desktop session on this bus).
    auto asking = nameAvailable(bus, QStringLiteral("org.gnome.keyring.SystemPrompter"));
    co_return co_await std::move(asking) ? KeyringReadiness::lockedDismissed
                                         : KeyringReadiness::lockedNoPrompter;
}

void KeychainService::requireReady(KeyringReadiness readiness)
{
    switch (readiness) {
    case KeyringReadiness::ready:
        return;
    case KeyringReadiness::unavailable:
        throw KeychainError::unavailable();
    case KeyringReadiness::lockedNoPrompter:
        throw KeychainError::locked(QStringLiteral("no prompt to unlock it can be shown in this session"));
    case KeyringReadiness::lockedDismissed:
        break;
    }
    throw KeychainError::locked(QStringLiteral("the prompt to unlock it was dismissed"));
}

void KeychainService::forgetRemembered()
{
    std::lock_guard guard(m_lock);
    ++m_remembered.writes;
    m_remembered.key.reset();
}

} // namespace sendova

#include "KeychainService.moc"
