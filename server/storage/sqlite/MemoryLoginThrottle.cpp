#include "storage/sqlite/MemoryLoginThrottle.h"

#include <algorithm>

namespace sendova::server {

namespace {
constexpr std::size_t RecordsBeforeCleaning = 4096;
} // namespace

MemoryLoginThrottle::MemoryLoginThrottle(Clock clock) : m_clock(std::move(clock)) {}

std::optional<std::chrono::seconds> MemoryLoginThrottle::admit(const std::string &userName,
                                                               const std::string &address)
{
    const auto now = m_clock();
    std::lock_guard lock(m_mutex);
    TimePoint allowedFrom = now;
    for (const auto *records : {&m_users, &m_addresses}) {
        const auto &key = records == &m_users ? userName : address;
        if (const auto found = records->find(key);
            found != records->end() && now - found->second.last < throttle::Memory) {
            allowedFrom = std::max(allowedFrom, found->second.allowedFrom);
        }
    }
    if (allowedFrom > now) {
        return std::chrono::ceil<std::chrono::seconds>(allowedFrom - now);
    }
    count(m_users, userName, throttle::FreeUserAttempts, now);
    count(m_addresses, address, throttle::FreeAddressAttempts, now);
    return std::nullopt;
}

void MemoryLoginThrottle::succeeded(const std::string &userName, const std::string &address)
{
    std::lock_guard lock(m_mutex);
    m_users.erase(userName);
    // Only this attempt is taken back: a user who can log in must not be able
    // to wipe the failures of guesses at other accounts from the same address.
    if (const auto found = m_addresses.find(address); found != m_addresses.end()) {
        auto &record = found->second;
        record.attempts = std::max(record.attempts - 1, 0);
        record.allowedFrom =
            record.last + throttle::delayAfter(record.attempts, throttle::FreeAddressAttempts);
    }
}

void MemoryLoginThrottle::count(Records &records, const std::string &key, int freeAttempts, TimePoint now)
{
    if (records.size() >= RecordsBeforeCleaning) {
        forgetOld(records, now);
    }
    auto &record = records[key];
    if (now - record.last >= throttle::Memory) {
        record.attempts = 0;
    }
    ++record.attempts;
    record.last = now;
    record.allowedFrom = now + throttle::delayAfter(record.attempts, freeAttempts);
}

void MemoryLoginThrottle::forgetOld(Records &records, TimePoint now)
{
    std::erase_if(records, [now](const auto &entry) { return now - entry.second.last >= throttle::Memory; });
}

} // namespace sendova::server
