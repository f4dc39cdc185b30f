#include "upload/HashService.h"

#include "net/FileError.h"
#include "upload/LibCrypto.h"
#include "upload/UploadTask.h"

#include <QFile>
#include <QFuture>
#include <QPromise>

#include <QCoroFuture>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace sendova {

namespace {

struct Outcome
{
    QString hash;
    std::exception_ptr error;
};

[[noreturn]] void failWithErrno(const QString &path)
{
    throw FileError::fromErrno(path, errno);
}

struct DigestContextDeleter
{
    void operator()(EVP_MD_CTX *context) const { libCrypto().MD_CTX_free(context); }
};

QString hashNow(const QString &path, const HashService::ProgressHandler &progress,
                const HashService::StopCheck &stop)
{
    const QByteArray nativePath = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (path.isEmpty() || fd < 0)
        failWithErrno(path);
    // Released on every way out; only the orderly end checks close's result.
    auto closer = std::unique_ptr<int, void (*)(int *)>(&fd, [](int *open) {
        if (*open >= 0)
            ::close(*open);
    });

    struct stat attributes;
    if (::stat(nativePath.constData(), &attributes) != 0)
        failWithErrno(path);
    const qint64 size = qint64(attributes.st_size);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(libCrypto().MD_CTX_new());
    if (!context || libCrypto().DigestInit_ex(context.get(), libCrypto().sha256(), nullptr) != 1)
        throw FileError(path, QStringLiteral("SHA-256 is not available"));

    const auto buffer = std::make_unique<unsigned char[]>(size_t(HashService::chunkSize));
    qint64 total = 0;
    for (;;) {
        if (stop && stop())
            throw CancellationError();
        // A short read is not the end of the file; fill the chunk so that
        // progress comes exactly once per 1 MiB.
        qint64 filled = 0;
        while (filled < HashService::chunkSize) {
            const ssize_t n = ::read(fd, buffer.get() + filled, size_t(HashService::chunkSize - filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                failWithErrno(path);
            if (n == 0)
                break;
            filled += n;
        }
        if (filled == 0)
            break;
        libCrypto().DigestUpdate(context.get(), buffer.get(), size_t(filled));
        total += filled;
        if (progress)
            progress(size > 0 ? double(total) / double(size) : 0.0);
        if (filled < HashService::chunkSize)
            break;
    }

    const int toClose = fd;
    fd = -1;
    if (::close(toClose) != 0)
        failWithErrno(path);

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    libCrypto().DigestFinal_ex(context.get(), digest, &length);
    return QStringLiteral("sha256:") +
           QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

} // namespace

void HashService::preload()
{
    libCrypto();
}

HashService &HashService::shared()
{
    // Leaked: its thread may still be hashing while static destructors run.
    static HashService *instance = new HashService;
    return *instance;
}

HashService::HashService()
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

QCoro::Task<QString> HashService::hashFile(QUrl fileUrl, ProgressHandler progress, StopCheck stop)
{
    auto promise = std::make_shared<QPromise<Outcome>>();
    QFuture<Outcome> future = promise->future();
    promise->start();
    m_pool.start(
        [promise, path = fileUrl.toLocalFile(), progress = std::move(progress), stop = std::move(stop)] {
            Outcome outcome;
            try {
                outcome.hash = hashNow(path, progress, stop);
            } catch (...) {
                outcome.error = std::current_exception();
            }
            promise->addResult(outcome);
            promise->finish();
        });
    const Outcome outcome = co_await future;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    co_return outcome.hash;
}

} // namespace sendova
