#include "app/CommandTable.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

// `sendova` itself: a launcher that loads nothing but the C and C++
// runtimes. The tray program (Qt Widgets, the popover, icons, QR codes) is a
// program of its own, executed in place of this one; a command loads the
// command line's module (Qt Core and D-Bus; libcurl and OpenSSL once it
// sends or hashes something) and nothing of the GUI.
// Both are found beside this program first (a build tree), then where an
// installation puts them: the tray program beside it too, the module under
// the library folder of the same prefix.

namespace {

constexpr int failure = 1;

// How the desktop's D-Bus activation starts the tray program (see the
// service file): it sends Activate or Open right after.
constexpr const char *serviceOption = "--gapplication-service";

std::string programFolder()
{
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || std::size_t(length) >= path.size())
        return {};
    path.resize(std::size_t(length));
    return path.substr(0, path.rfind('/') + 1);
}

bool exists(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Files and links go to the tray program; anything else is a command, an
// option, or a word that can only be a mistyped command.
bool forTray(int argc, char *argv[])
{
    if (argc < 2 || (argc == 2 && std::strcmp(argv[1], serviceOption) == 0))
        return true;
    const std::string_view first = argv[1];
    if (sendova::findCommand(first) || first.starts_with('-'))
        return false;
    return first.find('/') != std::string_view::npos || first.find(':') != std::string_view::npos ||
           exists(argv[1]);
}

int startTray(char *argv[])
{
    std::string tray = programFolder() + "sendova-tray";
    if (!exists(tray))
        tray = SENDOVA_TRAY_INSTALLED;
    ::execv(tray.c_str(), argv);
    std::fprintf(stderr, "sendova: cannot start the tray program %s: %s\n", tray.c_str(),
                 std::strerror(errno));
    return failure;
}

int runCommand(int argc, char *argv[])
{
    const std::string folder = programFolder();
    std::string module = folder + "sendova-commands.so";
    if (!exists(module))
        module = folder + SENDOVA_COMMANDS_INSTALLED;
    void *library = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Main = int (*)(int, char *[]);
    auto *main = library ? reinterpret_cast<Main>(::dlsym(library, "sendovaCommandLineMain")) : nullptr;
    if (!main) {
        std::fprintf(stderr, "sendova: cannot load the command line: %s\n", ::dlerror());
        return failure;
    }
    return main(argc, argv);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        const bool written = std::printf("sendova %s\n", SENDOVA_VERSION) > 0 && std::fflush(stdout) == 0;
        if (!written)
            std::fprintf(stderr, "sendova: could not write to standard output: %s\n", std::strerror(errno));
        return written ? 0 : failure;
    }
    return forTray(argc, argv) ? startTray(argv) : runCommand(argc, argv);
}
