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

TimePoint allowedFrom(const Record &record, TimePoint now)
{
    return now - record.last < Memory ? std::max(now, record.allowedFrom) : now;
}

void count(Record &record, int freeAttempts, TimePoint now)
{
    if (now - record.last >= Memory) {
        record.attempts = 0;
    }
    ++record.attempts;
    record.last = now;
    record.allowedFrom = now + delayAfter(record.attempts, freeAttempts);
}

void takeBackOne(Record &record, int freeAttempts)
{
    record.attempts = std::max(record.attempts - 1, 0);
    record.allowedFrom = record.last + delayAfter(record.attempts, freeAttempts);
}

} // namespace sendova::server::throttle
