#pragma once

#include "core/Clock.h"

#include <chrono>
#include <optional>
#include <string>

namespace sendova::server {

// Slows password guessing down. Every login attempt counts against its user
// name and against the address it comes from; past a few free attempts each
// further one must wait, twice as long as the one before, until a login of
// that user succeeds or the attempts are an hour old. An attempt is counted
// when it is admitted, so guesses sent in parallel gain nothing. Where the
// counts live is the backend's choice: in memory for one server, in the
// database for many that share it.
class LoginThrottle
{
public:
    virtual ~LoginThrottle() = default;

    // Counts the attempt, or returns how long to wait before one is allowed.
    virtual std::optional<std::chrono::seconds> admit(const std::string &userName,
                                                      const std::string &address) = 0;
    // The user's count starts again; the address keeps its earlier failures.
    virtual void succeeded(const std::string &userName, const std::string &address) = 0;
};

namespace throttle {
inline constexpr int FreeUserAttempts = 5;
// Several people behind one address (an office, a proxy) share this.
inline constexpr int FreeAddressAttempts = 20;
inline constexpr auto Memory = std::chrono::hours(1);
// The wait after the given number of attempts counted within Memory.
std::chrono::seconds delayAfter(int attempts, int freeAttempts);

// The attempts counted against one user name or one address.
struct Record
{
    int attempts = 0;
    TimePoint last;
    TimePoint allowedFrom;
};
// When this record lets the next attempt in: never later than now once it is forgotten.
TimePoint allowedFrom(const Record &record, TimePoint now);
void count(Record &record, int freeAttempts, TimePoint now);
// A successful login takes back its own attempt only: a user who can log in
// must not be able to wipe the failures of guesses at other accounts from
// the same address.
void takeBackOne(Record &record, int freeAttempts);
} // namespace throttle

} // namespace sendova::server
