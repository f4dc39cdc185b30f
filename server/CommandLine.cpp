#include "CommandLine.h"

#include "api/SendovaServer.h"
#include "http/HttpText.h"
#include "storage/Migration.h"
#include "storage/postgresql/PostgresStorage.h"

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sendova::server {

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr std::size_t MinimumPasswordLength = 8;

constexpr std::string_view Usage = R"(Usage: sendova-server <command> [options]

Commands:
  serve                 Run the server until SIGINT or SIGTERM.
  user add NAME         Create a user; the password is asked for on the terminal.
  user list             List the users.
  user disable NAME     Refuse the user's logins, keys and setup links.
  user enable NAME      Undo "user disable".
  setup-link USER       Print a one-time link that configures a client for USER.
  migrate               Create or update the schema of a --database; with
                        --from DIR, also copy a data folder's accounts, links
                        and content into it (and into --blob-store). Safe to
                        stop and run again.
  help                  Show this text.

Options:
  -h, --help            Show this text; also accepted after any command.
  --version             Show the version.

Options of every command:
  --data DIR            Data folder (default: $XDG_DATA_HOME/Sendova-server,
                        or ~/.local/share/Sendova-server).
  --database URL        Keep accounts and links in PostgreSQL instead
                        (postgresql://USER@HOST/DB or any libpq connection
                        string; the password best in ~/.pgpass or PGPASSWORD).
                        Content then goes to the data folder's blobs/, which
                        every server sharing the database must share too,
                        unless --blob-store names an object store.
  --blob-store URL      With --database: keep content in an S3-compatible
                        object store, s3://BUCKET?endpoint=URL&region=REGION
                        (&timeout=SECONDS, 30 by default); the keys come from
                        AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY.

Options of serve:
  --listen HOST:PORT    Address to listen on (default 127.0.0.1:8080);
                        port 0 picks a free port. IPv6: [::1]:8080.
  --public-url URL      Base of the links handed out (default: http://HOST:PORT).
  --max-size BYTES      Largest accepted file; K, M and G suffixes are powers
                        of 1024 (default 2G).
  --link-days N         Days a link stays valid; 0 for links that never expire
                        (default 7).
  --tenant NAME         Name reported to clients (default Sendova).
  --behind-proxy        Take the client's address from the last entry of
                        X-Forwarded-For (only behind a proxy that sets it).
  --quiet               Do not log requests to standard error.
  --allow-empty-database
                        Start although the database lists no stored files
                        while blobs/ holds some; they are moved to
                        blobs-orphaned/. Without it, serve refuses to start.

Options of user add:
  --password-stdin      Read the password from the first line of standard input.

Options of setup-link:
  --server URL          Server address to put into the link (default: the public
                        URL of the last "serve" on this data folder).
  --valid-hours N       Hours before the link expires (default 24).

Exit status: 0 on success, 1 when the command failed, 2 on a usage error.
)";

class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct Arguments
{
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    std::vector<std::string> flags;

    bool hasFlag(std::string_view name) const
    {
        for (const auto &flag : flags) {
            if (flag == name) {
                return true;
            }
        }
        return false;
    }
    std::optional<std::string> option(const std::string &name) const
    {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
};

// Options are "--name value" or "--name=value"; the names that take no
// value are listed, so that a missing value is caught instead of swallowing
// the next word.
Arguments parseArguments(int argc, char **argv, int first, const std::vector<std::string_view> &valueOptions,
                         const std::vector<std::string_view> &flagOptions)
{
    Arguments args;
    const auto listed = [](const std::vector<std::string_view> &list, std::string_view name) {
        for (auto entry : list) {
            if (entry == name) {
                return true;
            }
        }
        return false;
    };
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        if (word.size() < 3 || word.substr(0, 2) != "--") {
            args.positional.push_back(word);
            continue;
        }
        std::string name = word.substr(2);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (listed(flagOptions, name)) {
            if (value) {
                throw UsageError("--" + name + " takes no value");
            }
            args.flags.push_back(name);
        } else if (listed(valueOptions, name)) {
            if (!value) {
                if (i + 1 >= argc) {
                    throw UsageError("--" + name + " needs a value");
                }
                value = argv[++i];
            }
            args.options[name] = *value;
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
    return args;
}

std::filesystem::path dataDirOf(const Arguments &args)
{
    if (const auto dir = args.option("data")) {
        return *dir;
    }
    return defaultDataDir();
}

StorageLocation locationOf(const Arguments &args)
{
    return StorageLocation{dataDirOf(args), args.option("database").value_or(std::string()),
                           args.option("blob-store").value_or(std::string())};
}

void reportChanges(const Storage &storage)
{
    for (const auto &note : storage.notes()) {
        std::cerr << "sendova-server: " << note << std::endl;
    }
}

std::int64_t parseCount(const std::string &text, std::string_view what)
{
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < 0) {
        throw UsageError(std::string(what) + " must be a whole number of zero or more: " + text);
    }
    return value;
}

void splitListen(const std::string &text, std::string *host, int *port)
{
    std::string hostPart;
    std::string portPart;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            throw UsageError("--listen wants HOST:PORT or [IPV6]:PORT: " + text);
        }
        hostPart = text.substr(1, close - 1);
        portPart = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || colon == 0) {
            throw UsageError("--listen wants HOST:PORT: " + text);
        }
        hostPart = text.substr(0, colon);
        portPart = text.substr(colon + 1);
    }
    const auto value = parseCount(portPart, "the port");
    if (value > 65535) {
        throw UsageError("the port must be at most 65535: " + portPart);
    }
    *host = hostPart;
    *port = static_cast<int>(value);
}

