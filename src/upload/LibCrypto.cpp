#include "upload/LibCrypto.h"

#include "support/SharedLibrary.h"

namespace sendova {

namespace {

// The soname of the OpenSSL the program is built against (Debian 12: 3).
constexpr const char *soname = "libcrypto.so.3";

LibCrypto load()
{
    const SharedLibrary library(soname);
    LibCrypto crypto{};
    library.resolve(crypto.MD_CTX_new, "EVP_MD_CTX_new");
    library.resolve(crypto.MD_CTX_free, "EVP_MD_CTX_free");
    library.resolve(crypto.sha256, "EVP_sha256");
    library.resolve(crypto.DigestInit_ex, "EVP_DigestInit_ex");
    library.resolve(crypto.DigestUpdate, "EVP_DigestUpdate");
    library.resolve(crypto.DigestFinal_ex, "EVP_DigestFinal_ex");
    return crypto;
}

} // namespace

const LibCrypto &libCrypto()
{
    static const LibCrypto crypto = load();
    return crypto;
}

} // namespace sendova
