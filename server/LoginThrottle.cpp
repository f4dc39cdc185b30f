#include "LoginThrottle.h"

#include <algorithm>

namespace sendova::server {

namespace {

constexpr int FreeUserAttempts = 5;
// Several people behind one address (an office, a proxy) share this.
constexpr int FreeAddressAttempts = 20;
constexpr auto FirstDelay = std::chrono::seconds(1);
constexpr auto LongestDelay = std::chrono::minutes(10);
constexpr auto Memory = std::chrono::hours(1);
constexpr std::size_t RecordsBeforeCleaning = 4096;

std::chrono::seconds delayAfter(int attempts, int freeAttempts)
{
    if (attempts <= freeAttempts) {
        return std::chrono::seconds(0);
    }
    // Doubling past the longest delay would only overflow.
    const int doublings = std::min(attempts - freeAttempts - 1, 20);
    return std::min<std::chrono::seconds>(FirstDelay * (1 << doublings), LongestDelay);
}

} // namespace

LoginThrottle::LoginThrottle(Clock clock) : m_clock(std::move(clock)) {}

std::optional<std::chrono::seconds> LoginThrottle::admit(const std::string &userName,
                                                         const std::string &address)
{
    const auto now = m_clock();
    std::lock_guard lock(m_mutex);
    TimePoint allowedFrom = now;
    for (const auto *records : {&m_users, &m_addresses}) {
        const auto &key = records == &m_users ? userName : address;
        if (const auto found = records->find(key);
            found != records->end() && now - found->second.last < Memory) {
            allowedFrom = std::max(allowedFrom, found->second.allowedFrom);
        }
    }
    if (allowedFrom > now) {
        return std::chrono::ceil<std::chrono::seconds>(allowedFrom - now);
    }
    count(m_users, userName, FreeUserAttempts, now);
    count(m_addresses, address, FreeAddressAttempts, now);
    return std::nullopt;
}

void LoginThrottle::succeeded(const std::string &userName, const std::string &address)
{
    std::lock_guard lock(m_mutex);
    m_users.erase(userName);
    // Only this attempt is taken back: a user who can log in must not be able
    // to wipe the failures of guesses at other accounts from the same address.
    if (const auto found = m_addresses.find(address); found != m_addresses.end()) {
        auto &record = found->second;
        record.attempts = std::max(record.attempts - 1, 0);
        record.allowedFrom = record.last + delayAfter(record.attempts, FreeAddressAttempts);
    }
}

void LoginThrottle::count(Records &records, const std::string &key, int freeAttempts, TimePoint now)
{
    if (records.size() >= RecordsBeforeCleaning) {
        forgetOld(records, now);
    }
    auto &record = records[key];
    if (now - record.last >= Memory) {
        record.attempts = 0;
    }
    ++record.attempts;
    record.last = now;
    record.allowedFrom = now + delayAfter(record.attempts, freeAttempts);
}

void LoginThrottle::forgetOld(Records &records, TimePoint now)
{
    std::erase_if(records, [now](const auto &entry) { return now - entry.second.last >= Memory; });
}

} // namespace sendova::server
