#pragma once

#include <QEventLoop>

#include <QCoroTask>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

namespace sendova::test {

namespace detail {

template<typename T>
struct BlockingState
{
    QEventLoop loop;
    bool done = false;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    std::exception_ptr error;
};

template<typename T>
QCoro::Task<> drive(QCoro::Task<T> task, BlockingState<T> &state)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await task;
        else
            state.result = co_await task;
    } catch (...) {
        state.error = std::current_exception();
    }
    state.done = true;
    state.loop.quit();
}

// Ends the process with a message when the waiting has not ended in time. A
// thread of its own, so that it fires even when the waiting thread is stuck
// outside the event loop.
class Watchdog
{
public:
    explicit Watchdog(std::chrono::seconds limit)
        : m_thread([this, limit] {
              std::unique_lock lock(m_lock);
              if (m_stopped.wait_for(lock, limit, [this] { return m_stop; }))
                  return;
              std::fprintf(stderr, "FAIL!  : blockingWait: the task did not end within %llds\n",
                           static_cast<long long>(limit.count()));
              std::fflush(stderr);
              std::abort();
          })
    {}
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_lock);
            m_stop = true;
        }
        m_stopped.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_stopped;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace detail

// Runs a nested event loop until the task ends, then returns its value or
// rethrows its exception. QCoro::waitFor() of QCoro 0.8 never returns when
// the task throws, which is exactly what most tests here want to see. A task
// still running after `limit` fails the test with a message rather than
// leaving it to hang until ctest gives up.
template<typename T>
T blockingWait(QCoro::Task<T> task, std::chrono::seconds limit = std::chrono::seconds(20))
{
    const detail::Watchdog watchdog(limit);
    detail::BlockingState<T> state;
    QCoro::Task<> driver = detail::drive(std::move(task), state);
    if (!state.done)
        state.loop.exec();
    if (state.error)
        std::rethrow_exception(state.error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state.result);
}

} // namespace sendova::test
