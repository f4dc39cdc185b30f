#include "FuzzSupport.h"

#include "share/ShareRecords.h"
#include "support/StrictJson.h"

// The share program's readers of config.json and of the two replies decode
// or throw DecodingError.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto bytes = bytesOf<QByteArray>(data, size);
    try {
        sendova::ShareAppConfig::decode(bytes);
    } catch (const sendova::DecodingError &) {
    }
    try {
        sendova::ShareUploadResult::decode(bytes);
    } catch (const sendova::DecodingError &) {
    }
    try {
        sendova::CheckResponse::decode(bytes);
    } catch (const sendova::DecodingError &) {
    }
    return 0;
}
