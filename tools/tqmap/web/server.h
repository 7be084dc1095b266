// The web view's state: one read-only connection, the map as last read, and
// the layouts of the submaps drawn so far. Every member is used under mutex.
#ifndef TQ_TOOLS_TQMAP_WEB_SERVER_H
#define TQ_TOOLS_TQMAP_WEB_SERVER_H

#include "tools/tqmap/json.h"
#include "tools/tqmap/layered.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace tqmap {

// A submap's layout: kept while its members (symbols, connections, labels,
// types) stay the same, so a change of statuses recolours in place.
struct Layout {
    std::string key;
    std::string svg;
    std::map<int, std::pair<double, double>> positions;   // symbol -> centre (points)
    bool grid = false;    // the grid placement: the ranked layout ran out of time
    // The layered drawing (layered.h): a submap past the ranked layout's
    // bounds, or a view that opens groups or shows a neighbourhood. Only the
    // shown symbols are drawn; the groups stand for the others.
    bool layered = false;
    std::vector<int> shown;
    std::vector<FoldedGroup> groups;
};

// The map as read, shared by the routes: a request takes the current
// snapshot and works on it without a lock; a read of the database publishes
// a new one. Layouts are made outside every lock but Graphviz's own.
class MapView {
public:
    explicit MapView(std::string path) : path_(std::move(path)) {}
    // Opens the database and reads the map once; false with the reason.
    bool open(std::string &error);
    // True once open succeeded: until then every route answers "no map yet".
    std::atomic<bool> ready{false};

    // The map, read again first when the database changed since.
    std::shared_ptr<const MapModel> model();
    // The map as it was at a time (milliseconds since 1970), from the map
    // now and the history (past.cpp); null with the reason for a time before
    // the history's window. With a submap, only the part of it that shows
    // that submap (submapModelAt), unless the whole is at hand.
    std::shared_ptr<const MapModel> modelAt(int64_t atMs, std::string &error, int submap = 0);
    // The map as last read, without looking at the database (never waits for
    // a read).
    std::shared_ptr<const MapModel> lastModel() const;
    // Runs `f` with the database connection, one caller at a time.
    template <class F>
    auto withDb(F &&f)
    {
        std::lock_guard<std::mutex> lock(dbMutex_);
        return f(db_);
    }
    // The submap's layout on this map, made when missing or when its
    // members changed; null with the reason on a Graphviz failure. A ranked
    // layout has layoutBudgetMs: past it the grid placement is made instead
    // (and kept for these members). A submap past the ranked layout's bounds,
    // and every view that is not plain, gets the layered drawing; only the
    // plain view is kept.
    std::shared_ptr<const Layout> layout(const MapModel &m, int submap, std::string &error,
                                         const ViewQuery &view = ViewQuery());
    // The worst status now of each of a layered layout's groups, in its
    // order: worked out once per model (a group of the largest submap has
    // tens of thousands of members).
    std::vector<int> groupStatuses(const MapModel &m, const Layout &l);
    // Symbols whose status changed in the last 30 minutes.
    std::set<int> recentlyChanged();
    const std::string &path() const { return path_; }
    // The ranked layout's time budget: TQMAP_LAYOUT_BUDGET_MS, else 2 s.
    int layoutBudgetMs = 2000;

