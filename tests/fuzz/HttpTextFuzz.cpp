#include "FuzzSupport.h"

#include "http/HttpText.h"

#include <algorithm>
#include <cstring>

// Whatever name a client sends, the stored one is a single valid UTF-8 path
// component without control characters, cleaned once and for all, and it
// makes a header of printable ASCII. Read as a file's size (the first eight
// bytes) and a Range header (the rest), a partial range always lies inside
// the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace sendova::server;
    const std::string name = sanitizeFileName(bytesOf(data, size));
    FUZZ_EXPECT(!name.empty() && name != "." && name != ".." && name.size() <= 255);
    FUZZ_EXPECT(isValidUtf8(name) && name.find_first_of("/\\") == std::string::npos);
    FUZZ_EXPECT(std::ranges::all_of(name, [](unsigned char c) { return c >= 0x20 && c != 0x7F; }));
    FUZZ_EXPECT(sanitizeFileName(name) == name);
    FUZZ_EXPECT(
        std::ranges::all_of(contentDisposition(name), [](unsigned char c) { return c >= 0x20 && c < 0x7F; }));

    std::uint64_t fileSize = 0;
    const std::size_t sizeBytes = std::min(size, sizeof fileSize);
    std::memcpy(&fileSize, data, sizeBytes);
    const auto range = parseRange(bytesOf(data + sizeBytes, size - sizeBytes), fileSize);
    if (range.kind == ByteRange::Kind::Partial) {
        FUZZ_EXPECT(range.first <= range.last && range.last < fileSize);
    }
    return 0;
}
