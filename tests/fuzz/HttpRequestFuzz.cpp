#include "FuzzServer.h"
#include "FuzzSupport.h"

// Whatever a client sends, the server answers with an HTTP status line or
// closes without a word.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string reply = sendova::server::fuzz::FuzzServer::shared().serve(bytesOf<std::string>(data, size));
    FUZZ_EXPECT(reply.empty() || reply.starts_with("HTTP/1.1 "));
    return 0;
}
