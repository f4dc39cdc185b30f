#include "FuzzSupport.h"

#include "config/LoginService.h"
#include "support/StrictJson.h"

// The login and token replies decode or throw DecodingError; a status
// reply's body only ever yields a message or nothing.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto body = bytesOf<QByteArray>(data, size);
    try {
        sendova::LoginResponse::decode(body);
    } catch (const sendova::DecodingError &) {
    }
    try {
        sendova::ExchangeTokenResponse::decode(body);
    } catch (const sendova::DecodingError &) {
    }
    sendova::json::refusalMessage(body);
    return 0;
}
