// The web view's state: one read-only connection, the map as last read, and
// the layouts of the submaps drawn so far. Every member is used under mutex.
#ifndef TQ_TOOLS_TQMAP_WEB_SERVER_H
#define TQ_TOOLS_TQMAP_WEB_SERVER_H

#include "tools/tqmap/json.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

namespace httplib {
class Server;
}

namespace tqmap {

// A submap's layout: kept while its members (symbols, connections, labels,
// types) stay the same, so a change of statuses recolours in place.
struct Layout {
    std::string key;
    std::string svg;
    std::map<int, std::pair<double, double>> positions;   // symbol -> centre (points)
};

class MapView {
public:
    explicit MapView(std::string path) : path_(std::move(path)) {}
    // Opens the database and reads the map once; false with the reason.
    bool open(std::string &error);

    std::mutex mutex;
    // The map, read again when the database changed since (caller holds mutex).
    const MapModel &model();
    MapDatabase &db() { return db_; }
    // The submap's layout, made when missing or when its members changed.
    const Layout *layout(int submap, std::string &error);
    // Symbols whose status changed in the last 30 minutes.
    std::set<int> recentlyChanged();
    const std::string &path() const { return path_; }

    // Bumped by the watcher whenever another program commits; SSE waits on it.
    std::atomic<int64_t> version{0};
    std::condition_variable changed;
    std::mutex changedMutex;
    std::atomic<bool> stopping{false};

private:
    std::string path_;
    MapDatabase db_;
    MapModel model_;
    int64_t loadedAt_ = -1;
    std::map<int, Layout> layouts_;
};

// The key of a submap's members: equal keys lay out alike.
std::string layoutKey(const MapModel &m, int submap);

// Routes of the JSON API, /metrics and /healthz (api.cpp) and of the pages
// and their assets (pages.cpp).
void addApiRoutes(httplib::Server &server, MapView &view);
void addPageRoutes(httplib::Server &server, MapView &view);

// Serves the web view until stopped; 2 for a bad listen address, a port in
// use or an unusable database.
int cmdServe(const std::string &path, const std::string &listen);

}  // namespace tqmap

#endif
