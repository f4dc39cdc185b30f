#pragma once

#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <QCoroTask>

#include <functional>

namespace sendova {

// SHA-256 of local files, one at a time on a thread of its own.
class HashService
{
public:
    // Called on the hashing thread after each 1 MiB chunk with bytes read so
    // far divided by the size the file had when it was opened (0.0 when that
    // size reads 0). Must be cheap and hand off to other threads itself.
    using ProgressHandler = std::function<void(double fraction)>;
    // Asked on the hashing thread before each chunk; true stops the hashing
    // there. Must be cheap and thread-safe.
    using StopCheck = std::function<bool()>;

    static constexpr qint64 chunkSize = 1024 * 1024;

    static HashService &shared();

    HashService(const HashService &) = delete;
    HashService &operator=(const HashService &) = delete;

    // Loads OpenSSL now rather than with the first file, for a caller that
    // has other waiting to do first. Any thread.
    static void preload();

    // "sha256:" followed by 64 lower-case hexadecimal digits. Throws
    // FileError when the file cannot be opened, examined, read or closed,
    // CancellationError when stop said so; also rethrows whatever the
    // progress handler throws. Requests made while one runs wait their turn,
    // so a stopped request frees the thread for the next one at once.
    QCoro::Task<QString> hashFile(QUrl fileUrl, ProgressHandler progress = {}, StopCheck stop = {});

private:
    HashService();

    QThreadPool m_pool;
};

} // namespace sendova
