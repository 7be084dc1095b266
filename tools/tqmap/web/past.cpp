// The web view at a past time: ?at=TIME on every page and API route, the
// history's window and the diff between two times.
#include "tools/tqmap/web/server.h"

#include "tools/tqmap/past.h"

#include <httplib.h>

namespace tqmap {

namespace {

// Past maps kept for the requests that follow: a page asks for the map, the
// submap and its drawing at one time, a diff for two. A whole one is a copy
// of the map, so few.
constexpr size_t kPastModels = 4;

void refuse(httplib::Response &res, int status, const std::string &why)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(jsonText({{"error", why}}), "application/json");
}

// The time of a parameter; answers 400 and returns none when unreadable.
std::optional<int64_t> timeParam(const httplib::Request &req, const char *name, httplib::Response &res)
{
    const std::string text = req.get_param_value(name);
    std::optional<int64_t> t = parseTime(text, nowMs());
    if (!t)
        refuse(res, 400, std::string("?") + name + "= takes " + kTimeForms + ", not '" + text + "'");
    return t;
}

}  // namespace

std::shared_ptr<const MapModel> MapView::modelAt(int64_t atMs, std::string &error, int submap)
{
    std::shared_ptr<const MapModel> now = model();
    {
        std::lock_guard<std::mutex> lock(pastMutex_);
        for (int part : {0, submap}) {
            auto it = past_.find({atMs, part});
            if (it != past_.end() && it->second.first == now)
                return it->second.second;
        }
    }
    auto past = std::make_shared<MapModel>();
    if (!withDb([&](MapDatabase &db) {
            return submap != 0 ? submapModelAt(db, *now, atMs, submap, *past, error)
                               : tqmap::modelAt(db, *now, atMs, *past, error);
        }))
        return nullptr;
    std::lock_guard<std::mutex> lock(pastMutex_);
    if (past_.size() >= kPastModels)
        past_.clear();
    past_[{atMs, submap}] = {now, past};
    return past;
}

std::shared_ptr<const MapModel> requestedModel(MapView &view, const httplib::Request &req, httplib::Response &res,
                                               int submap)
{
    if (!req.has_param("at"))
        return view.model();
    std::optional<int64_t> at = timeParam(req, "at", res);
    if (!at)
        return nullptr;
    std::string error;
    std::shared_ptr<const MapModel> m = view.modelAt(*at, error, submap);
    if (m == nullptr)
        refuse(res, 410, error);
    return m;
}

bool pinPageTime(const httplib::Request &req, httplib::Response &res)
{
    if (!req.has_param("at"))
        return false;
    const std::string text = req.get_param_value("at");
    std::optional<int64_t> at = parseTime(text, nowMs());
    if (!at || text.find_first_not_of("0123456789") == std::string::npos)
        return false;
    httplib::Params params = req.params;
    params.erase("at");
    params.emplace("at", std::to_string(*at));
    res.set_redirect(req.path + "?" + httplib::detail::params_to_query_str(params));
    return true;
}

void addPastRoutes(httplib::Server &server, MapView &view)
{
    // How far back the map can be shown; with ?at=, whether that time can.
    server.Get("/api/history", [&](const httplib::Request &req, httplib::Response &res) {
        mapdb::HistoryWindow w;
        std::string error;
        if (!view.withDb([&](MapDatabase &db) { return db.readHistoryWindow(w, error); }))
            return refuse(res, 500, "the history could not be read");
        Json j = historyJson(w, nowMs());
        if (req.has_param("at")) {
            std::optional<int64_t> at = timeParam(req, "at", res);
            if (!at)
                return;
            j["at"] = *at;
            if (!view.modelAt(*at, error))
                j["refused"] = error;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(jsonText(j), "application/json");
    });

    // What appeared, disappeared and changed status between ?from= and ?to=
    // (default: now).
    server.Get("/api/diff", [&](const httplib::Request &req, httplib::Response &res) {
        std::optional<int64_t> from = timeParam(req, "from", res);
        if (!from)
            return;
        std::optional<int64_t> to = req.has_param("to") ? timeParam(req, "to", res) : nowMs();
        if (!to)
            return;
        std::string error;
        std::shared_ptr<const MapModel> before = view.modelAt(*from, error);
        std::shared_ptr<const MapModel> after = before ? view.modelAt(*to, error) : nullptr;
        if (after == nullptr)
            return refuse(res, 410, error);
        res.set_header("Cache-Control", "no-store");
        res.set_content(jsonText(diffJson(diffMaps(*before, *after), *from, *to)), "application/json");
    });
}

}  // namespace tqmap
