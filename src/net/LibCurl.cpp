#include "net/LibCurl.h"

#include <QtGlobal>

#include <dlfcn.h>

namespace sendova {

namespace {

// The soname of the OpenSSL flavour of libcurl that the program is built
// against (Debian's libcurl4).
constexpr const char *soname = "libcurl.so.4";

template<typename Function>
void resolve(void *library, Function &function, const char *name)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (!function)
        qFatal("%s lacks %s", soname, name);
}

LibCurl load()
{
    void *library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        qFatal("cannot load %s: %s", soname, ::dlerror());
    LibCurl curl{};
    resolve(library, curl.global_init, "curl_global_init");
    resolve(library, curl.easy_init, "curl_easy_init");
    resolve(library, curl.easy_cleanup, "curl_easy_cleanup");
    resolve(library, curl.easy_reset, "curl_easy_reset");
    resolve(library, curl.easy_setopt, "curl_easy_setopt");
    resolve(library, curl.easy_getinfo, "curl_easy_getinfo");
    resolve(library, curl.easy_strerror, "curl_easy_strerror");
    resolve(library, curl.multi_init, "curl_multi_init");
    resolve(library, curl.multi_cleanup, "curl_multi_cleanup");
    resolve(library, curl.multi_add_handle, "curl_multi_add_handle");
    resolve(library, curl.multi_remove_handle, "curl_multi_remove_handle");
    resolve(library, curl.multi_perform, "curl_multi_perform");
    resolve(library, curl.multi_poll, "curl_multi_poll");
    resolve(library, curl.multi_wakeup, "curl_multi_wakeup");
    resolve(library, curl.multi_info_read, "curl_multi_info_read");
    resolve(library, curl.slist_append, "curl_slist_append");
    resolve(library, curl.slist_free_all, "curl_slist_free_all");
    curl.global_init(CURL_GLOBAL_DEFAULT);
    return curl;
}

} // namespace

const LibCurl &libCurl()
{
    static const LibCurl curl = load();
    return curl;
}

} // namespace sendova
