#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace sendova::server {

// Incremental SHA-256 over OpenSSL's EVP interface (uses the CPU's SHA
// instructions where present).
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void update(const void *data, std::size_t size);
    // Lower-case hex digest; the object cannot be updated afterwards.
    std::string finalHex();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

std::string sha256Hex(std::string_view data);

std::string randomBytes(std::size_t count);
// URL-safe base64 without padding: safe in query strings and headers as is.
std::string randomToken(std::size_t byteCount);
// Letters and digits only, uniformly drawn.
std::string randomAlphanumeric(std::size_t length);

std::string base64UrlEncode(std::string_view bytes);
std::string base64UrlDecode(std::string_view text, bool *ok);

bool constantTimeEquals(std::string_view a, std::string_view b);

inline constexpr int DefaultPasswordIterations = 600000;

// "pbkdf2-sha256$<iterations>$<salt>$<hash>", salt and hash in base64url.
std::string hashPassword(std::string_view password, int iterations = DefaultPasswordIterations);
bool verifyPassword(std::string_view password, std::string_view encoded);

bool isLowerHex(std::string_view text);

} // namespace sendova::server
