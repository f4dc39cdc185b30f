#pragma once

#include "storage/LoginThrottle.h"

#include <map>
#include <mutex>

namespace sendova::server {

// The counts of one server, in its memory: they start again with the server.
class MemoryLoginThrottle : public LoginThrottle
{
public:
    explicit MemoryLoginThrottle(Clock clock);

    std::optional<std::chrono::seconds> admit(const std::string &userName,
                                              const std::string &address) override;
    void succeeded(const std::string &userName, const std::string &address) override;

private:
    using Records = std::map<std::string, throttle::Record>;

    void count(Records &records, const std::string &key, int freeAttempts, TimePoint now);

    Clock m_clock;
    std::mutex m_mutex;
    Records m_users;
    Records m_addresses;
};

} // namespace sendova::server
