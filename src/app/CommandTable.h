#pragma once

#include <cstring>
#include <string_view>

namespace sendova {

// The commands of `sendova`, in the order help lists them. Plain C++: the
// launcher reads it before any library is loaded.
struct CommandInfo
{
    const char *name;
    const char *syntax;
    const char *summary;
};

inline constexpr CommandInfo commands[] = {
    {"upload", "[--verbose] (--clipboard | [--] FILE…)",
     "upload files, or the clipboard, and print their links"},
    {"screenshot", "[--verbose]", "upload a screenshot taken with the desktop's tool"},
    {"login",
     "--server URL (--user NAME [--password-stdin] | --api-key-stdin) [--insecure-storage] [--verbose]",
     "sign in, or connect with an existing API key, and store the key"},
    {"setup", "[--insecure-storage] [--verbose] LINK", "configure from a sendova://setup link"},
    {"status", "[--verbose]", "test the connection; name the account and where its key is"},
    {"recent", "", "list recent uploads (link, name, date)"},
    {"logout", "", "delete the settings, recent uploads and API key"},
    {"help", "[COMMAND]", "show the help of a command"},
};

inline const CommandInfo *findCommand(std::string_view name)
{
    for (const CommandInfo &command : commands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

} // namespace sendova
