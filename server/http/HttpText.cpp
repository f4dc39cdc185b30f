#include "http/HttpText.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <utility>

namespace sendova::server {

namespace {

constexpr char Hex[] = "0123456789ABCDEF";

// Every byte the predicate does not keep becomes %XX.
template<typename Keep>
std::string encodeExcept(std::string_view text, Keep keep)
{
    std::string out;
    for (unsigned char c : text) {
        if (keep(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(Hex[c >> 4]);
            out.push_back(Hex[c & 0x0F]);
        }
    }
    return out;
}

constexpr std::size_t MaxFileNameBytes = 255;
constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    if (c < 0x80) {
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        length = 2;
        codePoint = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        codePoint = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        codePoint = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr std::uint32_t Minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < Minimum[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// The code point of a valid UTF-8 sequence.
std::uint32_t codePointOf(std::string_view sequence)
{
    static constexpr unsigned char LeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t codePoint = static_cast<unsigned char>(sequence[0]) & LeadMask[sequence.size()];
    for (std::size_t k = 1; k < sequence.size(); ++k) {
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(sequence[k]) & 0x3F);
    }
    return codePoint;
}

// Unicode's control (Cc), format (Cf), line (Zl) and paragraph (Zp)
// separator characters. None belongs in a name: C1 controls such as U+009B
// are commands to some terminals, the bidirectional marks can make "exe.pdf"
// show as "fdp.exe", and the rest are invisible or break the line.
bool isControlOrFormat(std::uint32_t c)
{
    static constexpr std::pair<std::uint32_t, std::uint32_t> Ranges[] = {
        {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
        {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
        {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},
        {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
        {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
    };
    return std::any_of(std::begin(Ranges), std::end(Ranges),
                       [c](const auto &range) { return c >= range.first && c <= range.second; });
}

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::optional<std::uint64_t> parseNumber(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto length = utf8SequenceLength(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string cleanText(std::string_view raw, std::size_t maxBytes)
{
    std::string out;
    for (std::size_t i = 0; i < raw.size();) {
        const auto length = utf8SequenceLength(raw, i);
        if (length == 0) {
            if (out.size() + ReplacementCharacter.size() > maxBytes) {
                break;
            }
            out += ReplacementCharacter;
            ++i;
            continue;
        }
        if (isControlOrFormat(codePointOf(raw.substr(i, length)))) {
            i += length;
            continue;
        }
        if (out.size() + length > maxBytes) {
            break;
        }
        out.append(raw.substr(i, length));
        i += length;
    }
    return std::string(trim(out));
}

std::string sanitizeFileName(std::string_view raw)
{
    // Both separators count: a name from a Windows client arrives with backslashes.
    const auto slash = raw.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        raw.remove_prefix(slash + 1);
    }
    const std::string trimmed = cleanText(raw, MaxFileNameBytes);
    if (trimmed.empty() || trimmed == "." || trimmed == "..") {
        return "file";
    }
    return trimmed;
}

std::string contentDisposition(std::string_view fileName)
{
    std::string fallback;
    for (std::size_t i = 0; i < fileName.size();) {
        const auto length = std::max<std::size_t>(utf8SequenceLength(fileName, i), 1);
        const auto c = static_cast<unsigned char>(fileName[i]);
        const bool plain = length == 1 && c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '%';
        fallback.push_back(plain ? static_cast<char>(c) : '_');
        i += length;
    }
    // RFC 8187 attr-char: unreserved plus a few marks that need no escape.
    const std::string encoded = encodeExcept(fileName, [](unsigned char c) {
        return isUnreserved(c) || c == '!' || c == '#' || c == '$' || c == '&' || c == '+' || c == '^' ||
               c == '`' || c == '|';
    });
    return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" + encoded;
}

std::string percentEncode(std::string_view text)
{
    return encodeExcept(text, [](unsigned char c) { return isUnreserved(c); });
}

std::string escapeForLog(std::string_view text)
{
    return encodeExcept(text, [](unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; });
}

std::string formatTimestamp(TimePoint time)
{
    const auto ms = toMillis(time);
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    const int millis = static_cast<int>(ms - static_cast<std::int64_t>(seconds) * 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[40];
    const auto length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03dZ", millis);
    return std::string(buffer, length) + fraction;
}

std::string contentTypeForName(std::string_view fileName)
{
    struct Entry
    {
        std::string_view extension;
        std::string_view type;
    };
    // Nothing a browser would run (HTML, SVG, scripts) is labelled as such.
    static constexpr Entry Table[] = {
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".webp", "image/webp"},
        {".pdf", "application/pdf"},
        {".txt", "text/plain; charset=utf-8"},
        {".mp4", "video/mp4"},
        {".webm", "video/webm"},
        {".mp3", "audio/mpeg"},
        {".ogg", "audio/ogg"},
        {".zip", "application/zip"},
    };
    const auto dot = fileName.rfind('.');
    if (dot != std::string_view::npos) {
        std::string extension(fileName.substr(dot));
        for (auto &c : extension) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        for (const auto &entry : Table) {
            if (entry.extension == extension) {
                return std::string(entry.type);
            }
        }
    }
    return "application/octet-stream";
}

ByteRange parseRange(std::string_view header, std::uint64_t size)
{
    header = trim(header);
    constexpr std::string_view Unit = "bytes=";
    if (header.substr(0, Unit.size()) != Unit) {
        return {};
    }
    const auto rangeText = trim(header.substr(Unit.size()));
    const auto dash = rangeText.find('-');
    if (dash == std::string_view::npos || rangeText.find(',') != std::string_view::npos) {
        return {};
    }
    const auto firstText = trim(rangeText.substr(0, dash));
    const auto lastText = trim(rangeText.substr(dash + 1));
    ByteRange range;
    range.kind = ByteRange::Kind::Partial;
    if (firstText.empty()) {
        const auto suffix = parseNumber(lastText);
        if (!suffix) {
            return {};
        }
        if (*suffix == 0 || size == 0) {
            return ByteRange{ByteRange::Kind::Unsatisfiable, 0, 0};
        }
        range.first = *suffix >= size ? 0 : size - *suffix;
        range.last = size - 1;
        return range;
    }
    const auto first = parseNumber(firstText);
    if (!first) {
        return {};
    }
    std::uint64_t last = size == 0 ? 0 : size - 1;
    if (!lastText.empty()) {
        const auto parsed = parseNumber(lastText);
        if (!parsed || *parsed < *first) {
            return {};
        }
        last = std::min(*parsed, last);
    }
    if (*first >= size) {
        return ByteRange{ByteRange::Kind::Unsatisfiable, 0, 0};
    }
    range.first = *first;
    range.last = last;
    return range;
}

std::optional<std::string> parseBareHash(std::string_view text)
{
    if (text.size() != 64) {
        return std::nullopt;
    }
    std::string out(text);
    for (auto &c : out) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return std::nullopt;
        }
    }
    return out;
}

std::optional<std::string> parsePrefixedHash(std::string_view text)
{
    constexpr std::string_view Prefix = "sha256:";
    if (text.substr(0, Prefix.size()) != Prefix) {
        return std::nullopt;
    }
    return parseBareHash(text.substr(Prefix.size()));
}

} // namespace sendova::server
