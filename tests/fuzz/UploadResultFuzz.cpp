#include "FuzzSupport.h"

#include "support/StrictJson.h"
#include "upload/UploadResult.h"

// Any body decodes or throws DecodingError; what decodes is written back
// and reads the same.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        const auto result = sendova::UploadResult::decode(bytesOf<QByteArray>(data, size));
        FUZZ_EXPECT(sendova::UploadResult::decode(result.encode()) == result);
    } catch (const sendova::DecodingError &) {
    }
    return 0;
}
