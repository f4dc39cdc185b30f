#pragma once

#include <chrono>
#include <functional>

namespace sendova::server {

using TimePoint = std::chrono::system_clock::time_point;

// Expiry is decided against this instead of the system clock directly, so the
// tests can move time forward rather than wait for it.
using Clock = std::function<TimePoint()>;

inline Clock systemClock()
{
    return [] { return std::chrono::system_clock::now(); };
}

inline std::int64_t toMillis(TimePoint t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

inline TimePoint fromMillis(std::int64_t ms)
{
    return TimePoint(std::chrono::milliseconds(ms));
}

} // namespace sendova::server