std::string readLine(std::istream &in)
{
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.pop_back();
    }
    return line;
}

// Reads from the controlling terminal with echo off, so the password appears
// neither on screen nor in the shell history.
std::optional<std::string> promptPassword(const char *prompt)
{
    FILE *tty = std::fopen("/dev/tty", "r+");
    if (!tty) {
        return std::nullopt;
    }
    const int fd = fileno(tty);
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        std::fclose(tty);
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    std::fputs(prompt, tty);
    std::fflush(tty);
    tcsetattr(fd, TCSAFLUSH, &quiet);
    std::string line;
    int c = 0;
    while ((c = std::fgetc(tty)) != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
    }
    tcsetattr(fd, TCSAFLUSH, &saved);
    std::fclose(tty);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

int commandServe(int argc, char **argv)
{
    const auto args = parseArguments(
        argc, argv, 2,
        {"data", "database", "blob-store", "listen", "public-url", "max-size", "link-days", "tenant"},
        {"quiet", "behind-proxy", "allow-empty-database"});
    if (!args.positional.empty()) {
        throw UsageError("serve takes no arguments besides options: " + args.positional.front());
    }
    ServerOptions options;
    const auto location = locationOf(args);
    options.dataDir = location.dataDir;
    options.database = location.database;
    options.blobStore = location.blobStore;
    options.publicUrl = args.option("public-url").value_or(std::string());
    if (!options.publicUrl.empty() && options.publicUrl.substr(0, 7) != "http://" &&
        options.publicUrl.substr(0, 8) != "https://") {
        throw UsageError("--public-url must begin with http:// or https://");
    }
    if (const auto size = args.option("max-size")) {
        const auto parsed = parseByteSize(*size);
        if (!parsed || *parsed == 0) {
            throw UsageError("--max-size wants a positive number of bytes, such as 1048576, 512M or 2G: " +
                             *size);
        }
        options.maxUploadSize = *parsed;
    }
    if (const auto days = args.option("link-days")) {
        const auto value = parseCount(*days, "--link-days");
        options.linkLifetime =
            value == 0 ? std::nullopt : std::optional<std::chrono::seconds>(std::chrono::hours(24 * value));
    }
    if (const auto tenant = args.option("tenant")) {
        options.tenantName = *tenant;
    }
    options.logRequests = !args.hasFlag("quiet");
    options.behindProxy = args.hasFlag("behind-proxy");
    options.allowEmptyDatabase = args.hasFlag("allow-empty-database");
    std::string host = "127.0.0.1";
    int port = 8080;
    if (const auto listen = args.option("listen")) {
        splitListen(*listen, &host, &port);
    }

    // The signals are taken by one thread with sigwait; every other thread,
    // httplib's workers included, inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    SendovaServer server(options);
    reportChanges(server.storage());
    if (server.bind(host, port) < 0) {
        std::cerr << "sendova-server: cannot listen on " << host << ":" << port << std::endl;
        return ExitFailure;
    }
    std::thread waiter([&server, signals] {
        int received = 0;
        sigwait(&signals, &received);
        server.stop();
    });
    std::cout << "sendova-server listening on " << server.listenUrl() << " (public URL " << server.publicUrl()
              << ", " << server.storage().description() << ")" << std::endl;
    server.run();
    // run() also returns when the listener fails; the waiter is then still
    // waiting and is released the way a signal would release it.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    std::cout << "sendova-server stopped" << std::endl;
    return ExitOk;
}

int commandUser(int argc, char **argv)
{
    const auto args = parseArguments(argc, argv, 2, {"data", "database", "blob-store"}, {"password-stdin"});
    if (args.positional.empty()) {
        throw UsageError("user needs a sub-command: add, list, disable or enable");
    }
    const std::string &action = args.positional.front();
    const std::size_t wanted = action == "list" ? 1 : 2;
    if (action != "add" && action != "list" && action != "disable" && action != "enable") {
        throw UsageError("unknown user sub-command: " + action);
    }
    if (args.positional.size() != wanted) {
        throw UsageError(wanted == 1 ? "user list takes no name"
                                     : "user " + action + " takes exactly one NAME");
    }
    // Only "add" may start a new database: the others on a wrong or lost
    // folder would leave an empty one behind, which serve would then take
    // for the real one.
    const auto storage = openStorage(locationOf(args), action == "add", systemClock());
    reportChanges(*storage);
    AccountStore accounts(storage->accounts(), systemClock());
    if (action == "list") {
        for (const auto &user : accounts.users()) {
            std::cout << user.name << (user.active ? "" : " (disabled)") << "\n";
        }
        return ExitOk;
    }
    const std::string &name = args.positional[1];
    if (action == "disable" || action == "enable") {
        if (!accounts.setActive(name, action == "enable")) {
            std::cerr << "sendova-server: no user named " << name << std::endl;
            return ExitFailure;
        }
        std::cout << "User " << name << (action == "enable" ? " enabled" : " disabled") << std::endl;
        return ExitOk;
    }
    if (!AccountStore::isValidUserName(name)) {
        throw UsageError("a user name has 1 to 64 characters: letters, digits, '.', '_', '-' or '@'");
    }
    if (accounts.findUser(name)) {
        std::cerr << "sendova-server: the user " << name << " already exists" << std::endl;
        return ExitFailure;
    }
    std::string password;
    if (args.hasFlag("password-stdin")) {
        password = readLine(std::cin);
    } else {
        const auto first = promptPassword("Password: ");
        if (!first) {
            std::cerr << "sendova-server: no terminal to ask for the password on; use --password-stdin"
                      << std::endl;
            return ExitFailure;
        }
        const auto second = promptPassword("Repeat password: ");
        if (!second || *second != *first) {
            std::cerr << "sendova-server: the passwords differ" << std::endl;
            return ExitFailure;
        }
        password = *first;
    }
    if (password.size() < MinimumPasswordLength) {
        std::cerr << "sendova-server: the password needs at least " << MinimumPasswordLength << " characters"
                  << std::endl;
        return ExitFailure;
    }
    accounts.addUser(name, password);
    std::cout << "User " << name << " added" << std::endl;
    return ExitOk;
}

int commandSetupLink(int argc, char **argv)
{
    const auto args =
        parseArguments(argc, argv, 2, {"data", "database", "blob-store", "server", "valid-hours"}, {});
    if (args.positional.size() != 1) {
        throw UsageError("setup-link takes exactly one USER");
    }
    std::int64_t hours = 24;
    if (const auto valid = args.option("valid-hours")) {
        hours = parseCount(*valid, "--valid-hours");
        if (hours == 0) {
            throw UsageError("--valid-hours must be at least 1");
        }
    }
    const auto storage = openStorage(locationOf(args), false, systemClock());
    reportChanges(*storage);
    std::string server =
        args.option("server").value_or(storage->setting("public_url").value_or(std::string()));
    if (server.empty()) {
        std::cerr
            << "sendova-server: the server's address is not known yet; run serve once or pass --server URL"
            << std::endl;
        return ExitFailure;
    }
    while (!server.empty() && server.back() == '/') {
        server.pop_back();
    }
    AccountStore accounts(storage->accounts(), systemClock());
    const auto user = accounts.findUser(args.positional.front());
    if (!user) {
        std::cerr << "sendova-server: no user named " << args.positional.front() << std::endl;
        return ExitFailure;
    }
    if (!user->active) {
        std::cerr << "sendova-server: the user " << user->name << " is disabled" << std::endl;
        return ExitFailure;
    }
    const auto token = accounts.createSetupToken(user->id, std::chrono::hours(hours));
    std::cout << setupLink(token, server) << std::endl;
    return ExitOk;
}

int commandMigrate(int argc, char **argv)
{
    const auto args = parseArguments(argc, argv, 2, {"data", "database", "blob-store", "from"}, {});
    if (!args.positional.empty()) {
        throw UsageError("migrate takes no arguments besides options: " + args.positional.front());
    }
    const auto location = locationOf(args);
    if (location.database.empty()) {
        throw UsageError("migrate needs --database URL (a data folder migrates itself)");
    }
    const auto result = migratePostgres(location.database);
    if (result.from == result.to) {
        std::cout << "The database's schema is up to date (version " << result.to << ")" << std::endl;
    } else {
        std::cout << "Migrated the database's schema from version " << result.from << " to " << result.to
                  << std::endl;
    }
    const auto from = args.option("from");
    if (!from) {
        return ExitOk;
    }
    const auto copied = migrateDataFolder(*from, location);
    std::cout << "Copied " << copied.users << " users, " << copied.blobsCopied << " stored files ("
              << copied.blobsAlreadyThere << " were there already) and " << copied.links << " new links from "
              << *from << std::endl;
    for (const auto &hash : copied.damaged) {
        std::cerr << "sendova-server: the stored file " << hash
                  << " is missing or does not match its hash; it and its links were not copied" << std::endl;
    }
    return copied.damaged.empty() ? ExitOk : ExitFailure;
}

} // namespace

