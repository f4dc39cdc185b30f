#include "config/KeychainService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringDecoder>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <future>
#include <memory>

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

QString KeychainError::description() const
{
    switch (m_kind) {
    case Kind::unableToStore:
        return QLatin1String("Failed to store in Keychain (status: ") + QString::number(m_status) +
               QLatin1Char(')');
    case Kind::encodingFailed:
        break;
    }
    return QStringLiteral("Failed to encode API key");
}

namespace {

// Lives on the keychain thread; only there to give queued calls a home.
class KeychainContext : public QObject
{
public:
    using QObject::QObject;
};

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

KeychainService::Outcome KeychainService::run(std::function<QKeychain::Job *()> makeJob) const
{
    if (m_stopped.load())
        return {};
    auto promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> future = promise->get_future();
    QMetaObject::invokeMethod(
        m_context,
        [makeJob = std::move(makeJob), promise] {
            QKeychain::Job *job = makeJob();
            // A job that outlives the caller's wait must still clean itself
            // up, and must not be deleted while the backend holds it: QtKeychain
            // frees it after it has finished, on this thread.
            job->setAutoDelete(true);
            QObject::connect(job, &QKeychain::Job::finished, job, [promise](QKeychain::Job *finished) {
                Outcome outcome;
                outcome.finished = true;
                outcome.error = finished->error();
                outcome.errorString = finished->errorString();
                if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(finished))
                    outcome.data = read->binaryData();
                promise->set_value(std::move(outcome));
            });
            job->start();
        },
        Qt::QueuedConnection);
    if (future.wait_for(operationBound) != std::future_status::ready)
        return {};
    return future.get();
}

void KeychainService::saveAPIKey(const QString &key) const
{
    // QString::toUtf8 would quietly turn a lone surrogate into U+FFFD and
    // store a different key than the one given.
    if (!key.isValidUtf16())
        throw KeychainError::encodingFailed();
    const Outcome outcome = run([key] {
        auto *job = new QKeychain::WritePasswordJob(service());
        job->setKey(apiKeyAccount());
        job->setTextData(key);
        return job;
    });
    if (!outcome.finished)
        throw KeychainError::unableToStore(QKeychain::OtherError,
                                           QStringLiteral("no answer from the secret store in time"));
    if (outcome.error != QKeychain::NoError)
        throw KeychainError::unableToStore(outcome.error, outcome.errorString);
}

std::optional<QString> KeychainService::loadAPIKey() const
{
    const Outcome outcome = run([] {
        auto *job = new QKeychain::ReadPasswordJob(service());
        job->setKey(apiKeyAccount());
        return job;
    });
    if (!outcome.finished || outcome.error != QKeychain::NoError)
        return std::nullopt;
    // A leading U+FEFF is part of the key, not a byte-order mark.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString key = decoder.decode(outcome.data);
    if (decoder.hasError())
        return std::nullopt;
    return key;
}

void KeychainService::deleteAPIKey() const
{
    run([] {
        auto *job = new QKeychain::DeletePasswordJob(service());
        job->setKey(apiKeyAccount());
        return job;
    });
}

} // namespace sendova
