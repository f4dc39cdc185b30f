// Linked into every test program. A test stores and deletes keyring items,
// rewrites config.json and starts programs on a display, so outside the
// session that scripts/with-test-session seals off it would do all of that
// to the developer's own keyring, settings and desktop. It refuses before any
// test code runs.
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

bool insideSealedSession()
{
    // The marker is the sandbox folder, and HOME must be inside it: an
    // exported marker left in a developer's shell is not enough on its own.
    const char *sandbox = std::getenv("SENDOVA_TEST_SESSION");
    const char *home = std::getenv("HOME");
    if (sandbox == nullptr || home == nullptr || *sandbox == '\0') {
        return false;
    }
    const std::string_view root(sandbox);
    const std::string_view homePath(home);
    return homePath.size() > root.size() && homePath.substr(0, root.size()) == root &&
           homePath[root.size()] == '/';
}

const bool sealed = [] {
    if (!insideSealedSession()) {
        std::fputs("refusing to run outside the sealed test session: it would touch your own keyring, "
                   "settings and display; run it through scripts/with-test-session\n",
                   stderr);
        std::_Exit(1);
    }
    return true;
}();

} // namespace
