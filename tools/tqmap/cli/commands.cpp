// find, show, changes and the JSON form of tree.
#include "tools/tqmap/cli/commands.h"

#include "tools/tqmap/json.h"
#include "tools/tqmap/past.h"

#include <chrono>
#include <limits>
#include <cstdio>
#include <ctime>

namespace tqmap {

namespace {

void complain(const std::string &what)
{
    std::fprintf(stderr, "tqmap: %s\n", what.c_str());
}

int openAndLoad(MapDatabase &db, const std::string &path, MapModel &m, bool withValues)
{
    std::string error;
    if (!db.open(path, error) || !loadModel(db, m, error, withValues)) {
        complain(error);
        return kExitUsage;
    }
    return kExitOk;
}

std::string where(const MapModel &m, int submap)
{
    std::string out;
    for (int sm : submapPath(m, submap))
        out += (out.empty() ? "" : " > ") + submapTitle(m, sm);
    return out + " (submap " + std::to_string(submap) + ")";
}

std::string timeText(int64_t ms)
{
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return std::string(buf) + "Z";
}

}  // namespace

int cmdFind(const std::string &path, const std::string &text, bool json)
{
    MapDatabase db;
    MapModel m;
    if (int rc = openAndLoad(db, path, m, false); rc != kExitOk)
        return rc;
    std::vector<SearchHit> hits;
    std::string error;
    if (!searchMap(db, m, text, hits, error)) {
        complain(error);
        return kExitFailed;
    }
    if (json) {
        std::puts(jsonText(searchHitsJson(m, hits, hits.size()), 2).c_str());
        return hits.empty() ? kExitFailed : kExitOk;
    }
    if (hits.empty()) {
        complain("nothing on the map holds '" + text + "'");
        return kExitFailed;
    }
    for (const SearchHit &h : hits) {
        const Object &o = *m.object(h.object);
        std::printf("object %d  %s  (matched: %s)\n", o.id, o.selectionName.c_str(), h.matched.c_str());
        auto own = m.symbolsOfObject.find(o.id);
        if (own == m.symbolsOfObject.end()) {
            std::printf("    no symbol\n");
            continue;
        }
        for (int sid : own->second) {
            const Symbol &s = m.symbols.at(sid);
            std::printf("    #%d %s  %s  on %s\n", s.id, tqmap::quoted(displayName(m, s)).c_str(),
                        statusName(m.effectiveStatus(s)).c_str(), where(m, s.submap).c_str());
        }
    }
    std::printf("%zu object%s\n", hits.size(), hits.size() == 1 ? "" : "s");
    return kExitOk;
}

int cmdShow(const std::string &path, const std::string &name, bool json)
{
    MapDatabase db;
    MapModel m;
    if (int rc = openAndLoad(db, path, m, true); rc != kExitOk)
        return rc;
    std::vector<int> found = resolveObject(m, name);
    if (found.empty()) {
        complain("no object is called or numbered '" + name + "' (try: tqmap find " + name + ")");
        return kExitFailed;
    }
    if (found.size() > 1) {
        complain("'" + name + "' names " + std::to_string(found.size()) + " objects; show one by id:");
        for (int id : found)
            std::fprintf(stderr, "  %d  %s\n", id, m.object(id)->selectionName.c_str());
        return kExitFailed;
    }
    const Object &o = *m.object(found.front());
    std::optional<Change> last;
    std::string error;
    if (!db.lastStatusChange(o.id, last, error)) {
        complain(error);
        return kExitFailed;
    }
    Json j = objectJson(m, o);
    j["statusReason"] = statusReasonJson(m, o, last, nowMs());
    if (json) {
        std::puts(jsonText(j, 2).c_str());
        return kExitOk;
    }
    std::printf("object %d  %s\n", o.id, o.selectionName.c_str());
    for (const Json &s : j["symbols"]) {
        std::printf("  symbol #%d %s on %s\n", s["id"].get<int>(), s["kind"].get<std::string>().c_str(),
                    where(m, s["submap"].get<int>()).c_str());
        std::printf("    status %s, shows %s\n", s["statusName"].get<std::string>().c_str(),
                    s["effectiveStatusName"].get<std::string>().c_str());
    }
    if (j["symbols"].empty())
        std::printf("  no symbol on the map\n");
    for (const FieldValue &v : o.values) {
        auto f = m.fields.find(v.field);
        if (f != m.fields.end() && f->second.name == "State")
            std::printf("  state: %s\n", formatValue(v).c_str());
    }
    if (last)
        std::printf("  last status change: %s -> %s at %s (%lld s ago)\n",
                    j["statusReason"]["lastChange"]["oldName"].get<std::string>().c_str(),
                    j["statusReason"]["lastChange"]["newName"].get<std::string>().c_str(),
                    timeText(last->timeMs).c_str(),
                    static_cast<long long>(j["statusReason"]["ageSeconds"].get<int64_t>()));
    std::printf("  properties:\n");
    for (const FieldValue &v : o.values) {
        auto f = m.fields.find(v.field);
        std::string fname = f != m.fields.end() ? f->second.name : "field " + std::to_string(v.field);
        std::printf("    %s = %s\n", fname.c_str(), formatValue(v).c_str());
    }
    if (!j["connections"].empty()) {
        std::printf("  connections:\n");
        for (const Json &c : j["connections"])
            std::printf("    #%d to %s  %s%s\n", c["id"].get<int>(),
                        c["other"].is_null() ? "(missing)" : tqmap::quoted(c["other"].get<std::string>()).c_str(),
                        c["effectiveStatusName"].get<std::string>().c_str(),
                        c["label"].is_null() ? "" : ("  label " + tqmap::quoted(c["label"].get<std::string>())).c_str());
    }
    std::printf("  object id %d: tqmap post delete-objects %d\n", o.id, o.id);
    return kExitOk;
}

int cmdChanges(const std::string &path, const std::string &since, int limit, bool json)
{
    int64_t from = 0;
    if (!since.empty()) {
        std::optional<int64_t> t = parseTime(since, nowMs());
        if (!t) {
            complain("--since takes " + std::string(kTimeForms) + ", not '" + since + "'");
            return kExitUsage;
        }
        from = *t;
    }
    MapDatabase db;
    MapModel m;
    if (int rc = openAndLoad(db, path, m, false); rc != kExitOk)
        return rc;
    std::vector<Change> changes;
    std::string error;
    // One row more than asked tells whether the limit cut the list.
    int rows = limit > 0 ? limit + 1 : std::numeric_limits<int>::max();
    if (!db.readChanges(from, rows, changes, error)) {
        complain(error);
        return kExitFailed;
    }
    if (limit > 0 && changes.size() > static_cast<size_t>(limit)) {
        changes.resize(static_cast<size_t>(limit));
        complain("showing the newest " + std::to_string(limit) + " changes only; more with --limit N, all with --all");
    }
    if (json) {
        Json out = Json::array();
        for (const Change &c : changes)
            out.push_back(changeJson(m, c));
        std::puts(jsonText(out, 2).c_str());
        return kExitOk;
    }
    // Oldest first, as a log reads.
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        Json j = changeJson(m, *it);
        std::string what = it->kind;
        std::string name = j.contains("name") ? tqmap::quoted(j["name"].get<std::string>()) : std::string("?");
        std::string detail;
        if (it->kind == "status")
            detail = j["oldName"].get<std::string>() + " -> " + j["newName"].get<std::string>();
        else if (it->kind == "label" || it->kind == "type")
            detail = (it->oldValue ? tqmap::quoted(*it->oldValue) : "(none)") + " -> " +
                     (it->newValue ? tqmap::quoted(*it->newValue) : "(none)");
        std::printf("%s  %-14s object %d %s", timeText(it->timeMs).c_str(), what.c_str(), it->object, name.c_str());
        if (it->symbol != 0)
            std::printf("  symbol #%d on submap %d", it->symbol, it->submap);
        if (!detail.empty())
            std::printf("  %s", detail.c_str());
        std::printf("\n");
    }
    std::printf("%zu change%s\n", changes.size(), changes.size() == 1 ? "" : "s");
    return kExitOk;
}

int cmdTreeJson(const std::string &path, const std::string &at)
{
    MapModel m;
    std::optional<int64_t> atMs;
    if (int rc = loadMapAt(path, at, m, true, atMs); rc != kExitOk)
        return rc;
    Json j = mapJson(m);
    if (atMs)
        j["at"] = *atMs;
    Json objects = Json::array();
    for (const auto &entry : m.objects)
        objects.push_back(objectJson(m, entry.second));
    j["objectDetails"] = objects;
    std::puts(jsonText(j, 2).c_str());
    return kExitOk;
}

}  // namespace tqmap
