// tqmap serve: the live web view of a map database, read-only.
#include "tools/tqmap/web/server.h"

#include "tools/tqmap/web/auth.h"

#include "host/sockets.h"

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace tqmap {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

// Workers for pages and the API, beyond those of the event streams.
constexpr int kPageWorkers = 8;
// No request of the view has a body worth more than this.
constexpr size_t kMaxRequestBody = 64 * 1024;
// Scripts, styles and pictures from the server itself only; the drawings set
// colours through attributes.
const char kContentSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

bool fileExists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

bool isLoopback(const std::string &host)
{
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// The Host headers a browser sends for this listening address.
std::set<std::string> knownHosts(const std::string &host, int port)
{
    std::set<std::string> out;
    std::string p = ":" + std::to_string(port);
    for (std::string name : {host, std::string("localhost"), std::string("127.0.0.1"), std::string("[::1]")}) {
        if (name.find(':') != std::string::npos && name.front() != '[')
            name = "[" + name + "]";
        out.insert(name);
        out.insert(name + p);
    }
    return out;
}

void onStopSignal(int)
{
    g_stopSignal = 1;
}

// "HOST:PORT" (an IPv6 host in brackets); false when malformed.
bool parseListen(const std::string &text, std::string &host, int &port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size())
        return false;
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(digits);
    return port > 0 && port <= 65535;
}

}  // namespace

bool MapView::open(std::string &error)
{
    std::lock_guard<std::mutex> lock(dbMutex_);
    if (!db_.open(path_, error))
        return false;
    loadedAt_ = db_.dataVersion();
    auto first = std::make_shared<MapModel>();
    if (!loadModel(db_, *first, error, false))
        return false;
    std::lock_guard<std::mutex> swap(snapshotMutex_);
    model_ = std::move(first);
    ready = true;
    return true;
}

std::shared_ptr<const MapModel> MapView::lastModel() const
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return model_;
}

std::optional<RunCounters> MapView::runCounters() const
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return counters_;
}

void MapView::setRunCounters(std::optional<RunCounters> c)
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    counters_ = std::move(c);
}

std::shared_ptr<const MapModel> MapView::model()
{
    {
        std::lock_guard<std::mutex> lock(dbMutex_);
        int64_t v = db_.dataVersion();
        if (v != loadedAt_) {
            auto fresh = std::make_shared<MapModel>();
            std::string error;
            if (loadModel(db_, *fresh, error, false)) {
                loadedAt_ = v;
                std::lock_guard<std::mutex> swap(snapshotMutex_);
                model_ = std::move(fresh);
            } else {
                std::fprintf(stderr, "tqmap serve: %s\n", error.c_str());
            }
        }
    }
    return lastModel();
}

std::string layoutKey(const MapModel &m, int submap)
{
    // FNV-1a over the members, without building their text: a page of a
    // submap of 55,000 symbols asks for its key on every request.
    uint64_t h = 14695981039346656037ull;
    auto bytes = [&h](const void *data, size_t n) {
        for (size_t i = 0; i < n; ++i)
            h = (h ^ static_cast<const unsigned char *>(data)[i]) * 1099511628211ull;
    };
    auto text = [&](const std::optional<std::string> &t) {
        uint64_t n = t ? t->size() : ~0ull;
        bytes(&n, sizeof n);
        if (t)
            bytes(t->data(), t->size());
    };
    auto it = m.symbolsOnSubmap.find(submap);
    if (it != m.symbolsOnSubmap.end())
        for (int sid : it->second) {
            const Symbol &s = m.symbols.at(sid);
            int ids[4] = {sid, s.connA, s.connZ, m.isGraphObject(s.object) ? 1 : 0};
            bytes(ids, sizeof ids);
            text(s.label);
            text(s.symbolType);
        }
    return std::to_string(submap) + "-" + std::to_string(h);
}

