// The map as it was, and what differs between two times.
#include "tools/tqmap/past.h"

#include <cstdio>
#include <map>
#include <set>

namespace tqmap {

const char *const kTimeForms =
    "now, milliseconds since 1970, an ISO 8601 UTC time (2026-01-31T12:00:00Z, 2026-01-31 12:00), "
    "or an age (90s, 30m, 2h, 1d ago)";

namespace {

bool allDigits(const std::string &s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Days since 1970 of a civil date (proleptic Gregorian), without the time
// zone of the machine.
int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::optional<int64_t> parseIso(const std::string &text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, n = 0;
    char sep = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &n) != 6 ||
        (sep != 'T' && sep != ' '))
        return std::nullopt;
    std::string rest = text.substr(static_cast<size_t>(n));
    int64_t ms = 0;
    int s = 0;
    if (rest.size() >= 3 && rest[0] == ':' && allDigits(rest.substr(1, 2))) {
        s = std::stoi(rest.substr(1, 2));
        rest.erase(0, 3);
        if (!rest.empty() && rest[0] == '.') {
            size_t digits = rest.find_first_not_of("0123456789", 1);
            std::string frac = rest.substr(1, digits == std::string::npos ? std::string::npos : digits - 1);
            if (frac.empty())
                return std::nullopt;
            frac = (frac + "00").substr(0, 3);
            ms = std::stoi(frac);
            rest.erase(0, digits == std::string::npos ? rest.size() : digits);
        }
    }
    if (!(rest.empty() || rest == "Z" || rest == "z" || rest == "+00:00" || rest == "+0000"))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    return ((daysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + s * 1000 + ms;
}

}  // namespace

std::optional<int64_t> parseTime(const std::string &text, int64_t now)
{
    if (text == "now")
        return now;
    if (allDigits(text))
        return text.size() <= 15 ? std::optional<int64_t>(std::stoll(text)) : std::nullopt;
    if (text.size() >= 2 && allDigits(text.substr(0, text.size() - 1)) && text.size() <= 10) {
        static const std::pair<char, int64_t> units[] = {{'s', 1000}, {'m', 60000}, {'h', 3600000}, {'d', 86400000}};
        for (const auto &[unit, ms] : units)
            if (text.back() == unit)
                return now - std::stoll(text.substr(0, text.size() - 1)) * ms;
    }
    return parseIso(text);
}

bool modelAt(MapDatabase &db, const MapModel &now, int64_t atMs, MapModel &out, std::string &error)
{
    out = MapModel();
    static_cast<mapdb::MapRows &>(out) = now;
    if (!db.rewind(out, atMs, error))
        return false;
    out.index();
    return true;
}

bool submapModelAt(MapDatabase &db, const MapModel &now, int64_t atMs, int submap, MapModel &out,
                   std::string &error)
{
    mapdb::Undo undo;
    if (!db.readUndo(atMs, undo, error))
        return false;
    out = MapModel();
    out.mapName = now.mapName;
    out.rootSubmap = now.rootSubmap;
    out.isOpen = now.isOpen;
    out.fields = now.fields;
    // Every submap (there are few), as it was.
    out.submaps = now.submaps;
    undo.apply(out, {}, {}, {}, true);
    // The parent objects and the submaps beneath each, then and now: a
    // superset of those at the time does no harm, a missing one would.
    std::set<int> parents;
    std::map<int, std::vector<int>> children;
    const MapModel &was = out;
    for (const std::map<int, Submap> *table : {&now.submaps, &was.submaps})
        for (const auto &[id, sm] : *table)
            if (sm.parentObject != 0) {
                parents.insert(sm.parentObject);
                children[sm.parentObject].push_back(id);
            }
    // The objects of the symbols the history says were on each submap.
    std::map<int, std::set<int>> historyObjects;
    for (const mapdb::UndoRow &r : undo.rows)
        if (r.ofSymbol())
            historyObjects[r.submap].insert(r.object);
    // The submap and every submap beneath it, then or now.
    std::set<int> below;
    std::vector<int> todo{submap};
    auto descend = [&](int object) {
        auto it = children.find(object);
        if (it != children.end())
            todo.insert(todo.end(), it->second.begin(), it->second.end());
    };
    while (!todo.empty()) {
        const int at = todo.back();
        todo.pop_back();
        if (!below.insert(at).second)
            continue;
        if (auto it = now.symbolsOnSubmap.find(at); it != now.symbolsOnSubmap.end())
            for (int sid : it->second)
                descend(now.symbols.at(sid).object);
        if (auto it = historyObjects.find(at); it != historyObjects.end())
            for (int object : it->second)
                descend(object);
    }
    auto copySymbols = [&](const std::map<int, std::vector<int>> &index, int key) {
        if (auto it = index.find(key); it != index.end())
            for (int sid : it->second)
                out.symbols.emplace(sid, now.symbols.at(sid));
    };
    for (int at : below)
        copySymbols(now.symbolsOnSubmap, at);
    for (int object : parents)
        copySymbols(now.symbolsOfObject, object);
    undo.apply(out, below, parents, {}, false);
    std::set<int> objects = parents;
    for (const auto &[id, s] : out.symbols)
        objects.insert(s.object);
    for (int id : objects)
        if (const Object *o = now.object(id))
            out.objects.emplace(id, *o);
    undo.apply(out, {}, {}, objects, false);
    out.index();
    return true;
}

bool loadModelAt(MapDatabase &db, int64_t atMs, MapModel &m, std::string &error, bool withValues)
{
    if (!db.readMap(m, error, withValues) || !db.rewind(m, atMs, error))
        return false;
    m.index();
    return true;
}

MapDiff diffMaps(const MapModel &before, const MapModel &after)
{
    MapDiff d;
    auto item = [](const MapModel &m, const Symbol &s) {
        MapDiff::Item i;
        i.symbol = s.id;
        i.submap = s.submap;
        i.name = displayName(m, s);
        i.where = submapTitle(m, s.submap);
        return i;
    };
    // Names are made for the symbols listed only: most are unchanged.
    for (const auto &[id, s] : after.symbols) {
        const Symbol *old = before.symbol(id);
        const int status = after.effectiveStatus(s);
        const int was = old != nullptr ? before.effectiveStatus(*old) : -1;
        if (old != nullptr && was == status)
            continue;
        MapDiff::Item i = item(after, s);
        i.before = was;
        i.after = status;
        (old == nullptr ? d.appeared : d.statusChanged).push_back(std::move(i));
    }
    for (const auto &[id, s] : before.symbols)
        if (after.symbol(id) == nullptr) {
            MapDiff::Item i = item(before, s);
            i.before = before.effectiveStatus(s);
            d.disappeared.push_back(std::move(i));
        }
    return d;
}

Json diffJson(const MapDiff &d, int64_t fromMs, int64_t toMs)
{
    auto list = [](const std::vector<MapDiff::Item> &items) {
        Json out = Json::array();
        for (const MapDiff::Item &i : items) {
            Json j = {{"symbol", i.symbol}, {"submap", i.submap}, {"name", i.name}, {"where", i.where}};
            j["before"] = i.before >= 0 ? Json(i.before) : Json();
            j["beforeName"] = i.before >= 0 ? Json(statusName(i.before)) : Json();
            j["after"] = i.after >= 0 ? Json(i.after) : Json();
            j["afterName"] = i.after >= 0 ? Json(statusName(i.after)) : Json();
            out.push_back(std::move(j));
        }
        return out;
    };
    return {{"from", fromMs},
            {"to", toMs},
            {"appeared", list(d.appeared)},
            {"disappeared", list(d.disappeared)},
            {"statusChanged", list(d.statusChanged)}};
}

Json historyJson(const mapdb::HistoryWindow &w, int64_t nowMs)
{
    return {{"kept", w.kept},
            {"completeSince", w.kept ? Json(w.completeSinceMs) : Json()},
            {"rows", w.rows},
            {"maxRows", w.maxRows},
            {"now", nowMs}};
}

}  // namespace tqmap
