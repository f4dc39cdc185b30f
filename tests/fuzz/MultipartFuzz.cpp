#include "FuzzServer.h"
#include "FuzzSupport.h"

// The input is the body of an upload with a valid key; every answer is a
// JSON reply of the upload route.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    auto &server = sendova::server::fuzz::FuzzServer::shared();
    const std::string reply = server.serve(
        "POST /api/upload HTTP/1.1\r\nX-API-Key: " + server.apiKey +
        "\r\nContent-Type: multipart/form-data; boundary=B0und4ry\r\nContent-Length: " + std::to_string(size) +
        "\r\n\r\n" + bytesOf<std::string>(data, size));
    FUZZ_EXPECT(reply.find("\r\n\r\n{\"Success\":") != std::string::npos);
    return 0;
}
