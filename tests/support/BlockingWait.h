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
#include <stop_token>
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
// outside the event loop; destroying it stops it.
inline std::jthread watchdog(std::chrono::seconds limit)
{
    return std::jthread([limit](std::stop_token stop) {
        std::mutex lock;
        std::condition_variable_any stopped;
        std::unique_lock guard(lock);
        if (stopped.wait_for(guard, stop, limit, [&stop] { return stop.stop_requested(); }))
            return;
        std::fprintf(stderr, "FAIL!  : blockingWait: the task did not end within %llds\n",
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::abort();
    });
}

} // namespace detail

// Runs a nested event loop until the task ends, then returns its value or
// rethrows its exception. QCoro::waitFor() of QCoro 0.8 never returns when
// the task throws, which is exactly what most tests here want to see. A task
// still running after `limit` fails the test with a message rather than
// leaving it to hang until ctest gives up.
template<typename T>
T blockingWait(QCoro::Task<T> task, std::chrono::seconds limit = std::chrono::seconds(20))
{
    const std::jthread timer = detail::watchdog(limit);
    detail::BlockingState<T> state;
    QCoro::Task<> driver = detail::drive(std::move(task), state);
    // A quit asked for meanwhile (the program under test ending, say) ends
    // every running event loop, this one too; the task would then resume
    // into a state that is gone.
    while (!state.done)
        state.loop.exec();
    if (state.error)
        std::rethrow_exception(state.error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state.result);
}

} // namespace sendova::test
