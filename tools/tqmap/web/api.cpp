// The web view's JSON API, the event stream, /metrics and /healthz.
#include "tools/tqmap/web/server.h"

#include "tools/tqmap/past.h"

#include <httplib.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>

namespace tqmap {

namespace {

void sendJson(httplib::Response &res, const Json &j)
{
    res.set_header("Cache-Control", "no-store");
    res.set_content(jsonText(j), "application/json");
}

// A failure of the map's reading or drawing: the reason goes to the log.
void failed(httplib::Response &res, const std::string &error)
{
    std::fprintf(stderr, "tqmap serve: %s\n", error.c_str());
    res.status = 500;
    res.set_content(jsonText({{"error", "the map could not be read or drawn"}}), "application/json");
}

void notFound(httplib::Response &res, const std::string &what)
{
    res.status = 404;
    res.set_content(jsonText({{"error", what}}), "application/json");
}

int idParam(const httplib::Request &req)
{
    const std::string &t = req.matches[1];
    return t.size() < 10 ? std::atoi(t.c_str()) : -1;
}

// The severity a problem must have at least: a status name, or none.
int minSeverityOf(const httplib::Request &req)
{
    std::string name = req.get_param_value("min");
    for (int st = 0; st <= 7; ++st)
        if (statusName(st) == name)
            return mapdb::statusSeverity(st);
    return 0;
}

// Seconds since 1970 of the database's last commit: the newer of the file and
// its write-ahead log.
int64_t lastCommitTime(const std::string &path)
{
    namespace fs = std::filesystem;
    int64_t newest = 0;
    for (const std::string &f : {path, path + "-wal"}) {
        std::error_code ec;
        auto t = fs::last_write_time(f, ec);
        if (ec)
            continue;
        auto sys = std::chrono::time_point_cast<std::chrono::seconds>(t - fs::file_time_type::clock::now() +
                                                                      std::chrono::system_clock::now());
        newest = std::max<int64_t>(newest, sys.time_since_epoch().count());
    }
    return newest;
}

std::string metricsText(MapView &view)
{
    auto snapshot = view.lastModel();
    const MapModel &m = *snapshot;
    std::map<std::pair<std::string, std::string>, int64_t> bySymbol;
    for (const auto &[id, s] : m.symbols) {
        std::string kind = s.isConnection() ? "connection" : m.isGraphObject(s.object) ? "graph" : "vertex";
        ++bySymbol[{statusName(m.effectiveStatus(s)), kind}];
    }
    std::ostringstream out;
    out << "# HELP tqmap_symbols Symbols on the map by effective status and kind.\n"
        << "# TYPE tqmap_symbols gauge\n";
    for (const auto &[key, n] : bySymbol)
        out << "tqmap_symbols{status=\"" << key.first << "\",kind=\"" << key.second << "\"} " << n << "\n";
    out << "# HELP tqmap_objects Objects in the map database.\n# TYPE tqmap_objects gauge\n"
        << "tqmap_objects " << m.objects.size() << "\n"
        << "# HELP tqmap_submaps Submaps in the map.\n# TYPE tqmap_submaps gauge\n"
        << "tqmap_submaps " << m.submaps.size() << "\n"
        << "# HELP tqmap_last_commit_timestamp_seconds When the map database was last written.\n"
        << "# TYPE tqmap_last_commit_timestamp_seconds gauge\n"
        << "tqmap_last_commit_timestamp_seconds " << lastCommitTime(view.path()) << "\n";
    if (std::optional<RunCounters> counters = view.runCounters()) {
        const RunCounters &c = *counters;
        auto gauge = [&](const char *name, const char *help, int64_t v) {
            out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n" << name << " " << v << "\n";
        };
        auto counter = [&](const char *name, const char *help, int64_t v) {
            out << "# HELP " << name << " " << help << "\n# TYPE " << name << " counter\n" << name << " " << v << "\n";
        };
        gauge("tqdaemon_start_timestamp_seconds", "When the daemon started.", c.started);
        gauge("tqdaemon_counters_timestamp_seconds", "When the daemon last wrote its counters.", c.updated);
        gauge("tqdaemon_ended", "1 when the daemon has ended its run.", c.ended);
        counter("tqdaemon_frames_read_total", "Frames read from the message stream.", c.framesRead);
        counter("tqdaemon_messages_applied_total", "Messages whose map changes were made.", c.applied);
        counter("tqdaemon_messages_refused_total", "Messages refused.", c.refused);
        counter("tqdaemon_messages_failed_total", "Messages whose map changes failed.", c.failed);
        counter("tqdaemon_frames_skipped_total", "Frames skipped whole.", c.skipped);
        counter("tqdaemon_map_events_total", "Map events handled.", c.eventsHandled);
    }
    return out.str();
}

}  // namespace

void addApiRoutes(httplib::Server &server, MapView &view)
{
    server.Get("/api/map", [&](const httplib::Request &req, httplib::Response &res) {
        auto snapshot = requestedModel(view, req, res);
        if (snapshot == nullptr)
            return;
        const MapModel &m = *snapshot;
        Json submaps = Json::array();
        for (const auto &entry : m.submaps)
            submaps.push_back({{"id", entry.first},
                               {"title", submapTitle(m, entry.first)},
                               {"symbols", m.symbolsOnSubmap.count(entry.first) != 0
                                               ? m.symbolsOnSubmap.at(entry.first).size()
                                               : 0}});
        sendJson(res, {{"name", m.mapName},
                       {"open", m.isOpen},
                       {"rootSubmap", m.rootSubmap},
                       {"objects", m.objects.size()},
                       {"symbols", m.symbols.size()},
                       {"submaps", submaps},
                       {"version", view.version.load()}});
    });

    server.Get(R"(/api/submap/(\d+))", [&](const httplib::Request &req, httplib::Response &res) {
        const int id = idParam(req);
        auto snapshot = requestedModel(view, req, res, id);
        if (snapshot == nullptr)
            return;
        const MapModel &m = *snapshot;
        if (m.submaps.count(id) == 0)
            return notFound(res, "no submap " + req.matches[1].str());
        std::string error;
        ViewQuery q = viewQueryOf(req);
        std::shared_ptr<const Layout> l = view.layout(m, id, error, q);
        Json j = l != nullptr && l->layered ? layeredSubmapJson(m, id, *l, q, view.groupStatuses(m, *l)) : submapJson(m, id);
        std::set<int> recent = req.has_param("at") ? std::set<int>() : view.recentlyChanged();
        for (Json &s : j["symbols"])
            s["recent"] = recent.count(s["id"].get<int>()) != 0;
        for (Json &s : j["connections"])
            s["recent"] = recent.count(s["id"].get<int>()) != 0;
        j["layoutKey"] = l != nullptr ? l->key : layoutKey(m, id);
        j["placement"] = l == nullptr ? "ranked" : l->layered ? "layered" : l->grid ? "grid" : "ranked";
        // [symbol, x, y] triples: an array, as a large submap has thousands.
        Json pos = Json::array();
        if (l != nullptr)
            for (const auto &[sid, xy] : l->positions)
                pos.push_back({sid, xy.first, xy.second});
        j["positions"] = pos;
        j["version"] = view.version.load();
        sendJson(res, j);
    });

    server.Get(R"(/api/submap/(\d+)/svg)", [&](const httplib::Request &req, httplib::Response &res) {
        const int id = idParam(req);
        auto snapshot = requestedModel(view, req, res, id);
        if (snapshot == nullptr)
            return;
        if (snapshot->submaps.count(id) == 0)
            return notFound(res, "no submap " + req.matches[1].str());
        std::string error;
        std::shared_ptr<const Layout> l = view.layout(*snapshot, id, error, viewQueryOf(req));
        if (l == nullptr)
            return failed(res, error);
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Layout-Key", l->key);
        res.set_content(l->svg, "image/svg+xml");
    });

    server.Get(R"(/api/object/(\d+))", [&](const httplib::Request &req, httplib::Response &res) {
        auto snapshot = requestedModel(view, req, res);
        if (snapshot == nullptr)
            return;
        const MapModel &m = *snapshot;
        const Object *o = m.object(idParam(req));
        if (o == nullptr)
            return notFound(res, "no object " + req.matches[1].str());
        Object full = *o;
        std::string error;
        std::optional<Change> last;
        view.withDb([&](MapDatabase &db) {
            return db.readObjectValues(full, error) && db.lastStatusChange(full.id, last, error);
        });
        Json j = objectJson(m, full);
        j["statusReason"] = statusReasonJson(m, full, last, nowMs());
        sendJson(res, j);
    });

    server.Get("/api/search", [&](const httplib::Request &req, httplib::Response &res) {
        auto snapshot = requestedModel(view, req, res);
        if (snapshot == nullptr)
            return;
        const MapModel &m = *snapshot;
        std::vector<SearchHit> hits;
        std::string error;
        if (!view.withDb([&](MapDatabase &db) { return searchMap(db, m, req.get_param_value("q"), hits, error); }))
            return failed(res, error);
        sendJson(res, {{"query", req.get_param_value("q")},
                       {"total", hits.size()},
                       {"results", searchHitsJson(m, hits, 500)}});
    });

    server.Get("/api/problems", [&](const httplib::Request &req, httplib::Response &res) {
        auto snapshot = requestedModel(view, req, res);
        if (snapshot == nullptr)
            return;
        const MapModel &m = *snapshot;
        Json list = problemsJson(m, minSeverityOf(req));
        std::set<int> recent = req.has_param("at") ? std::set<int>() : view.recentlyChanged();
        for (Json &s : list)
            s["recent"] = recent.count(s["id"].get<int>()) != 0;
        sendJson(res, {{"min", req.has_param("min") ? req.get_param_value("min") : "unmanaged"}, {"problems", list}});
    });

    server.Get("/api/changes", [&](const httplib::Request &req, httplib::Response &res) {
        auto snapshot = requestedModel(view, req, res);
        if (snapshot == nullptr)
            return;
        const MapModel &m = *snapshot;
        int64_t since = req.has_param("since") ? std::atoll(req.get_param_value("since").c_str()) : 0;
        int limit = req.has_param("limit") ? std::max(1, std::atoi(req.get_param_value("limit").c_str())) : 200;
        std::vector<Change> changes;
        std::string error;
        // At a past time: the newest changes up to it (the history is read
        // whole from `since`, then cut).
        const bool past = req.has_param("at");
        const int64_t until = past ? parseTime(req.get_param_value("at"), nowMs()).value_or(0) : 0;
        if (!view.withDb([&](MapDatabase &db) {
                return db.readChanges(since, past ? std::numeric_limits<int>::max() : limit, changes, error);
            }))
            return failed(res, error);
        Json out = Json::array();
        for (const Change &c : changes)
            if (!past || c.timeMs <= until) {
                if (out.size() >= static_cast<size_t>(limit))
                    break;
                out.push_back(changeJson(m, c));
            }
        sendJson(res, {{"changes", out}});
    });

    // Server-Sent Events: one "map" event each time another program commits
    // to the database, carrying the new version; a comment every 15 s keeps
    // the connection open through proxies.
    server.Get("/api/events", [&](const httplib::Request &, httplib::Response &res) {
        res.set_header("Cache-Control", "no-store");
        if (++view.streams > MapView::kMaxStreams) {
            --view.streams;
            res.status = 503;
            res.set_header("Retry-After", "10");
            res.set_content(jsonText({{"error", "too many open event streams"}}), "application/json");
            return;
        }
        auto last = std::make_shared<int64_t>(-1);
        res.set_chunked_content_provider("text/event-stream", [&view, last](size_t, httplib::DataSink &sink) {
            std::unique_lock<std::mutex> lock(view.changedMutex);
            if (*last >= 0)
                view.changed.wait_for(lock, std::chrono::seconds(15),
                                      [&]() { return view.stopping || view.version != *last; });
            if (view.stopping)
                return false;
            std::string msg;
            if (view.version != *last) {
                *last = view.version;
                msg = "event: map\ndata: " + std::to_string(*last) + "\n\n";
            } else {
                msg = ": idle\n\n";
            }
            lock.unlock();
            return sink.write(msg.data(), msg.size());
        }, [&view](bool) { --view.streams; });
    });

    // /metrics and /healthz answer from what the watcher last saw: they never
    // wait for a read of the map or a layout.
    // What the page's staleness banner needs: when the map last changed and
    // what the daemon's run counters say of it (seconds since 1970).
    server.Get("/api/status", [&](const httplib::Request &, httplib::Response &res) {
        Json j = {{"version", view.version.load()}, {"lastCommit", lastCommitTime(view.path())}};
        if (std::optional<RunCounters> c = view.runCounters())
            j["daemon"] = {{"started", c->started}, {"updated", c->updated}, {"ended", c->ended != 0},
                           {"framesRead", c->framesRead}, {"applied", c->applied}};
        else
            j["daemon"] = nullptr;
        sendJson(res, j);
    });

    server.Get("/metrics", [&](const httplib::Request &, httplib::Response &res) {
        res.set_content(metricsText(view), "text/plain; version=0.0.4");
    });

    server.Get("/healthz", [&](const httplib::Request &, httplib::Response &res) {
        bool ok = view.readable;
        res.status = ok ? 200 : 503;
        res.set_content(ok ? "ok\n" : "the map database cannot be read\n", "text/plain");
    });
}

}  // namespace tqmap
