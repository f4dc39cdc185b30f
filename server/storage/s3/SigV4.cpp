#include "storage/s3/SigV4.h"

#include "core/Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace sendova::server {

namespace {

std::string hmac(const std::string &key, const std::string &data)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char *>(data.data()), data.size(), out, &length);
    return std::string(reinterpret_cast<const char *>(out), length);
}

std::string hex(const std::string &bytes)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += Digits[c >> 4];
        out += Digits[c & 15];
    }
    return out;
}

} // namespace

std::string awsUriEncode(const std::string &text, bool keepSlash)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '_' || c == '.' || c == '~' || (keepSlash && c == '/');
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += Digits[c >> 4];
            out += Digits[c & 15];
        }
    }
    return out;
}

std::string sigV4Authorization(const AwsCredentials &credentials, const SignedRequest &request,
                               const std::string &amzDate)
{
    std::string canonicalHeaders;
    std::string signedHeaders;
    for (const auto &[name, value] : request.headers) {
        // Values are trimmed; inner runs of spaces are not expected in the headers this server signs.
        const auto first = value.find_first_not_of(' ');
        const auto last = value.find_last_not_of(' ');
        canonicalHeaders +=
            name + ":" + (first == std::string::npos ? "" : value.substr(first, last - first + 1)) + "\n";
        signedHeaders += (signedHeaders.empty() ? "" : ";") + name;
    }
    const std::string canonicalRequest = request.method + "\n" + request.canonicalPath + "\n" +
                                         request.canonicalQuery + "\n" + canonicalHeaders + "\n" +
                                         signedHeaders + "\n" + request.payloadHash;
    const std::string date = amzDate.substr(0, 8);
    const std::string scope = date + "/" + credentials.region + "/" + credentials.service + "/aws4_request";
    const std::string stringToSign =
        "AWS4-HMAC-SHA256\n" + amzDate + "\n" + scope + "\n" + sha256Hex(canonicalRequest);
    const std::string key = hmac(
        hmac(hmac(hmac("AWS4" + credentials.secretAccessKey, date), credentials.region), credentials.service),
        "aws4_request");
    return "AWS4-HMAC-SHA256 Credential=" + credentials.accessKeyId + "/" + scope +
           ",SignedHeaders=" + signedHeaders + ",Signature=" + hex(hmac(key, stringToSign));
}

} // namespace sendova::server
