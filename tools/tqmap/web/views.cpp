// The web view's layered drawings and connection details: the view a request
// asks for, the submap's JSON for a layered drawing, /api/connection/ID.
#include "tools/tqmap/web/server.h"

#include <httplib.h>

namespace tqmap {

ViewQuery viewQueryOf(const httplib::Request &req)
{
    return parseViewQuery(req.get_param_value("open"), req.get_param_value("around"), req.get_param_value("hops"));
}

Json layeredSubmapJson(const MapModel &m, int submap, const Layout &l, const ViewQuery &q,
                       const std::vector<int> &groupStatuses)
{
    Json path = Json::array();
    for (int sm : submapPath(m, submap))
        path.push_back({{"id", sm}, {"title", submapTitle(m, sm)}});
    Json symbols = Json::array(), conns = Json::array(), groups = Json::array();
    for (int sid : l.shown)
        if (const Symbol *s = m.symbol(sid))
            (s->isConnection() ? conns : symbols).push_back(symbolJson(m, *s));
    for (size_t i = 0; i < l.groups.size(); ++i) {
        const FoldedGroup &g = l.groups[i];
        int st = groupStatuses.at(i);
        groups.push_back({{"key", g.key},
                          {"hub", g.hub},
                          {"count", g.members.size()},
                          {"open", g.open},
                          {"page", g.page},
                          {"pages", g.pages},
                          {"effectiveStatus", st},
                          {"effectiveStatusName", statusName(st)}});
    }
    Json j = {{"id", submap}, {"title", submapTitle(m, submap)}, {"path", path}};
    j["symbols"] = symbols;
    j["connections"] = conns;
    j["groups"] = groups;
    Json view = {{"open", q.open}};
    if (const Symbol *a = q.around != 0 ? m.symbol(q.around) : nullptr)
        view["around"] = {{"id", a->id}, {"name", displayName(m, *a)}, {"hops", q.hops}};
    j["view"] = view;
    return j;
}

void addViewRoutes(httplib::Server &server, MapView &view)
{
    // The open keys that show a symbol of a layered submap in the asked view
    // (a member of a folded group, or on another page of an opened one).
    server.Get(R"(/api/submap/(\d+)/way/(\d+))", [&](const httplib::Request &req, httplib::Response &res) {
        auto snapshot = requestedModel(view, req, res);
        if (snapshot == nullptr)
            return;
        const std::string &sm = req.matches[1], &sym = req.matches[2];
        std::set<std::string> open;
        res.set_header("Cache-Control", "no-store");
        if (sm.size() > 9 || sym.size() > 9 ||
            !wayTo(*snapshot, std::atoi(sm.c_str()), viewQueryOf(req), std::atoi(sym.c_str()), open)) {
            res.status = 404;
            res.set_content(jsonText({{"error", "symbol " + sym + " cannot be shown on submap " + sm + " in this view"}}),
                            "application/json");
            return;
        }
        std::string keys;
        for (const std::string &k : open)
            keys += (keys.empty() ? "" : ",") + k;
        res.set_content(jsonText({{"symbol", std::atoi(sym.c_str())}, {"open", keys}}), "application/json");
    });

    // A connection's details: both ends, label, status and its last change.
    server.Get(R"(/api/connection/(\d+))", [&](const httplib::Request &req, httplib::Response &res) {
        auto snapshot = view.model();
        const MapModel &m = *snapshot;
        const std::string &t = req.matches[1];
        const Symbol *c = t.size() < 10 ? m.symbol(std::atoi(t.c_str())) : nullptr;
        res.set_header("Cache-Control", "no-store");
        if (c == nullptr || !c->isConnection()) {
            res.status = 404;
            res.set_content(jsonText({{"error", "no connection " + t}}), "application/json");
            return;
        }
        std::optional<Change> last;
        std::string error;
        if (!view.withDb([&](MapDatabase &db) { return db.lastStatusChange(c->object, last, error); })) {
            std::fprintf(stderr, "tqmap serve: %s\n", error.c_str());
            res.status = 500;
            res.set_content(jsonText({{"error", "the map could not be read or drawn"}}), "application/json");
            return;
        }
        Json j = symbolJson(m, *c);
        Json ends = Json::array();
        for (int end : {c->connA, c->connZ}) {
            const Symbol *e = m.symbol(end);
            ends.push_back(e == nullptr ? Json{{"id", end}}
                                        : Json{{"id", end},
                                               {"name", displayName(m, *e)},
                                               {"object", e->object},
                                               {"effectiveStatus", m.effectiveStatus(*e)},
                                               {"effectiveStatusName", statusName(m.effectiveStatus(*e))}});
        }
        j["ends"] = ends;
        j["lastChange"] = last ? changeJson(m, *last) : Json();
        res.set_content(jsonText(j), "application/json");
    });
}

}  // namespace tqmap
