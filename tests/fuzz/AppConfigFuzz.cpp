#include "FuzzSupport.h"

#include "config/AppConfig.h"
#include "support/StrictJson.h"

// config.json decodes or throws DecodingError; what decodes is written back
// and reads the same.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        const auto config = sendova::AppConfig::decode(bytesOf<QByteArray>(data, size));
        FUZZ_EXPECT(sendova::AppConfig::decode(config.encode()) == config);
    } catch (const sendova::DecodingError &) {
    }
    return 0;
}
