#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sendova::server {

// The whole sendova-server program: serve, user administration, setup links.
// Returns the process exit code.
int runCommandLine(int argc, char **argv);

// "sendova://setup?token=…&server=…" with both values percent-encoded.
std::string setupLink(std::string_view token, std::string_view serverUrl);

// "1048576", "512K", "100M", "2G" (powers of 1024); nullopt when malformed.
std::optional<std::uint64_t> parseByteSize(std::string_view text);

// ${XDG_DATA_HOME:-$HOME/.local/share}/Sendova-server
std::filesystem::path defaultDataDir();

} // namespace sendova::server