std::shared_ptr<const Layout> MapView::layout(const MapModel &m, int submap, std::string &error, const ViewQuery &view)
{
    std::string key;
    {
        std::lock_guard<std::mutex> lock(layoutMutex_);
        auto it = keys_.find(submap);
        if (it != keys_.end() && m.serial != 0 && it->second.first == m.serial)
            key = it->second.second;
    }
    if (key.empty()) {
        key = layoutKey(m, submap);
        std::lock_guard<std::mutex> lock(layoutMutex_);
        keys_[submap] = {m.serial, key};
    }
    bool plain = view.plain();
    if (plain) {
        std::lock_guard<std::mutex> lock(layoutMutex_);
        auto it = layouts_.find(submap);
        if (it != layouts_.end() && it->second->key == key)
            return it->second;
        auto earlier = earlierLayouts_.find(key);
        if (earlier != earlierLayouts_.end())
            return earlier->second;
    }
    auto l = std::make_shared<Layout>();
    l->key = plain ? key : key + "-" + view.key();
    const char *engine = submapLayoutEngine(m, submap);
    if (!plain || std::strcmp(engine, "dot") != 0) {
        LayeredDrawing d = drawLayered(m, submap, view);
        l->layered = true;
        l->svg = std::move(d.svg);
        l->positions = std::move(d.positions);
        l->shown = std::move(d.shown);
        l->groups = std::move(d.groups);
        if (!plain)
            return l;
        std::lock_guard<std::mutex> lock(layoutMutex_);
        return layouts_[submap] = std::move(l);
    }
    std::map<std::string, std::pair<double, double>> named;
    bool timedOut = false;
    if (!renderSvgWithin(renderSubmapDot(m, submap, true), engine, layoutBudgetMs, l->svg, named, error, timedOut)) {
        if (!timedOut)
            return nullptr;
        std::fprintf(stderr, "tqmap serve: the layout of submap %d took more than %d ms: placed on a grid\n", submap,
                     layoutBudgetMs);
        l->grid = true;
    }
    if (l->grid && !renderSvg(renderSubmapDot(m, submap, true, true), "nop", l->svg, named, error))
        return nullptr;
    size_t start = l->svg.find("<svg");
    if (start != std::string::npos)
        l->svg.erase(0, start);
    for (const auto &[name, xy] : named)
        if (name.size() > 1 && name[0] == 's')
            l->positions[std::atoi(name.c_str() + 1)] = xy;
    std::lock_guard<std::mutex> lock(layoutMutex_);
    std::shared_ptr<const Layout> &slot = layouts_[submap];
    if (slot != nullptr) {
        if (earlierLayouts_.size() >= 64)
            earlierLayouts_.clear();
        earlierLayouts_[slot->key] = slot;
    }
    return slot = std::move(l);
}

std::vector<int> MapView::groupStatuses(const MapModel &m, const Layout &l)
{
    {
        std::lock_guard<std::mutex> lock(layoutMutex_);
        auto it = groupStatuses_.find(l.key);
        if (it != groupStatuses_.end() && m.serial != 0 && it->second.first == m.serial)
            return it->second.second;
    }
    std::vector<int> worst;
    for (const FoldedGroup &g : l.groups)
        worst.push_back(worstStatus(m, g.members));
    std::lock_guard<std::mutex> lock(layoutMutex_);
    if (groupStatuses_.size() >= 64)
        groupStatuses_.clear();
    groupStatuses_[l.key] = {m.serial, worst};
    return worst;
}

std::set<int> MapView::recentlyChanged()
{
    int64_t now = nowMs();
    return withDb([&](MapDatabase &db) { return db.statusChangedSince(now - 30 * 60 * 1000); });
}

namespace {

// The HTTP library compresses by brotli whenever a client takes it, at
// brotli's slowest quality: about 800 ms for the 126 KB drawing of a large
// submap, where gzip takes 20 ms for twice the bytes, which is nothing on the
// networks the view is used over. So brotli is struck from what the client
// says it takes. The request is the server's own object (never const), so
// changing its header here is sound.
void takeNoBrotli(const httplib::Request &req)
{
    auto it = req.headers.find("Accept-Encoding");
    if (it == req.headers.end() || it->second.find("br") == std::string::npos)
        return;
    std::istringstream in(it->second);
    std::string token, kept;
    while (std::getline(in, token, ',')) {
        size_t a = token.find_first_not_of(' '), b = token.find_first_of(" ;", a);
        if (a != std::string::npos && token.substr(a, b == std::string::npos ? b : b - a) != "br")
            kept += (kept.empty() ? "" : ", ") + token.substr(a);
    }
    const_cast<std::string &>(it->second) = kept;
}

}  // namespace

