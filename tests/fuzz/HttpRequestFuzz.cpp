#include "FuzzServer.h"
#include "FuzzSupport.h"

// The first byte picks what the rest is: a whole request, or the body of an
// upload with a valid key, of a login or of a setup-token exchange. To a
// whole request the server answers with an HTTP status line or closes without
// a word; to a body, with the route's JSON reply.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    auto &server = sendova::server::fuzz::FuzzServer::shared();
    const std::string rest = bytesOf<std::string>(data + 1, size - 1);
    const std::string heads[] = {
        "POST /api/upload HTTP/1.1\r\nX-API-Key: " + server.apiKey +
            "\r\nContent-Type: multipart/form-data; boundary=B0und4ry\r\n",
        "POST /api/auth/login HTTP/1.1\r\nContent-Type: application/json\r\n",
        "POST /api/exchange-setup-token HTTP/1.1\r\nContent-Type: application/json\r\n"};
    const int route = data[0] % 4;
    if (route == 0) {
        const std::string reply = server.serve(rest);
        FUZZ_EXPECT(reply.empty() || reply.starts_with("HTTP/1.1 "));
        return 0;
    }
    const std::string reply =
        server.serve(heads[route - 1] + "Content-Length: " + std::to_string(rest.size()) + "\r\n\r\n" + rest);
    FUZZ_EXPECT(reply.find(route == 1 ? "\r\n\r\n{\"Success\":" : "\r\n\r\n{\"success\":") !=
                std::string::npos);
    return 0;
}
