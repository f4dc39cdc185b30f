#include "FuzzSupport.h"

#include "HttpText.h"

// Whatever name a client sends, the stored one is a single valid UTF-8 path
// component without control characters, cleaned once and for all, and it
// makes a header of printable ASCII.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace sendova::server;
    const std::string name = sanitizeFileName(bytesOf(data, size));
    FUZZ_EXPECT(!name.empty() && name != "." && name != ".." && name.size() <= 255);
    FUZZ_EXPECT(isValidUtf8(name) && name.find_first_of("/\\") == std::string::npos);
    for (const unsigned char c : name) {
        FUZZ_EXPECT(c >= 0x20 && c != 0x7F);
    }
    FUZZ_EXPECT(sanitizeFileName(name) == name);
    for (const unsigned char c : contentDisposition(name)) {
        FUZZ_EXPECT(c >= 0x20 && c < 0x7F);
    }
    return 0;
}
