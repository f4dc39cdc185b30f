#pragma once

#include <map>
#include <string>

namespace sendova::server {

struct AwsCredentials
{
    std::string accessKeyId;
    std::string secretAccessKey;
    std::string region;
    std::string service = "s3";
};

// One request as Signature Version 4 sees it.
struct SignedRequest
{
    std::string method;
    // The path as sent, each segment already URI-encoded.
    std::string canonicalPath;
    // Sorted, encoded "name=value" pairs joined by '&'; empty for none.
    std::string canonicalQuery;
    // Lower-case names; every header here is signed (host and x-amz-date among them).
    std::map<std::string, std::string> headers;
    // Hex SHA-256 of the body, or UNSIGNED-PAYLOAD.
    std::string payloadHash;
};

// The Authorization header's value for the request at amzDate
// (YYYYMMDDTHHMMSSZ, the same as its x-amz-date header).
std::string sigV4Authorization(const AwsCredentials &credentials, const SignedRequest &request,
                               const std::string &amzDate);

// RFC 3986 unreserved characters stay, everything else is %XX; '/' stays
// when asked (for paths).
std::string awsUriEncode(const std::string &text, bool keepSlash);

} // namespace sendova::server
