#include "net/LibCurl.h"

#include "support/SharedLibrary.h"

namespace sendova {

namespace {

// The soname of the OpenSSL flavour of libcurl that the program is built
// against (Debian's libcurl4).
constexpr const char *soname = "libcurl.so.4";

LibCurl load()
{
    const SharedLibrary library(soname);
    LibCurl curl{};
    library.resolve(curl.global_init, "curl_global_init");
    library.resolve(curl.easy_init, "curl_easy_init");
    library.resolve(curl.easy_cleanup, "curl_easy_cleanup");
    library.resolve(curl.easy_reset, "curl_easy_reset");
    library.resolve(curl.easy_setopt, "curl_easy_setopt");
    library.resolve(curl.easy_getinfo, "curl_easy_getinfo");
    library.resolve(curl.easy_strerror, "curl_easy_strerror");
    library.resolve(curl.multi_init, "curl_multi_init");
    library.resolve(curl.multi_cleanup, "curl_multi_cleanup");
    library.resolve(curl.multi_add_handle, "curl_multi_add_handle");
    library.resolve(curl.multi_remove_handle, "curl_multi_remove_handle");
    library.resolve(curl.multi_perform, "curl_multi_perform");
    library.resolve(curl.multi_poll, "curl_multi_poll");
    library.resolve(curl.multi_wakeup, "curl_multi_wakeup");
    library.resolve(curl.multi_info_read, "curl_multi_info_read");
    library.resolve(curl.slist_append, "curl_slist_append");
    library.resolve(curl.slist_free_all, "curl_slist_free_all");
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
