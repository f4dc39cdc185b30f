#pragma once

#include <openssl/evp.h>

namespace sendova {

// OpenSSL's digests, loaded with the first file hashed rather than with the
// program, for the same reason as libcurl (net/LibCurl.h): an idle tray
// program has no use for them.
struct LibCrypto
{
    decltype(&::EVP_MD_CTX_new) MD_CTX_new;
    decltype(&::EVP_MD_CTX_free) MD_CTX_free;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_DigestInit_ex) DigestInit_ex;
    decltype(&::EVP_DigestUpdate) DigestUpdate;
    decltype(&::EVP_DigestFinal_ex) DigestFinal_ex;
};

// Loaded once, from any thread; without it the program says so and ends.
const LibCrypto &libCrypto();

} // namespace sendova
