#include "FuzzSupport.h"

#include "config/RecentUpload.h"
#include "support/StrictJson.h"

// recents.json decodes or throws DecodingError; what decodes is written back
// and reads the same.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        const auto entries = sendova::RecentUpload::decodeList(bytesOf<QByteArray>(data, size));
        FUZZ_EXPECT(sendova::RecentUpload::decodeList(sendova::RecentUpload::encodeList(entries)) == entries);
    } catch (const sendova::DecodingError &) {
    }
    return 0;
}
