#pragma once

#include "Clock.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace sendova::server {

// Slows password guessing down. Every login attempt counts against its user
// name and against the address it comes from; past a few free attempts each
// further one must wait, twice as long as the one before, until a login of
// that user succeeds or the attempts are an hour old. An attempt is counted
// when it is admitted, so guesses sent in parallel gain nothing.
class LoginThrottle
{
public:
    explicit LoginThrottle(Clock clock);

    // Counts the attempt, or returns how long to wait before one is allowed.
    std::optional<std::chrono::seconds> admit(const std::string &userName, const std::string &address);
    // The user's count starts again; the address keeps its earlier failures.
    void succeeded(const std::string &userName, const std::string &address);

private:
    struct Record
    {
        int attempts = 0;
        TimePoint last;
        TimePoint allowedFrom;
    };
    using Records = std::map<std::string, Record>;

    void count(Records &records, const std::string &key, int freeAttempts, TimePoint now);
    void forgetOld(Records &records, TimePoint now);

    Clock m_clock;
    std::mutex m_mutex;
    Records m_users;
    Records m_addresses;
};

} // namespace sendova::server
