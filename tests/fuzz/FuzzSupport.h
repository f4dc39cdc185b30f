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
#define FUZZ_EXPECT(condition)                                                                         \
    do {                                                                                               \
        if (!(condition)) {                                                                            \
            std::fprintf(stderr, "%s:%d: expected %s\n", __FILE__, __LINE__, #condition);              \
            std::abort();                                                                              \
        }                                                                                              \
    } while (false)
