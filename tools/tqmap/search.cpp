// Finding objects: the text search shared by `find` and the web view, and
// naming one object for `show`.
#include "tools/tqmap/tqmap.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace tqmap {

namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool holds(const std::string &haystack, const std::string &lowNeedle)
{
    return lower(haystack).find(lowNeedle) != std::string::npos;
}

}  // namespace

bool searchMap(MapDatabase &db, const MapModel &m, const std::string &text, std::vector<SearchHit> &hits,
               std::string &error)
{
    std::string needle = lower(text);
    std::map<int, std::string> found;
    if (needle.empty())
        return true;
    for (const auto &[id, s] : m.symbols)
        if (s.label && holds(*s.label, needle))
            found.emplace(s.object, "label");
    for (const auto &[id, o] : m.objects)
        if (found.count(id) == 0 && holds(o.selectionName, needle))
            found.emplace(id, "name");
    std::map<int, std::string> values;
    if (!db.searchValues(text, values, error))
        return false;
    for (const auto &[id, field] : values)
        if (m.objects.count(id) != 0)
            found.emplace(id, field);
    for (const auto &[id, what] : found)
        hits.push_back({id, what});
    return true;
}

std::vector<int> resolveObject(const MapModel &m, const std::string &name)
{
    // "#N": a symbol as the tree shows it.
    if (name.size() > 1 && name[0] == '#' && name.size() < 11 &&
        std::all_of(name.begin() + 1, name.end(), [](unsigned char c) { return std::isdigit(c); })) {
        const Symbol *s = m.symbol(std::stoi(name.substr(1)));
        return s != nullptr ? std::vector<int>{s->object} : std::vector<int>{};
    }
    bool numeric = !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); });
    if (numeric && name.size() < 10) {
        int id = std::stoi(name);
        if (m.objects.count(id) != 0)
            return {id};
        if (const Symbol *s = m.symbol(id))
            return {s->object};
    }
    for (const auto &[id, o] : m.objects)
        if (o.selectionName == name)
            return {id};
    std::string low = lower(name);
    std::set<int> out;
    for (const auto &[id, o] : m.objects)
        if (lower(objectName(m, id)) == low)
            out.insert(id);
    if (out.empty())
        for (const auto &[id, s] : m.symbols)
            if (s.label && lower(*s.label) == low)
                out.insert(s.object);
    return {out.begin(), out.end()};
}

std::vector<int> submapPath(const MapModel &m, int submap)
{
    std::vector<int> path;
    std::set<int> seen;
    int at = submap;
    while (m.submaps.count(at) != 0 && seen.insert(at).second) {
        path.push_back(at);
        if (at == m.rootSubmap)
            break;
        // Up: the submap that holds a symbol of the parent object.
        auto owners = m.symbolsOfObject.find(m.submaps.at(at).parentObject);
        if (owners == m.symbolsOfObject.end())
            break;
        at = m.symbols.at(owners->second.front()).submap;
    }
    std::reverse(path.begin(), path.end());
    return path;
}

std::string submapTitle(const MapModel &m, int submap)
{
    if (submap == m.rootSubmap)
        return "root submap";
    auto it = m.submaps.find(submap);
    if (it == m.submaps.end())
        return "submap " + std::to_string(submap);
    if (it->second.parentObject != 0) {
        auto owners = m.symbolsOfObject.find(it->second.parentObject);
        if (owners != m.symbolsOfObject.end())
            return displayName(m, m.symbols.at(owners->second.front()));
        return objectNamePart(selectionOf(m, it->second.parentObject));
    }
    return it->second.name;
}

}  // namespace tqmap
