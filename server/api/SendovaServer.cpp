#include "api/SendovaServer.h"

#include "http/HttpText.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <set>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace sendova::server {

namespace {

using Json = nlohmann::ordered_json;

// Room for the multipart framing around the file: boundaries, part headers
// and a long file name fit many times over.
constexpr std::uint64_t MultipartSlack = 64 * 1024;
constexpr std::size_t MaxJsonBody = 64 * 1024;
// A refused request whose body is at most this long is read to its end, so
// that the connection stays usable; longer bodies are left unread.
constexpr std::uint64_t MaxDrainedBody = 1024 * 1024;
constexpr std::size_t MaxMachineName = 255;

void sendJson(httplib::Response &res, int status, const Json &body)
{
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

Json refusalBody(const std::string &code, const std::string &message, bool pascal, bool lower)
{
    Json body = Json::object();
    if (pascal) {
        body["Success"] = false;
        body["Error"] = {{"Code", code}, {"Message", message}};
    }
    if (lower) {
        body["success"] = false;
        body["error"] = {{"code", code}, {"message", message}};
    }
    return body;
}

// A refusal in the form the path's clients read: JSON in both spellings under
// /api/, a line of text elsewhere.
void refuseAny(const httplib::Request &req, httplib::Response &res, int status, const std::string &code,
               const std::string &message)
{
    if (req.path.starts_with("/api/")) {
        sendJson(res, status, refusalBody(code, message, true, true));
    } else {
        res.status = status;
        res.set_content(message + "\n", "text/plain; charset=utf-8");
    }
}

bool hasBody(const httplib::Request &req)
{
    return req.has_header("Transfer-Encoding") ||
           (req.has_header("Content-Length") && req.get_header_value<std::uint64_t>("Content-Length") > 0);
}

std::optional<std::uint64_t> declaredLength(const httplib::Request &req)
{
    if (!req.has_header("Content-Length")) {
        return std::nullopt;
    }
    return req.get_header_value<std::uint64_t>("Content-Length");
}

void drainSmallBody(const httplib::Request &req, const httplib::ContentReader &reader)
{
    const auto length = declaredLength(req);
    if (!length || *length > MaxDrainedBody) {
        return;
    }
    if (req.is_multipart_form_data()) {
        reader([](const httplib::MultipartFormData &) { return true; },
               [](const char *, std::size_t) { return true; });
    } else {
        reader([](const char *, std::size_t) { return true; });
    }
}

// Clients escape '"' in the multipart file name as %22, as browsers do; the
// name is shown and served again, so the quote is given back.
std::string decodeQuotes(std::string name)
{
    for (auto at = name.find("%22"); at != std::string::npos; at = name.find("%22", at + 1)) {
        name.replace(at, 3, "\"");
    }
    return name;
}

std::string cleanMachineName(const std::string &raw)
{
    return cleanText(raw, MaxMachineName);
}

std::string bodyOf(const httplib::ContentReader &reader, bool *tooLarge, bool *ok)
{
    std::string body;
    *tooLarge = false;
    *ok = reader([&](const char *data, std::size_t size) {
        if (body.size() + size > MaxJsonBody) {
            *tooLarge = true;
            return false;
        }
        body.append(data, size);
        return true;
    });
    return body;
}

// The login and setup-token routes take the same small JSON body, and must
// refuse a form or an oversized body alike; both refusals are sent here and
// nullopt returned. A body that could not be read or parsed comes back as a
// discarded value: it is no object, so the route's own "Send a JSON object
// with ..." refusal answers it, naming the fields that route expects.
std::optional<Json> readJsonBody(const httplib::Request &req, httplib::Response &res,
                                 const httplib::ContentReader &reader, const char *multipartHint)
{
    if (req.is_multipart_form_data()) {
        sendJson(res, 400, refusalBody("INVALID_REQUEST", multipartHint, false, true));
        drainSmallBody(req, reader);
        return std::nullopt;
    }
    bool tooLarge = false;
    bool ok = false;
    const std::string body = bodyOf(reader, &tooLarge, &ok);
    if (tooLarge) {
        sendJson(res, 413, refusalBody("REQUEST_TOO_LARGE", "The request body is too large", false, true));
        return std::nullopt;
    }
    // A read that stopped early may still have left a well-formed prefix.
    if (!ok) {
        return Json(Json::value_t::discarded);
    }
    return Json::parse(body, nullptr, false);
}

// Holds one of the download workers while a reply's body is being sent.
class DownloadSlot
{
public:
    explicit DownloadSlot(std::atomic<std::size_t> &count) : m_count(count) {}
    ~DownloadSlot() { --m_count; }
    DownloadSlot(const DownloadSlot &) = delete;
    DownloadSlot &operator=(const DownloadSlot &) = delete;

private:
    std::atomic<std::size_t> &m_count;
};

// Behind a proxy every connection comes from the proxy's address.
ConnectionLimits limitsFor(const ServerOptions &options)
{
    ConnectionLimits limits = options.connections;
    if (options.behindProxy) {
        limits.connectionsPerAddress = 0;
    }
    return limits;
}

std::string hostForUrl(const std::string &host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

} // namespace

SendovaServer::SendovaServer(ServerOptions options, Clock clock)
    : m_options(std::move(options)), m_clock(std::move(clock)),
      m_storage(openStorage({m_options.dataDir, m_options.database, m_options.blobStore}, true, m_clock)),
      m_accounts(
          std::make_unique<AccountStore>(m_storage->accounts(), m_clock, m_options.passwordIterations)),
      m_content(std::make_unique<ContentStore>(m_storage->content(), m_storage->blobs(), m_clock,
                                               m_options.linkLifetime)),
      m_http(std::make_unique<HttpServer>(limitsFor(m_options)))
{
    while (!m_options.publicUrl.empty() && m_options.publicUrl.back() == '/') {
        m_options.publicUrl.pop_back();
    }
    m_storage->claimForServing();
    const auto report = m_content->checkStoredFiles(m_options.allowEmptyDatabase);
    if (report.orphaned > 0) {
        std::cerr << "sendova-server: moved " << report.orphaned
                  << " stored files the database does not list to " << report.orphanedTo << std::endl;
    }
    if (report.missing > 0) {
        std::cerr << "sendova-server: stored files missing from blobs/: " << report.missing
                  << " (their links answer 404 until their owners upload them again)" << std::endl;
    }
    setUpRoutes();
}

SendovaServer::~SendovaServer()
{
    stop();
}

std::string SendovaServer::listenUrl() const
{
    return "http://" + hostForUrl(m_host) + ":" + std::to_string(m_port);
}

int SendovaServer::bind(const std::string &host, int port)
{
    if (port == 0) {
        m_port = m_http->bind_to_any_port(host);
    } else {
        m_port = m_http->bind_to_port(host, port) ? port : -1;
    }
    if (m_port < 0) {
        return -1;
    }
    m_host = host;
    m_publicUrl = m_options.publicUrl.empty() ? listenUrl() : m_options.publicUrl;
    // The administration commands build setup links against the address
    // clients last reached the server at.
    m_storage->setSetting("public_url", m_publicUrl);
    m_storage->setSetting("tenant_name", m_options.tenantName);
    return m_port;
}

void SendovaServer::run()
{
    // A client that hangs up in the middle of a download must not take the
    // server down, whichever write notices it.
    std::signal(SIGPIPE, SIG_IGN);
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = false;
    }
    std::thread purger;
    if (m_options.purgeInterval.count() > 0) {
        purger = std::thread([this] { purgeLoop(); });
    }
    m_http->listen_after_bind();
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopCondition.notify_all();
    if (purger.joinable()) {
        purger.join();
    }
}

void SendovaServer::start()
{
    if (m_port < 0) {
        throw std::logic_error("start() needs a successful bind() first");
    }
    m_runThread = std::thread([this] { run(); });
}

void SendovaServer::stop()
{
    m_http->closeConnections();
    m_http->stopListening();
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopCondition.notify_all();
    if (m_runThread.joinable()) {
        m_runThread.join();
    }
}

void SendovaServer::purgeLoop()
{
    std::unique_lock lock(m_stopMutex);
    while (!m_stopping) {
        lock.unlock();
        try {
            m_content->purgeExpired();
        } catch (const std::exception &error) {
            std::cerr << "sendova-server: expiry sweep failed: " << error.what() << std::endl;
        }
        lock.lock();
        m_stopCondition.wait_for(lock, m_options.purgeInterval, [this] { return m_stopping; });
    }
}

// Everything that can be refused from the head alone, before a byte of the
// body is read. httplib would read any body of a route that does not read it
// itself whole into memory before routing, so such bodies are turned away
// here, unread; the connection then closes.
bool SendovaServer::refuseBeforeBody(const httplib::Request &req, httplib::Response &res)
{
    static const std::set<std::string> PostPaths = {"/api/upload", "/api/auth/login",
                                                    "/api/exchange-setup-token"};
    // httplib reads a chunk-size line into memory however long it grows, and
    // no client of this server sends chunked bodies.
    if (req.has_header("Transfer-Encoding")) {
        refuseAny(req, res, 411, "LENGTH_REQUIRED", "Send the body with a Content-Length, not chunked");
        return true;
    }
    // Where a body ends must be beyond doubt (RFC 9112, 6.3): one length, in
    // digits, and one on every POST; anything else would let part of a body
    // run as the next request, or leave the server waiting for a body.
    const auto lengths = req.get_header_value_count("Content-Length");
    bool framed = lengths > 0 || req.method != "POST";
    for (std::size_t i = 0; i < lengths; ++i) {
        const std::string value = req.get_header_value("Content-Length", i);
        framed = framed && !value.empty() && value.size() <= 18 &&
                 value.find_first_not_of("0123456789") == std::string::npos &&
                 value == req.get_header_value("Content-Length");
    }
    if (!framed) {
        refuseAny(req, res, 400, "BAD_REQUEST", "Send one Content-Length in digits with every body");
        return true;
    }
    if (req.method == "POST" && PostPaths.contains(req.path)) {
        return false;
    }
    if (req.method == "GET" || req.method == "HEAD") {
        if (!hasBody(req)) {
            return false;
        }
        refuseAny(req, res, 400, "INVALID_REQUEST", "This request takes no body");
        return true;
    }
    const bool known = PostPaths.contains(req.path) || req.path == "/api/status" ||
                       req.path.starts_with("/api/check/") || req.path.starts_with("/f/");
    if (known) {
        refuseAny(req, res, 405, "METHOD_NOT_ALLOWED", "This method is not allowed here");
    } else {
        refuseAny(req, res, 404, "NOT_FOUND", "Not found");
    }
    return true;
}

void SendovaServer::refuseTooLarge(httplib::Response &res) const
{
    sendJson(res, 413,
             refusalBody("FILE_TOO_LARGE",
                         "The file is larger than the limit of " + std::to_string(m_options.maxUploadSize) +
                             " bytes",
                         true, false));
}

void SendovaServer::setUpRoutes()
{
    auto &http = *m_http;
    // httplib's default also sets SO_REUSEPORT, with which a second server
    // binds the same port without an error and the kernel splits the
    // clients between the two.
    http.set_socket_options([](int socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"}});

    // Every route that takes a body reads it itself, within its own limit;
    // the same checks answer an Expect: 100-continue before any body is sent.
    m_http->setPreRoutingHandler([this](const httplib::Request &req, httplib::Response &res) {
        return refuseBeforeBody(req, res) ? httplib::Server::HandlerResponse::Handled
                                          : httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_expect_100_continue_handler([this](const httplib::Request &req, httplib::Response &res) {
        if (refuseBeforeBody(req, res)) {
            return res.status;
        }
        if (req.path == "/api/upload") {
            const auto length = declaredLength(req);
            if (!authenticate(req, res, Style::Pascal)) {
                return res.status;
            }
            if (length && *length > m_options.maxUploadSize + MultipartSlack) {
                refuseTooLarge(res);
                return res.status;
            }
        } else if (const auto length = declaredLength(req); length && *length > MaxJsonBody) {
            sendJson(res, 413,
                     refusalBody("REQUEST_TOO_LARGE", "The request body is too large", false, true));
            return res.status;
        }
        return 100;
    });

    m_http->setErrorHandler([this](const httplib::Request &req, httplib::Response &res) {
        // httplib refuses a Range header it cannot parse before any route
        // runs. A download answers such a header with the whole file, as
        // RFC 9110 asks of a Range a server does not understand; the 416 of a
        // range past the end comes from serveLink and names the length.
        if (res.status == 416 && !res.has_header("Content-Range") && req.path.starts_with("/f/") &&
            (req.method == "GET" || req.method == "HEAD")) {
            serveLink(req, res, req.path.substr(3));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!res.body.empty() || res.status == 416) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        switch (res.status) {
        case 404:
            refuseAny(req, res, 404, "NOT_FOUND", "Not found");
            break;
        case 408:
            refuseAny(req, res, 408, "REQUEST_TIMEOUT", "The request took too long to arrive");
            break;
        case 431:
            refuseAny(req, res, 431, "HEADERS_TOO_LARGE", "The request headers are too large");
            break;
        default:
            refuseAny(req, res, res.status, "BAD_REQUEST", "The request could not be handled");
            break;
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    http.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr ep) {
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception &error) {
            std::cerr << "sendova-server: request failed: " << error.what() << std::endl;
        } catch (...) {
            std::cerr << "sendova-server: request failed" << std::endl;
        }
        sendJson(res, 500,
                 refusalBody("SERVER_ERROR", "The server could not complete the request", true, true));
    });

    if (m_options.logRequests) {
        // The path only: no query strings, headers or bodies, which may carry secrets.
        // Escaped, so that a decoded line break in a path cannot forge a line.
        http.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
            std::cerr << formatTimestamp(std::chrono::system_clock::now()) << ' '
                      << escapeForLog(clientAddress(req)) << ' ' << req.method << ' '
                      << escapeForLog(req.path) << ' ' << res.status << std::endl;
        });
    }

    http.Post("/api/upload",
              [this](const httplib::Request &req, httplib::Response &res,
                     const httplib::ContentReader &reader) { handleUpload(req, res, reader); });
    http.Post("/api/auth/login",
              [this](const httplib::Request &req, httplib::Response &res,
                     const httplib::ContentReader &reader) { handleLogin(req, res, reader); });
    http.Post("/api/exchange-setup-token",
              [this](const httplib::Request &req, httplib::Response &res,
                     const httplib::ContentReader &reader) { handleExchange(req, res, reader); });
    http.Get("/api/status",
             [this](const httplib::Request &req, httplib::Response &res) { handleStatus(req, res); });
    http.Get(R"(/api/check/(.*))",
             [this](const httplib::Request &req, httplib::Response &res) { handleCheck(req, res); });
    http.Get(R"(/f/([A-Za-z0-9]{1,64}))", [this](const httplib::Request &req, httplib::Response &res) {
        serveLink(req, res, req.matches[1]);
    });
    http.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("Sendova server\n", "text/plain; charset=utf-8");
    });
}

std::string SendovaServer::clientAddress(const httplib::Request &req) const
{
    const std::string forwarded =
        m_options.behindProxy ? req.get_header_value("X-Forwarded-For") : std::string();
    if (forwarded.empty()) {
        return req.remote_addr;
    }
    // Earlier entries are whatever the client claimed; the last is the proxy's.
    const auto comma = forwarded.rfind(',');
    std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
    last.erase(0, last.find_first_not_of(" \t"));
    return last;
}

std::optional<User> SendovaServer::authenticate(const httplib::Request &req, httplib::Response &res,
                                                Style style)
{
    const bool pascal = style != Style::Lower;
    const bool lower = style != Style::Pascal;
    const std::string key = req.get_header_value("X-API-Key");
    if (key.empty()) {
        sendJson(res, 401, refusalBody("MISSING_API_KEY", "The X-API-Key header is missing", pascal, lower));
        return std::nullopt;
    }
    const auto result = m_accounts->checkApiKey(key);
    switch (result.status) {
    case AuthStatus::Ok:
        return result.user;
    case AuthStatus::Inactive:
        sendJson(res, 401, refusalBody("TENANT_INACTIVE", "This account is inactive", pascal, lower));
        return std::nullopt;
    case AuthStatus::Invalid:
        break;
    }
    sendJson(res, 401, refusalBody("INVALID_API_KEY", "The API key is not valid", pascal, lower));
    return std::nullopt;
}

void SendovaServer::handleUpload(const httplib::Request &req, httplib::Response &res,
                                 const httplib::ContentReader &reader)
{
    const auto refuse = [&](int status, const std::string &code, const std::string &message) {
        sendJson(res, status, refusalBody(code, message, true, false));
    };
    const auto user = authenticate(req, res, Style::Pascal);
    if (!user) {
        drainSmallBody(req, reader);
        return;
    }
    // A large file takes its time on a slow line, within a minimum rate.
    HttpServer::allowSlowBody();
    std::optional<std::string> expectedHash;
    if (req.has_header("X-File-Hash")) {
        expectedHash = parsePrefixedHash(req.get_header_value("X-File-Hash"));
        if (!expectedHash) {
            refuse(400, "INVALID_HASH", "X-File-Hash must be sha256: followed by 64 hexadecimal digits");
            drainSmallBody(req, reader);
            return;
        }
    }
    if (!req.is_multipart_form_data()) {
        refuse(400, "INVALID_MULTIPART",
               "The body must be a multipart/form-data form with a part named file");
        drainSmallBody(req, reader);
        return;
    }
    const auto limit = m_options.maxUploadSize;
    if (const auto length = declaredLength(req); length && *length > limit + MultipartSlack) {
        refuseTooLarge(res);
        return;
    }

    std::unique_ptr<PendingUpload> pending;
    try {
        pending = m_content->beginUpload();
    } catch (const StorageError &error) {
        std::cerr << "sendova-server: " << error.what() << std::endl;
        refuse(500, "STORAGE_ERROR", "The server cannot store files at the moment");
        drainSmallBody(req, reader);
        return;
    }

    enum class Part { None, File, Other };
    Part current = Part::None;
    bool sawFile = false;
    bool secondFile = false;
    bool tooLarge = false;
    bool writeFailed = false;
    std::string rawName;
    std::uint64_t discarded = 0;
    const bool complete = reader(
        [&](const httplib::MultipartFormData &part) {
            if (part.name != "file") {
                current = Part::Other;
                return true;
            }
            if (sawFile) {
                secondFile = true;
                return false;
            }
            sawFile = true;
            rawName = part.filename;
            current = Part::File;
            return true;
        },
        [&](const char *data, std::size_t size) {
            if (current == Part::File && !tooLarge) {
                if (pending->size() + size <= limit) {
                    if (!pending->write(data, size)) {
                        writeFailed = true;
                        return false;
                    }
                    return true;
                }
                tooLarge = true;
            }
            // Other fields, and the rest of a file over the limit, are read
            // and dropped, within bounds, so that the refusal arrives on a
            // connection that is still in step.
            discarded += size;
            return discarded <= MultipartSlack;
        });

    if (tooLarge) {
        refuseTooLarge(res);
        return;
    }
    if (writeFailed) {
        std::cerr << "sendova-server: cannot write a received file: " << std::strerror(pending->writeError())
                  << std::endl;
        refuse(500, "STORAGE_ERROR", "The server could not write the file");
        return;
    }
    if (secondFile) {
        refuse(400, "MULTIPLE_FILES", "Send one part named file per request");
        return;
    }
    if (!complete) {
        if (HttpServer::requestTimedOut()) {
            refuse(408, "REQUEST_TIMEOUT", "The upload arrived too slowly");
        } else if (discarded > MultipartSlack) {
            refuse(413, "REQUEST_TOO_LARGE", "The form carries too much besides the file");
        } else {
            refuse(400, "INVALID_MULTIPART", "The body is not a complete multipart/form-data form");
        }
        return;
    }
    if (!sawFile) {
        refuse(400, "MISSING_FILE", "The form has no part named file");
        return;
    }
    const std::string &hash = pending->finish();
    if (expectedHash && *expectedHash != hash) {
        refuse(400, "HASH_MISMATCH", "The received content does not match X-File-Hash");
        return;
    }

    StoreResult stored;
    try {
        stored = m_content->store(*pending, user->id, sanitizeFileName(decodeQuotes(rawName)),
                                  cleanMachineName(req.get_header_value("X-Source-Machine")));
    } catch (const StorageError &error) {
        std::cerr << "sendova-server: " << error.what() << std::endl;
        refuse(500, "STORAGE_ERROR", "The server could not store the file");
        return;
    }
    const auto &link = stored.link;
    Json data = Json::object();
    data["Url"] = m_publicUrl + "/f/" + link.shortCode;
    data["ShortCode"] = link.shortCode;
    data["FileName"] = link.fileName;
    data["FileSize"] = link.fileSize;
    if (link.expiresAt) {
        data["ExpiresAt"] = formatTimestamp(*link.expiresAt);
    }
    data["IsDuplicate"] = stored.isDuplicate;
    data["Message"] = stored.isDuplicate ? "This file was already uploaded; its existing link is returned"
                                         : "File uploaded";
    sendJson(res, 200, Json{{"Success", true}, {"Data", data}});
}

void SendovaServer::handleCheck(const httplib::Request &req, httplib::Response &res)
{
    // The tray program asks with "sha256:<hex>" and reads PascalCase members;
    // the share program asks with the bare hex and reads lower-case ones.
    const std::string asked = req.matches[1];
    std::optional<std::string> hash = parsePrefixedHash(asked);
    Style style = Style::Pascal;
    if (!hash) {
        hash = parseBareHash(asked);
        style = Style::Lower;
    }
    if (!hash) {
        style = Style::Both;
    }
    const auto user = authenticate(req, res, style);
    if (!user) {
        return;
    }
    if (!hash) {
        sendJson(
            res, 400,
            refusalBody("INVALID_HASH", "Ask for sha256: followed by 64 hexadecimal digits", true, true));
        return;
    }
    const auto link = m_content->findUserLink(user->id, *hash);
    const bool pascal = style == Style::Pascal;
    Json data = Json::object();
    data[pascal ? "Exists" : "exists"] = link.has_value();
    if (link) {
        data[pascal ? "Url" : "url"] = m_publicUrl + "/f/" + link->shortCode;
        if (link->expiresAt) {
            data[pascal ? "ExpiresAt" : "expiresAt"] = formatTimestamp(*link->expiresAt);
        }
    }
    sendJson(res, 200,
             pascal ? Json{{"Success", true}, {"Data", data}} : Json{{"success", true}, {"data", data}});
}

void SendovaServer::handleLogin(const httplib::Request &req, httplib::Response &res,
                                const httplib::ContentReader &reader)
{
    const auto refuse = [&](int status, const std::string &code, const std::string &message) {
        sendJson(res, status, refusalBody(code, message, false, true));
    };
    const auto parsed = readJsonBody(req, res, reader, "Send the credentials as a JSON object");
    if (!parsed) {
        return;
    }
    const Json &request = *parsed;
    if (!request.is_object() || !request.contains("userName") || !request["userName"].is_string() ||
        !request.contains("password") || !request["password"].is_string()) {
        refuse(400, "INVALID_REQUEST", "Send a JSON object with userName and password");
        return;
    }
    const std::string userName = request["userName"].get<std::string>();
    const std::string address = clientAddress(req);
    if (const auto wait = m_storage->logins().admit(userName, address)) {
        const std::string seconds = std::to_string(wait->count());
        res.set_header("Retry-After", seconds);
        refuse(429, "TOO_MANY_ATTEMPTS", "Too many login attempts; try again in " + seconds + " seconds");
        return;
    }
    const auto result = m_accounts->checkPassword(userName, request["password"].get<std::string>());
    if (result.status != AuthStatus::Invalid) {
        m_storage->logins().succeeded(userName, address);
    }
    if (result.status == AuthStatus::Invalid) {
        refuse(401, "INVALID_CREDENTIALS", "Invalid user name or password");
        return;
    }
    if (result.status == AuthStatus::Inactive) {
        refuse(401, "TENANT_INACTIVE", "This account is inactive");
        return;
    }
    // Only hashes of keys are kept, so an existing key cannot be handed out
    // again: every login issues a new one, whatever reuseExisting says.
    const std::string key = m_accounts->issueApiKey(result.user->id, "login");
    sendJson(res, 200,
             Json{{"success", true},
                  {"data",
                   {{"serverUrl", m_publicUrl},
                    {"apiKey", key},
                    {"tenantName", m_options.tenantName},
                    {"userName", result.user->name}}}});
}

void SendovaServer::handleExchange(const httplib::Request &req, httplib::Response &res,
                                   const httplib::ContentReader &reader)
{
    const auto refuse = [&](int status, const std::string &code, const std::string &message) {
        sendJson(res, status, refusalBody(code, message, false, true));
    };
    const auto parsed = readJsonBody(req, res, reader, "Send the token as a JSON object");
    if (!parsed) {
        return;
    }
    const Json &request = *parsed;
    if (!request.is_object() || !request.contains("token") || !request["token"].is_string() ||
        (request.contains("machineName") && !request["machineName"].is_string())) {
        refuse(400, "INVALID_REQUEST", "Send a JSON object with token and machineName");
        return;
    }
    const std::string machine = request.contains("machineName")
                                    ? cleanMachineName(request["machineName"].get<std::string>())
                                    : std::string();
    const auto result = m_accounts->exchangeSetupToken(request["token"].get<std::string>(), machine);
    switch (result.status) {
    case TokenStatus::Ok:
        sendJson(res, 200,
                 Json{{"success", true},
                      {"apiKey", result.apiKey},
                      {"serverUrl", m_publicUrl},
                      {"tenantName", m_options.tenantName},
                      {"userName", result.user->name}});
        return;
    case TokenStatus::Expired:
        refuse(401, "TOKEN_EXPIRED", "This setup link has expired; ask for a new one");
        return;
    case TokenStatus::AlreadyUsed:
        refuse(401, "TOKEN_ALREADY_USED", "This setup link has already been used; ask for a new one");
        return;
    case TokenStatus::Inactive:
        refuse(401, "TENANT_INACTIVE", "This account is inactive");
        return;
    case TokenStatus::Unknown:
        break;
    }
    refuse(401, "INVALID_TOKEN", "This setup link is not valid");
}

void SendovaServer::handleStatus(const httplib::Request &req, httplib::Response &res)
{
    const auto user = authenticate(req, res, Style::Lower);
    if (!user) {
        return;
    }
    sendJson(res, 200,
             Json{{"success", true},
                  {"data",
                   {{"userName", user->name},
                    {"tenantName", m_options.tenantName},
                    {"serverUrl", m_publicUrl},
                    {"version", SENDOVA_VERSION},
                    {"maxUploadSize", m_options.maxUploadSize}}}});
}

void SendovaServer::serveLink(const httplib::Request &req, httplib::Response &res,
                              const std::string &shortCode)
{
    // httplib 0.11 cuts ranges itself and does not check them against the
    // length: a range past the end makes it ask the content provider for
    // bytes that do not exist. Ranges are therefore handled here only.
    const std::string rangeHeader = req.get_header_value("Range");
    const_cast<httplib::Request &>(req).ranges.clear();

    const auto notFound = [&] {
        res.status = 404;
        res.set_content("This link does not exist or has expired.\n", "text/plain; charset=utf-8");
    };
    const auto link = m_content->findLink(shortCode);
    if (!link) {
        notFound();
        return;
    }
    // Shared with the reply's provider, which may outlive this function.
    std::shared_ptr<BlobReader> content = m_content->openContent(*link);
    if (!content) {
        std::cerr << "sendova-server: the content of link " << link->shortCode << " is missing" << std::endl;
        notFound();
        return;
    }
    if (content->size() != static_cast<std::uint64_t>(link->fileSize)) {
        std::cerr << "sendova-server: the content of link " << link->shortCode << " has the wrong size"
                  << std::endl;
        sendJson(res, 500, refusalBody("STORAGE_ERROR", "The stored file is damaged", true, true));
        return;
    }
    const auto size = static_cast<std::uint64_t>(link->fileSize);
    const std::string etag = "\"" + link->hash + "\"";
    const std::string type = contentTypeForName(link->fileName);

    res.set_header("Content-Disposition", contentDisposition(link->fileName));
    res.set_header("Accept-Ranges", "bytes");
    res.set_header("ETag", etag);
    res.set_header("Content-Security-Policy", "sandbox; default-src 'none'");
    if (link->expiresAt) {
        res.set_header("X-Expires-At", formatTimestamp(*link->expiresAt));
    }

    ByteRange range;
    const std::string ifRange = req.get_header_value("If-Range");
    if (!rangeHeader.empty() && (ifRange.empty() || ifRange == etag)) {
        range = parseRange(rangeHeader, size);
    }
    if (range.kind == ByteRange::Kind::Unsatisfiable) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    std::uint64_t first = 0;
    std::uint64_t length = size;
    res.status = 200;
    if (range.kind == ByteRange::Kind::Partial) {
        first = range.first;
        length = range.last - range.first + 1;
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                            std::to_string(range.last) + "/" + std::to_string(size));
    }
    if (length == 0) {
        res.set_content(std::string(), type);
        return;
    }
    // Released when the reply is done with: the provider owns it.
    std::shared_ptr<DownloadSlot> slot;
    if (req.method == "GET") {
        if (++m_downloads > m_options.connections.downloadWorkers) {
            --m_downloads;
            res.headers.clear();
            res.status = 503;
            res.set_header("Retry-After", "5");
            res.set_content("Too many downloads at the moment; try again in a few seconds.\n",
                            "text/plain; charset=utf-8");
            return;
        }
        slot = std::make_shared<DownloadSlot>(m_downloads);
    }
    res.set_content_provider(
        static_cast<std::size_t>(length), type,
        [content, first, slot](std::size_t offset, std::size_t want, httplib::DataSink &sink) {
            // A piece at a time: between pieces httplib notices a server that is stopping.
            const auto piece = std::min<std::size_t>(want, 64 * 1024);
            return content->read(first + offset, piece, [&sink](const char *data, std::size_t size) {
                return sink.write(data, size);
            });
        });
}

} // namespace sendova::server
