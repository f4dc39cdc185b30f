#include "core/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <stdexcept>
#include <vector>

namespace sendova::server {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";
constexpr std::string_view Base64UrlAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view PasswordScheme = "pbkdf2-sha256";
constexpr std::size_t SaltBytes = 16;
constexpr std::size_t DerivedBytes = 32;

std::string toHex(const unsigned char *data, std::size_t size)
{
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(HexDigits[data[i] >> 4]);
        out.push_back(HexDigits[data[i] & 0x0f]);
    }
    return out;
}

std::string pbkdf2(std::string_view password, std::string_view salt, int iterations)
{
    std::string out(DerivedBytes, '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.data()), static_cast<int>(salt.size()),
                          iterations, EVP_sha256(), static_cast<int>(out.size()),
                          reinterpret_cast<unsigned char *>(out.data())) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return out;
}

} // namespace

struct Sha256::Context
{
    EVP_MD_CTX *ctx = nullptr;
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    m_context->ctx = EVP_MD_CTX_new();
    if (!m_context->ctx || EVP_DigestInit_ex(m_context->ctx, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(m_context->ctx);
        throw std::runtime_error("SHA-256 is not available");
    }
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context->ctx);
}

void Sha256::update(const void *data, std::size_t size)
{
    if (EVP_DigestUpdate(m_context->ctx, data, size) != 1) {
        throw std::runtime_error("SHA-256 update failed");
    }
}

std::string Sha256::finalHex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context->ctx, digest, &length) != 1) {
        throw std::runtime_error("SHA-256 final failed");
    }
    return toHex(digest, length);
}

std::string sha256Hex(std::string_view data)
{
    Sha256 hash;
    hash.update(data.data(), data.size());
    return hash.finalHex();
}

std::string randomBytes(std::size_t count)
{
    std::string out(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(out.data()), static_cast<int>(count)) != 1) {
        throw std::runtime_error("no random bytes available");
    }
    return out;
}

std::string randomToken(std::size_t byteCount)
{
    return base64UrlEncode(randomBytes(byteCount));
}

std::string randomAlphanumeric(std::size_t length)
{
    static constexpr std::string_view Alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string out;
    out.reserve(length);
    while (out.size() < length) {
        for (unsigned char byte : randomBytes(length)) {
            // 248 = 4 * 62: rejecting the rest keeps every character equally likely.
            if (byte < 248 && out.size() < length) {
                out.push_back(Alphabet[byte % Alphabet.size()]);
            }
        }
    }
    return out;
}

std::string base64UrlEncode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(Base64UrlAlphabet[(v >> 18) & 63]);
        out.push_back(Base64UrlAlphabet[(v >> 12) & 63]);
        out.push_back(Base64UrlAlphabet[(v >> 6) & 63]);
        out.push_back(Base64UrlAlphabet[v & 63]);
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out.push_back(Base64UrlAlphabet[(v >> 18) & 63]);
        out.push_back(Base64UrlAlphabet[(v >> 12) & 63]);
    } else if (i + 2 == bytes.size()) {
        const unsigned v =
            (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out.push_back(Base64UrlAlphabet[(v >> 18) & 63]);
        out.push_back(Base64UrlAlphabet[(v >> 12) & 63]);
        out.push_back(Base64UrlAlphabet[(v >> 6) & 63]);
    }
    return out;
}

std::string base64UrlDecode(std::string_view text, bool *ok)
{
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    *ok = text.size() % 4 != 1;
    for (char c : text) {
        const auto index = Base64UrlAlphabet.find(c);
        if (index == std::string_view::npos) {
            *ok = false;
            return {};
        }
        buffer = (buffer << 6) | static_cast<unsigned>(index);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xff));
        }
    }
    return out;
}

bool constantTimeEquals(std::string_view a, std::string_view b)
{
    // The lengths of what is compared here (hex digests, derived keys) are
    // public, so only the contents need the constant-time compare.
    if (a.size() != b.size()) {
        return false;
    }
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string hashPassword(std::string_view password, int iterations)
{
    if (iterations < 1) {
        throw std::invalid_argument("iteration count must be positive");
    }
    const std::string salt = randomBytes(SaltBytes);
    return std::string(PasswordScheme) + '$' + std::to_string(iterations) + '$' + base64UrlEncode(salt) +
           '$' + base64UrlEncode(pbkdf2(password, salt, iterations));
}

bool verifyPassword(std::string_view password, std::string_view encoded)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const auto end = encoded.find('$', start);
        fields.push_back(encoded.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    if (fields.size() != 4 || fields[0] != PasswordScheme) {
        return false;
    }
    int iterations = 0;
    const auto [ptr, ec] = std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), iterations);
    if (ec != std::errc() || ptr != fields[1].data() + fields[1].size() || iterations < 1) {
        return false;
    }
    bool saltOk = false;
    bool hashOk = false;
    const std::string salt = base64UrlDecode(fields[2], &saltOk);
    const std::string expected = base64UrlDecode(fields[3], &hashOk);
    if (!saltOk || !hashOk || expected.size() != DerivedBytes) {
        return false;
    }
    return constantTimeEquals(pbkdf2(password, salt, iterations), expected);
}

bool isLowerHex(std::string_view text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

} // namespace sendova::server
