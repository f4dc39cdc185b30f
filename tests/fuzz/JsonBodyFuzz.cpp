#include "FuzzServer.h"
#include "FuzzSupport.h"

// The first byte picks the route (login or setup token), the rest is its
// JSON body; every answer is a JSON reply.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const char *path = data[0] % 2 == 0 ? "/api/auth/login" : "/api/exchange-setup-token";
    const std::string reply = sendova::server::fuzz::FuzzServer::shared().serve(
        std::string("POST ") + path + " HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: " +
        std::to_string(size - 1) + "\r\n\r\n" + bytesOf<std::string>(data + 1, size - 1));
    FUZZ_EXPECT(reply.find("\r\n\r\n{\"success\":") != std::string::npos);
    return 0;
}
