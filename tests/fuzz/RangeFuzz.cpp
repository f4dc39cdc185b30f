#include "FuzzSupport.h"

#include "HttpText.h"

#include <cstring>

// The first eight bytes are the file's size, the rest the Range header. A
// partial range always lies inside the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::uint64_t fileSize = 0;
    const std::size_t sizeBytes = std::min(size, sizeof fileSize);
    std::memcpy(&fileSize, data, sizeBytes);
    const auto range = sendova::server::parseRange(bytesOf(data + sizeBytes, size - sizeBytes), fileSize);
    if (range.kind == sendova::server::ByteRange::Kind::Partial) {
        FUZZ_EXPECT(range.first <= range.last && range.last < fileSize);
    }
    return 0;
}
