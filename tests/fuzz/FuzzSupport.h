#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// The input as the parser under test takes it: QByteArray, std::string, ...
template<typename Bytes = std::string_view>
Bytes bytesOf(const std::uint8_t *data, std::size_t size)
{
    return Bytes(reinterpret_cast<const char *>(data), size);
}

// A broken promise of the parser is a finding like a crash: abort, so that
// libFuzzer keeps the input that broke it.
[[noreturn]] inline void brokenPromise(const char *promise, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: expected %s\n", file, line, promise);
    std::abort();
}
#define FUZZ_EXPECT(condition) ((condition) ? void() : brokenPromise(#condition, __FILE__, __LINE__))
