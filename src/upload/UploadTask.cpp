#include "upload/UploadTask.h"

namespace sendova {

void UploadTask::cancel()
{
    std::function<void()> abort;
    {
        std::lock_guard guard(m_lock);
        if (m_cancelled)
            return;
        m_cancelled = true;
        abort = m_abort;
    }
    // Outside the lock: aborting may call back into code that asks
    // isCancelled().
    if (abort)
        abort();
}

bool UploadTask::isCancelled() const
{
    std::lock_guard guard(m_lock);
    return m_cancelled;
}

void UploadTask::setAbortHandler(std::function<void()> abort)
{
    bool runNow = false;
    {
        std::lock_guard guard(m_lock);
        m_abort = abort;
        runNow = m_cancelled && abort;
    }
    if (runNow)
        abort();
}

} // namespace sendova
