#pragma once

#include <QEventLoop>

#include <QCoroTask>

#include <exception>
#include <optional>
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

} // namespace detail

// Runs a nested event loop until the task ends, then returns its value or
// rethrows its exception. QCoro::waitFor() of QCoro 0.8 never returns when
// the task throws, which is exactly what most tests here want to see.
template<typename T>
T blockingWait(QCoro::Task<T> task)
{
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
