#include "storage/LoginThrottle.h"

#include <algorithm>

namespace sendova::server::throttle {

namespace {
constexpr auto FirstDelay = std::chrono::seconds(1);
constexpr auto LongestDelay = std::chrono::minutes(10);
} // namespace

std::chrono::seconds delayAfter(int attempts, int freeAttempts)
{
    if (attempts <= freeAttempts) {
        return std::chrono::seconds(0);
    }
    // Doubling past the longest delay would only overflow.
    const int doublings = std::min(attempts - freeAttempts - 1, 20);
    return std::min<std::chrono::seconds>(FirstDelay * (1 << doublings), LongestDelay);
}

} // namespace sendova::server::throttle
