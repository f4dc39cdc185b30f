#include "upload/LibCrypto.h"

#include <QtGlobal>

#include <dlfcn.h>

namespace sendova {

namespace {

// The soname of the OpenSSL the program is built against (Debian 12: 3).
constexpr const char *soname = "libcrypto.so.3";

template<typename Function>
void resolve(void *library, Function &function, const char *name)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (!function)
        qFatal("%s lacks %s", soname, name);
}

LibCrypto load()
{
    void *library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        qFatal("cannot load %s: %s", soname, ::dlerror());
    LibCrypto crypto{};
    resolve(library, crypto.MD_CTX_new, "EVP_MD_CTX_new");
    resolve(library, crypto.MD_CTX_free, "EVP_MD_CTX_free");
    resolve(library, crypto.sha256, "EVP_sha256");
    resolve(library, crypto.DigestInit_ex, "EVP_DigestInit_ex");
    resolve(library, crypto.DigestUpdate, "EVP_DigestUpdate");
    resolve(library, crypto.DigestFinal_ex, "EVP_DigestFinal_ex");
    return crypto;
}

} // namespace

const LibCrypto &libCrypto()
{
    static const LibCrypto crypto = load();
    return crypto;
}

} // namespace sendova