    // Bumped by the watcher whenever another program commits; SSE waits on it.
    std::atomic<int64_t> version{0};
    std::condition_variable changed;
    std::mutex changedMutex;
    std::atomic<bool> stopping{false};
    // Event streams open now; past kMaxStreams a new one is refused (503), so
    // streams never take the workers that answer pages.
    std::atomic<int> streams{0};
    static constexpr int kMaxStreams = 64;
    // The daemon's run counters as the watcher last read them; none on a map
    // without them.
    std::optional<RunCounters> runCounters() const;
    void setRunCounters(std::optional<RunCounters> c);
    // Whether the watcher could read the database the last time it looked.
    std::atomic<bool> readable{true};

private:
    std::string path_;
    std::mutex dbMutex_;       // the connection and the read of a new snapshot
    MapDatabase db_;
    int64_t loadedAt_ = -1;
    mutable std::mutex snapshotMutex_;   // held only to swap the pointer
    std::shared_ptr<const MapModel> model_;
    std::optional<RunCounters> counters_;
    std::mutex layoutMutex_;   // held only to look up or store a layout
    std::map<int, std::shared_ptr<const Layout>> layouts_;
    // Layouts a newer one replaced, by key: the same submap at a past time.
    std::map<std::string, std::shared_ptr<const Layout>> earlierLayouts_;
    // Worked out per model (MapModel::serial): submap -> its layout key,
    // layout key -> its groups' statuses. Held under layoutMutex_.
    std::map<int, std::pair<uint64_t, std::string>> keys_;
    std::map<std::string, std::pair<uint64_t, std::vector<int>>> groupStatuses_;
    std::mutex pastMutex_;     // held only to look up or store a past map
    // Past maps by time and submap (0: the whole map), with the map they
    // were made from.
    std::map<std::pair<int64_t, int>, std::pair<std::shared_ptr<const MapModel>, std::shared_ptr<const MapModel>>>
        past_;
};

// The key of a submap's members: equal keys lay out alike.
std::string layoutKey(const MapModel &m, int submap);

// Routes of the JSON API, /metrics and /healthz (api.cpp), of the pages and
// their assets (pages.cpp), and of a submap's export and its script
// (export.cpp).
void addApiRoutes(httplib::Server &server, MapView &view);
void addPageRoutes(httplib::Server &server, MapView &view);
void addExportRoutes(httplib::Server &server, MapView &view);
// The view a request asks for: ?open=, ?around= and ?hops= (layered.h).
ViewQuery viewQueryOf(const httplib::Request &req);
// /api/submap/ID of a layered drawing: the shown symbols and connections
// only, and the groups with their worst status now (views.cpp).
Json layeredSubmapJson(const MapModel &m, int submap, const Layout &l, const ViewQuery &q,
                       const std::vector<int> &groupStatuses);
// /api/connection/ID: a connection's ends, label, status and last change
// (views.cpp).
void addViewRoutes(httplib::Server &server, MapView &view);
// /api/history and /api/diff (past.cpp).
void addPastRoutes(httplib::Server &server, MapView &view);
// The map a request asks for: now, or with ?at=TIME as it was then. Null
// once the request is answered with the refusal: 400 for a time it cannot
// read, 410 for a time before the history's window. A route that shows one
// submap names it: a past map is then made of that submap's part only.
std::shared_ptr<const MapModel> requestedModel(MapView &view, const httplib::Request &req, httplib::Response &res,
                                               int submap = 0);
// A page asked for at a time given other than in milliseconds ("2h", an ISO
// time) is sent to the same page at that time in milliseconds, so that the
// page's requests share one time and a link to it keeps showing that time.
// True when it answered so.
bool pinPageTime(const httplib::Request &req, httplib::Response &res);

// How to serve: where, and for an address other than loopback, TLS and who
// may see the map.
struct ServeOptions {
    std::string listen = "127.0.0.1:8080";
    std::string tlsCert, tlsKey;   // PEM files: serve HTTPS
    std::string users;             // a users file of tqmap passwd
    std::string tokenFile;         // a file holding a bearer token
    bool insecure = false;         // beyond loopback without TLS or authentication
};

// Serves the web view until stopped; 2 for a bad listen address, a port in
// use, an unusable database, certificate, key, users or token file, or an
// address beyond loopback without TLS and authentication (unless insecure).
// Started before the map exists, it answers 503 "no map yet" until it does.
int cmdServe(const std::string &path, const ServeOptions &opt);
// tqmap passwd: reads a password from standard input and sets it for the
// user in the users file.
int cmdPasswd(const std::string &usersFile, const std::string &user);

}  // namespace tqmap

#endif
