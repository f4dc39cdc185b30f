#include "FuzzSupport.h"

#include "config/AppConfig.h"
#include "config/LoginService.h"
#include "config/RecentUpload.h"
#include "share/ShareRecords.h"
#include "support/StrictJson.h"
#include "upload/CheckResult.h"
#include "upload/UploadResult.h"

namespace {

// Decodes or throws DecodingError; what decodes and can be written is written
// back and reads the same.
template<typename Record>
void expectDecodes(const QByteArray &bytes)
{
    try {
        const auto record = Record::decode(bytes);
        if constexpr (requires { record.encode(); }) {
            FUZZ_EXPECT(Record::decode(record.encode()) == record);
        }
    } catch (const sendova::DecodingError &) {
    }
}

template<typename... Records>
void expectAllDecode(const QByteArray &bytes)
{
    (expectDecodes<Records>(bytes), ...);
}

} // namespace

// Whatever JSON the client programs read, their own files or a server's
// replies: each reader decodes it or throws DecodingError, and a refusal
// only ever yields a message or nothing.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace sendova;
    const auto bytes = bytesOf<QByteArray>(data, size);
    expectAllDecode<AppConfig, UploadResult, CheckResult, LoginResponse, ExchangeTokenResponse,
                    ShareAppConfig, ShareUploadResult, CheckResponse>(bytes);
    try {
        const auto entries = RecentUpload::decodeList(bytes);
        FUZZ_EXPECT(RecentUpload::decodeList(RecentUpload::encodeList(entries)) == entries);
    } catch (const DecodingError &) {
    }
    json::refusalMessage(bytes);
    return 0;
}
