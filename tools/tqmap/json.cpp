// The map's records as JSON.
#include "tools/tqmap/json.h"

#include <algorithm>

namespace tqmap {

std::string jsonText(const Json &j, int indent)
{
    return j.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json valueJson(const FieldValue &v)
{
    if (v.isList) {
        if (!v.textValue)
            return Json::array();
        std::vector<mapdb::ListElement> els;
        if (!mapdb::readList(*v.textValue, els))
            return *v.textValue;
        Json out = Json::array();
        for (const mapdb::ListElement &e : els) {
            if (e.isNull)
                out.push_back(nullptr);
            else if (e.isString)
                out.push_back(e.text);
            else if (v.type == 2)
                out.push_back(e.number != 0);
            else
                out.push_back(e.number);
        }
        return out;
    }
    switch (v.type) {
    case 1:
    case 4: return v.intValue ? Json(*v.intValue) : Json();
    case 2: return v.intValue ? Json(*v.intValue != 0) : Json();
    default:
        if (v.textValue)
            return *v.textValue;
        return v.intValue ? Json(*v.intValue) : Json();
    }
}

namespace {

std::string kindOf(const MapModel &m, const Symbol &s)
{
    return s.isConnection() ? "connection" : m.isGraphObject(s.object) ? "graph" : "vertex";
}

Json optText(const std::optional<std::string> &t)
{
    return t ? Json(*t) : Json();
}

}  // namespace

Json symbolJson(const MapModel &m, const Symbol &s)
{
    int e = m.effectiveStatus(s);
    Json j = {{"id", s.id},
              {"kind", kindOf(m, s)},
              {"label", optText(s.label)},
              {"name", displayName(m, s)},
              {"status", s.status},
              {"statusName", statusName(s.status)},
              {"effectiveStatus", e},
              {"effectiveStatusName", statusName(e)},
              {"type", optText(s.symbolType)},
              {"object", s.object},
              {"submap", s.submap}};
    if (s.isConnection()) {
        j["a"] = s.connA;
        j["z"] = s.connZ;
    } else if (auto kids = m.submapsOfObject.find(s.object); kids != m.submapsOfObject.end()) {
        j["childSubmaps"] = kids->second;
    }
    return j;
}

Json objectJson(const MapModel &m, const Object &o)
{
    Json fields = Json::object();
    for (const FieldValue &v : o.values) {
        auto f = m.fields.find(v.field);
        fields[f != m.fields.end() ? f->second.name : "field " + std::to_string(v.field)] = valueJson(v);
    }
    Json symbols = Json::array(), appears = Json::array(), conns = Json::array();
    auto own = m.symbolsOfObject.find(o.id);
    if (own != m.symbolsOfObject.end()) {
        for (int sid : own->second) {
            const Symbol &s = m.symbols.at(sid);
            symbols.push_back(symbolJson(m, s));
            Json path = Json::array();
            for (int sm : submapPath(m, s.submap))
                path.push_back({{"id", sm}, {"title", submapTitle(m, sm)}});
            appears.push_back({{"submap", s.submap}, {"title", submapTitle(m, s.submap)}, {"symbol", s.id},
                               {"path", path}});
            if (s.isConnection())
                continue;
            auto at = m.connectionsAt.find(sid);
            if (at == m.connectionsAt.end())
                continue;
            for (int cid : at->second) {
                const Symbol &c = m.symbols.at(cid);
                const Symbol *other = m.symbol(c.connA == sid ? c.connZ : c.connA);
                Json cj = symbolJson(m, c);
                cj["other"] = other != nullptr ? Json(displayName(m, *other)) : Json();
                cj["otherObject"] = other != nullptr ? Json(other->object) : Json();
                conns.push_back(cj);
            }
        }
    }
    Json j = {{"id", o.id}, {"selectionName", o.selectionName}, {"name", objectName(m, o.id)}};
    j["fields"] = fields;
    j["symbols"] = symbols;
    j["appearsOn"] = appears;
    j["connections"] = conns;
    return j;
}

Json submapJson(const MapModel &m, int submap)
{
    Json path = Json::array();
    for (int sm : submapPath(m, submap))
        path.push_back({{"id", sm}, {"title", submapTitle(m, sm)}});
    Json symbols = Json::array(), conns = Json::array();
    auto it = m.symbolsOnSubmap.find(submap);
    if (it != m.symbolsOnSubmap.end())
        for (int sid : it->second) {
            const Symbol &s = m.symbols.at(sid);
            (s.isConnection() ? conns : symbols).push_back(symbolJson(m, s));
        }
    Json j = {{"id", submap}, {"title", submapTitle(m, submap)}, {"path", path}};
    j["symbols"] = symbols;
    j["connections"] = conns;
    return j;
}

Json mapJson(const MapModel &m)
{
    Json submaps = Json::array();
    for (const auto &entry : m.submaps)
        submaps.push_back(submapJson(m, entry.first));
    Json bare = Json::array();
    for (const auto &[id, o] : m.objects)
        if (m.symbolsOfObject.count(id) == 0)
            bare.push_back({{"id", id}, {"selectionName", o.selectionName}});
    return {{"name", m.mapName},     {"open", m.isOpen},         {"rootSubmap", m.rootSubmap},
            {"objects", m.objects.size()}, {"symbols", m.symbols.size()}, {"submaps", submaps},
            {"objectsWithoutSymbol", bare}};
}

Json changeJson(const MapModel &m, const Change &c)
{
    Json j = {{"id", c.id},         {"time", c.timeMs},     {"kind", c.kind},     {"object", c.object},
              {"symbol", c.symbol}, {"submap", c.submap},   {"old", optText(c.oldValue)},
              {"new", optText(c.newValue)}};
    if (m.object(c.object) != nullptr)
        j["name"] = objectName(m, c.object);
    else if (c.kind == "object deleted" && c.oldValue)
        j["name"] = objectNamePart(*c.oldValue);
    else if (c.kind == "deleted" && c.oldValue)
        j["name"] = *c.oldValue;
    if (c.kind == "status") {
        j["oldName"] = c.oldValue ? statusName(std::atoi(c.oldValue->c_str())) : "";
        j["newName"] = c.newValue ? statusName(std::atoi(c.newValue->c_str())) : "";
    }
    return j;
}

Json statusReasonJson(const MapModel &m, const Object &o, const std::optional<Change> &last, int64_t nowMs)
{
    Json state;
    for (const FieldValue &v : o.values) {
        auto f = m.fields.find(v.field);
        if (f != m.fields.end() && f->second.name == "State" && !v.isList && v.textValue)
            state = *v.textValue;
    }
    Json j = {{"state", state}, {"lastChange", nullptr}, {"ageSeconds", nullptr}};
    if (last) {
        j["lastChange"] = changeJson(m, *last);
        j["ageSeconds"] = std::max<int64_t>(0, (nowMs - last->timeMs) / 1000);
    }
    return j;
}

Json problemsJson(const MapModel &m, int minSeverity)
{
    std::vector<const Symbol *> found;
    for (const auto &[id, s] : m.symbols) {
        int e = m.effectiveStatus(s);
        if (e != 1 && mapdb::statusSeverity(e) >= minSeverity)
            found.push_back(&s);
    }
    std::stable_sort(found.begin(), found.end(), [&](const Symbol *a, const Symbol *b) {
        return mapdb::statusSeverity(m.effectiveStatus(*a)) > mapdb::statusSeverity(m.effectiveStatus(*b));
    });
    Json out = Json::array();
    for (const Symbol *s : found) {
        Json j = symbolJson(m, *s);
        j["submapTitle"] = submapTitle(m, s->submap);
        out.push_back(j);
    }
    return out;
}

Json searchHitsJson(const MapModel &m, const std::vector<SearchHit> &hits, size_t most)
{
    Json out = Json::array();
    for (size_t i = 0; i < hits.size() && i < most; ++i) {
        Json o = objectJson(m, *m.object(hits[i].object));
        o.erase("fields");
        o["matched"] = hits[i].matched;
        out.push_back(std::move(o));
    }
    return out;
}

Json statusesJson()
{
    Json out = Json::array();
    for (int st : legendOrder()) {
        StatusColours c = statusColours(st);
        out.push_back({{"value", st},
                       {"name", statusName(st)},
                       {"severity", mapdb::statusSeverity(st)},
                       {"fill", c.fill},
                       {"line", c.line}});
    }
    return out;
}

}  // namespace tqmap
