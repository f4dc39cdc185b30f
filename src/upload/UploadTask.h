#pragma once

#include "support/Error.h"

#include <functional>
#include <mutex>

namespace sendova {

// The handle of one running upload. Cancelling is cooperative: the workflow
// looks at isCancelled() at its checks, and a transfer in flight is aborted
// through the handler the workflow attaches while it runs.
class UploadTask
{
public:
    // Thread-safe; later calls do nothing.
    void cancel();
    bool isCancelled() const;

    // Runs abort now if the task is already cancelled. Pass {} to detach.
    void setAbortHandler(std::function<void()> abort);

private:
    mutable std::mutex m_lock;
    bool m_cancelled = false;
    std::function<void()> m_abort;
};

// Raised by the workflow's cancellation checks.
class CancellationError : public Error
{
public:
    CancellationError() : Error(QStringLiteral("Cancelled by user")) {}
};

} // namespace sendova