int cmdPasswd(const std::string &usersFile, const std::string &user)
{
    std::string password;
    if (!std::getline(std::cin, password)) {
        std::fprintf(stderr, "tqmap: passwd reads the password from standard input\n");
        return kExitUsage;
    }
    std::string error;
    if (!web::setUserPassword(usersFile, user, password, error)) {
        std::fprintf(stderr, "tqmap: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("tqmap: password of %s set in %s\n", user.c_str(), usersFile.c_str());
    return kExitOk;
}

int cmdServe(const std::string &path, const ServeOptions &opt)
{
    const std::string &listen = opt.listen;
    std::string host;
    int port = 0;
    if (!parseListen(listen, host, port)) {
        std::fprintf(stderr, "tqmap: bad --listen value '%s': give HOST:PORT, e.g. 127.0.0.1:8080\n", listen.c_str());
        return kExitUsage;
    }
    const bool tls = !opt.tlsCert.empty() || !opt.tlsKey.empty();
    if (tls && (opt.tlsCert.empty() || opt.tlsKey.empty())) {
        std::fprintf(stderr, "tqmap: --tls-cert and --tls-key go together\n");
        return kExitUsage;
    }
    web::Access access;
    std::string error;
    if ((!opt.users.empty() && !access.loadUsers(opt.users, error)) ||
        (!opt.tokenFile.empty() && !access.loadToken(opt.tokenFile, error))) {
        std::fprintf(stderr, "tqmap: %s\n", error.c_str());
        return kExitUsage;
    }
    const bool loopback = isLoopback(host);
    if (!loopback && (!tls || !access.enabled())) {
        if (!opt.insecure) {
            std::fprintf(stderr,
                         "tqmap: %s is reachable from other machines: give --tls-cert and --tls-key, and --users "
                         "(tqmap passwd) or --token-file; --insecure serves without them\n",
                         host.c_str());
            return kExitUsage;
        }
        std::fprintf(stderr, "tqmap: warning: serving the map on %s %s%s; anyone who can reach the port may read it\n",
                     listen.c_str(), tls ? "" : "without TLS", access.enabled() ? "" : (tls ? "without authentication" : " or authentication"));
    }
    MapView view(path);
    if (const char *budget = std::getenv("TQMAP_LAYOUT_BUDGET_MS"); budget != nullptr && *budget != '\0')
        view.layoutBudgetMs = std::atoi(budget);
    // The watcher's own connection: it waits for the server's notices of
    // commits, or asks the data version ten times a second (SQLite's, which
    // reads no page of the map; a standby's replayed log position). It
    // starts watching before the map is first read, so that no commit falls
    // between the two unseen.
    MapDatabase watch;
    std::string watchError;
    const bool watching = watch.open(path, watchError);
    if (watching)
        watch.waitForChange(0);
    // A map file that is not there yet (the daemon has not started) is
    // waited for; any other failure to open it, and any on a server, ends
    // the server with the reason.
    if (!view.open(error) && (fileExists(path) || mapdb::isServerMap(path))) {
        std::fprintf(stderr, "tqmap: %s\n", error.c_str());
        return kExitUsage;
    }
    if (view.ready && !watching) {
        std::fprintf(stderr, "tqmap: %s\n", watchError.c_str());
        return kExitUsage;
    }

    std::unique_ptr<httplib::Server> made;
    if (tls) {
        auto secure = std::make_unique<httplib::SSLServer>(opt.tlsCert.c_str(), opt.tlsKey.c_str());
        if (!secure->is_valid()) {
            std::fprintf(stderr, "tqmap: cannot use the certificate %s with the key %s\n", opt.tlsCert.c_str(),
                         opt.tlsKey.c_str());
            return kExitUsage;
        }
        made = std::move(secure);
    } else {
        made = std::make_unique<httplib::Server>();
    }
    httplib::Server &server = *made;
    // Workers for the pages beyond the event streams, which hold one each
    // while open (bounded by MapView::kMaxStreams).
    server.new_task_queue = [] { return new httplib::ThreadPool(MapView::kMaxStreams + kPageWorkers); };
    server.set_socket_options([](socket_t fd) { tqExclusiveListenOptions(static_cast<int>(fd)); });
    server.set_payload_max_length(kMaxRequestBody);
    const std::set<std::string> hosts = knownHosts(host, port);
    server.set_pre_routing_handler([loopback, hosts, &access, &view](const httplib::Request &req,
                                                                     httplib::Response &res) {
        takeNoBrotli(req);
        // Bound to loopback, a page reached under another name is a page of
        // some other site whose name was made to point here: refused.
        if (loopback && hosts.count(req.get_header_value("Host")) == 0) {
            res.status = 421;
            res.set_content(jsonText({{"error", "unknown host name"}}), "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (access.enabled() && !access.allows(req.get_header_value("Authorization"))) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"tqmap\", charset=\"UTF-8\"");
            res.set_content(jsonText({{"error", "authentication required"}}), "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!view.ready) {
            res.status = 503;
            res.set_header("Retry-After", "5");
            if (req.path.rfind("/api/", 0) == 0)
                res.set_content(jsonText({{"error", "no map yet"}}), "application/json");
            else
                res.set_content("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                                "<meta http-equiv=\"refresh\" content=\"5\"><title>no map yet</title></head>"
                                "<body><h1>No map yet</h1><p>The map database does not exist yet: the daemon makes it "
                                "when it starts. This page looks again every 5 seconds.</p></body></html>\n",
                                "text/html; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_post_routing_handler([](const httplib::Request &, httplib::Response &res) {
        res.set_header("Content-Security-Policy", kContentSecurityPolicy);
        res.set_header("X-Content-Type-Options", "nosniff");
    });
    server.set_exception_handler([](const httplib::Request &req, httplib::Response &res, std::exception_ptr ep) {
        // The cause goes to the log, never to the client.
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "tqmap serve: %s: %s\n", req.path.c_str(), e.what());
        } catch (...) {
            std::fprintf(stderr, "tqmap serve: %s: failed\n", req.path.c_str());
        }
        res.status = 500;
        res.set_content(jsonText({{"error", "internal error"}}), "application/json");
    });
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &req,
                                                                      httplib::Response &res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        std::string what = res.status == 404   ? "not found"
                           : res.status == 413 ? "request too large"
                           : res.status == 400 ? "bad request"
                                               : "request failed (" + std::to_string(res.status) + ")";
        if (req.path.rfind("/api/", 0) == 0)
            res.set_content(jsonText({{"error", what}}), "application/json");
        else
            res.set_content(what + "\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    }));
    addApiRoutes(server, view);
    addPageRoutes(server, view);
    addExportRoutes(server, view);
    addViewRoutes(server, view);
    addPastRoutes(server, view);
    if (!server.bind_to_port(host.c_str(), port)) {
        std::fprintf(stderr, "tqmap: cannot listen on %s: the port is in use or the address is not this machine's\n",
                     listen.c_str());
        return kExitUsage;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    auto readCounters = [&]() {
        RunCounters c;
        bool found = false;
        std::string ignored;
        view.setRunCounters(watch.readRunCounters(c, found, ignored) && found ? std::optional<RunCounters>(c)
                                                                               : std::nullopt);
    };
    if (view.ready)
        readCounters();
    // Follows the map: a server's primary wakes it with its notice of each
    // commit; elsewhere it looks again ten times a second (MapReader).
    std::thread watcher([&]() {
        int tick = 0;
        while (!view.stopping) {
            if (g_stopSignal != 0) {
                view.stopping = true;
                view.changed.notify_all();
                server.stop();
                // A worker still busy (a long layout inside Graphviz) must not
                // keep the process: the view writes nothing, so ending it is safe.
                for (int i = 0; i < 8 && server.is_running(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                std::fflush(nullptr);
                std::_Exit(kExitOk);
            }
            if (!view.ready) {
                // Once a second: has the daemon made the map?
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                std::string ignored;
                if (++tick % 10 == 0 && watch.open(path, ignored) && (watch.waitForChange(0), view.open(ignored))) {
                    readCounters();
                    std::lock_guard<std::mutex> lock(view.changedMutex);
                    ++view.version;
                }
                continue;
            }
            const int changed = watch.waitForChange(100);
            view.readable = changed >= 0;
            if (changed > 0) {
                view.model();   // read the new map before telling the pages
                readCounters();
                {
                    std::lock_guard<std::mutex> lock(view.changedMutex);
                    ++view.version;
                }
                view.changed.notify_all();
            }
        }
    });
    std::printf("tqmap: serving %s on %s://%s/ (read-only; Ctrl-C stops)%s\n", path.c_str(), tls ? "https" : "http",
                listen.c_str(), view.ready ? "" : "; no map yet, waiting for it");
    std::fflush(stdout);
    bool ok = server.listen_after_bind();
    view.stopping = true;
    view.changed.notify_all();
    watcher.join();
    return ok ? kExitOk : kExitFailed;
}

}  // namespace tqmap
