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
        if (const auto found = records->find(key); found != records->end()) {
            allowedFrom = std::max(allowedFrom, throttle::allowedFrom(found->second, now));
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
    if (const auto found = m_addresses.find(address); found != m_addresses.end()) {
        throttle::takeBackOne(found->second, throttle::FreeAddressAttempts);
    }
}

void MemoryLoginThrottle::count(Records &records, const std::string &key, int freeAttempts, TimePoint now)
{
    if (records.size() >= RecordsBeforeCleaning) {
        std::erase_if(records,
                      [now](const auto &entry) { return now - entry.second.last >= throttle::Memory; });
    }
    throttle::count(records[key], freeAttempts, now);
}

} // namespace sendova::server
