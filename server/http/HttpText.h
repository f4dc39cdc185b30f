#pragma once

#include "core/Clock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sendova::server {

bool isValidUtf8(std::string_view text);

// Control, format and line or paragraph separator characters (Unicode Cc,
// Cf, Zl, Zp; the bidirectional marks among them) removed, invalid
// UTF-8 replaced by U+FFFD, cut to at most maxBytes on a character boundary,
// blanks trimmed. May be empty.
std::string cleanText(std::string_view raw, std::size_t maxBytes);

// The name a file is stored and served under, from whatever the client put
// in the multipart header: the last path component, control characters
// removed, invalid UTF-8 replaced, at most 255 bytes, never empty, "." or "..".
std::string sanitizeFileName(std::string_view raw);

// attachment; filename="<ASCII fallback>"; filename*=UTF-8''<percent-encoded>
// The fallback replaces everything outside printable ASCII, and the
// characters that would end or escape the quoted string, with '_'.
std::string contentDisposition(std::string_view fileName);

// Percent-encodes every byte outside the unreserved set (RFC 3986), for
// query values and path segments alike.
std::string percentEncode(std::string_view text);

// One word of a log line: every byte outside printable ASCII, the space and
// '%' percent-encoded.
std::string escapeForLog(std::string_view text);

// 2026-12-12T16:25:11.123Z
std::string formatTimestamp(TimePoint time);

// A small table of types that are harmless to label; everything else is
// application/octet-stream.
std::string contentTypeForName(std::string_view fileName);

struct ByteRange
{
    enum class Kind { Whole, Partial, Unsatisfiable };
    Kind kind = Kind::Whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0; // inclusive
};

// One "bytes=" range against a resource of the given size. A header this
// server does not honour (several ranges, other units, bad syntax) means the
// whole resource, which RFC 9110 allows.
ByteRange parseRange(std::string_view header, std::uint64_t size);

// "sha256:" + 64 hex digits → the 64 lower-case digits; nullopt otherwise.
std::optional<std::string> parsePrefixedHash(std::string_view text);
// Exactly 64 hex digits → lower-cased; nullopt otherwise.
std::optional<std::string> parseBareHash(std::string_view text);

} // namespace sendova::server