std::string setupLink(std::string_view token, std::string_view serverUrl)
{
    return "sendova://setup?token=" + percentEncode(token) + "&server=" + percentEncode(serverUrl);
}

std::optional<std::uint64_t> parseByteSize(std::string_view text)
{
    std::uint64_t multiplier = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K':
        case 'k':
            multiplier = std::uint64_t(1) << 10;
            break;
        case 'M':
        case 'm':
            multiplier = std::uint64_t(1) << 20;
            break;
        case 'G':
        case 'g':
            multiplier = std::uint64_t(1) << 30;
            break;
        default:
            break;
        }
        if (multiplier != 1) {
            text.remove_suffix(1);
        }
    }
    std::uint64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() ||
        value > std::numeric_limits<std::uint64_t>::max() / multiplier) {
        return std::nullopt;
    }
    return value * multiplier;
}

std::filesystem::path defaultDataDir()
{
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) {
        return std::filesystem::path(xdg) / "Sendova-server";
    }
    const char *home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "Sendova-server";
}

int runCommandLine(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : std::string();
    try {
        if (command.empty()) {
            std::cerr << Usage;
            return ExitUsage;
        }
        if (command == "help" || command == "--help" || command == "-h") {
            std::cout << Usage;
            return ExitOk;
        }
        if (command == "--version") {
            std::cout << "sendova-server " << SENDOVA_VERSION << std::endl;
            return ExitOk;
        }
        for (int i = 2; i < argc; ++i) {
            if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
                std::cout << Usage;
                return ExitOk;
            }
        }
        if (command == "serve") {
            return commandServe(argc, argv);
        }
        if (command == "user") {
            return commandUser(argc, argv);
        }
        if (command == "setup-link") {
            return commandSetupLink(argc, argv);
        }
        if (command == "migrate") {
            return commandMigrate(argc, argv);
        }
        throw UsageError("unknown command: " + command);
    } catch (const UsageError &error) {
        std::cerr << "sendova-server: " << error.what() << "\nRun 'sendova-server --help' for the usage."
                  << std::endl;
        return ExitUsage;
    } catch (const std::exception &error) {
        std::cerr << "sendova-server: " << error.what() << std::endl;
        return ExitFailure;
    }
}

} // namespace sendova::server
