// The map as text: the nested tree view and the Graphviz DOT view.
#include "tools/tqmap/tqmap.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <sstream>

namespace tqmap {

// ---- the model's look-ups -----------------------------------------------------------

void MapModel::index()
{
    static std::atomic<uint64_t> models{0};
    serial = ++models;
    symbolsOnSubmap.clear();
    submapsOfObject.clear();
    symbolsOfObject.clear();
    connectionsAt.clear();
    for (const auto &[id, s] : symbols) {
        symbolsOnSubmap[s.submap].push_back(id);
        symbolsOfObject[s.object].push_back(id);
        if (s.isConnection()) {
            connectionsAt[s.connA].push_back(id);
            if (s.connZ != s.connA)
                connectionsAt[s.connZ].push_back(id);
        }
    }
    for (const auto &[id, sm] : submaps) {
        if (sm.parentObject != 0)
            submapsOfObject[sm.parentObject].push_back(id);
    }
    std::vector<mapdb::StatusRow> rows;
    rows.reserve(symbols.size());
    for (const auto &[id, s] : symbols)
        rows.push_back({id, s.submap, s.object, s.status, s.statusSource});
    std::vector<std::pair<int, int>> parents;
    for (const auto &[id, sm] : submaps)
        parents.emplace_back(id, sm.parentObject);
    effective = mapdb::effectiveStatuses(rows, parents);
}

int MapModel::effectiveStatus(const Symbol &s) const
{
    auto it = effective.find(s.id);
    return it != effective.end() ? it->second : s.status;
}

const Object *MapModel::object(int id) const
{
    auto it = objects.find(id);
    return it != objects.end() ? &it->second : nullptr;
}

const Symbol *MapModel::symbol(int id) const
{
    auto it = symbols.find(id);
    return it != symbols.end() ? &it->second : nullptr;
}

bool loadModel(MapDatabase &db, MapModel &m, std::string &error, bool withValues)
{
    if (!db.readMap(m, error, withValues))
        return false;
    m.index();
    return true;
}

bool MapModel::isGraphObject(int objectId) const
{
    return submapsOfObject.count(objectId) != 0;
}

// ---- names and values -----------------------------------------------------------------

std::string layoutName(int layout)
{
    switch (layout) {
    case 0: return "none";
    case 1: return "point-to-point";
    case 2: return "bus";
    case 3: return "star";
    case 4: return "row-column";
    case 5: return "ring";
    case 6: return "tree";
    case 7: return "multiple-connection";
    default: return "layout " + std::to_string(layout);
    }
}

std::string quoted(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    out += '"';
    return out;
}

std::string formatValue(const FieldValue &v)
{
    if (v.isList) {
        if (!v.textValue)
            return "[]";
        std::vector<mapdb::ListElement> els;
        bool texts = mapdb::readList(*v.textValue, els);
        for (const mapdb::ListElement &e : els)
            texts = texts && e.isString;
        if (!texts)
            return "(list) " + *v.textValue;
        std::string out = "[";
        for (size_t i = 0; i < els.size(); ++i)
            out += (i != 0 ? ", " : "") + quoted(els[i].text);
        return out + "]";
    }
    switch (v.type) {
    case 1:
    case 4:
        return v.intValue ? std::to_string(*v.intValue) : "(unset)";
    case 2:
        return v.intValue ? (*v.intValue != 0 ? "true" : "false") : "(unset)";
    case 3:
        return v.textValue ? quoted(*v.textValue) : "(null)";
    default:
        if (v.textValue)
            return quoted(*v.textValue);
        return v.intValue ? std::to_string(*v.intValue) : "(unset)";
    }
}

namespace {

std::string fieldName(const MapModel &m, int id)
{
    auto it = m.fields.find(id);
    return it != m.fields.end() ? it->second.name : "field " + std::to_string(id);
}

}  // namespace

// The object part of a selection name ("proto;name;map" -> "name").
std::string objectNamePart(const std::string &selection)
{
    size_t a = selection.find(';');
    if (a == std::string::npos)
        return selection;
    size_t b = selection.find(';', a + 1);
    return selection.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
}

// What to call a symbol in a view: a connection by its ends ("a - z", with
// its label in brackets), any other by its label, else its object's name.
std::string displayName(const MapModel &m, const Symbol &s)
{
    if (s.isConnection()) {
        auto end = [&](int id) {
            const Symbol *e = m.symbol(id);
            return e != nullptr && !e->isConnection() ? displayName(m, *e) : "#" + std::to_string(id);
        };
        std::string name = end(s.connA) + " - " + end(s.connZ);
        return s.label && !s.label->empty() ? name + " (" + *s.label + ")" : name;
    }
    if (s.label && !s.label->empty())
        return *s.label;
    if (const Object *o = m.object(s.object))
        return objectNamePart(o->selectionName);
    return "#" + std::to_string(s.id);
}

bool isLinkObject(const MapModel &m, int objectId)
{
    auto own = m.symbolsOfObject.find(objectId);
    return own != m.symbolsOfObject.end() && m.symbols.at(own->second.front()).isConnection();
}

std::string objectName(const MapModel &m, int objectId)
{
    if (isLinkObject(m, objectId))
        return displayName(m, m.symbols.at(m.symbolsOfObject.at(objectId).front()));
    const Object *o = m.object(objectId);
    return o != nullptr ? objectNamePart(o->selectionName) : "object " + std::to_string(objectId);
}

std::string selectionOf(const MapModel &m, int objectId)
{
    const Object *o = m.object(objectId);
    return o != nullptr ? o->selectionName : "object " + std::to_string(objectId) + " (missing)";
}

namespace {

// ---- tree ------------------------------------------------------------------------------

class TreeWriter {
public:
    TreeWriter(const MapModel &m, const TreeOptions &opt) : m_(m), opt_(opt) {}

    std::string run()
    {
        out_ << "Map " << quoted(m_.mapName) << (m_.isOpen ? "" : " (closed)") << "\n";
        summary();
        out_ << "\n";
        if (m_.submaps.count(m_.rootSubmap) != 0) {
            submap(m_.rootSubmap, 0, "root submap");
        } else {
            out_ << "root submap " << m_.rootSubmap << " is missing\n";
        }
        bool header = false;
        for (const auto &[id, sm] : m_.submaps) {
            if (visited_.count(id) != 0)
                continue;
            if (!header) {
                out_ << "\nSubmaps not reached from the root submap:\n";
                header = true;
            }
            std::string owner =
                sm.parentObject != 0 ? " of " + selectionOf(m_, sm.parentObject) : std::string();
            submap(id, 1, "submap" + owner);
        }
        header = false;
        for (const auto &[id, o] : m_.objects) {
            if (m_.symbolsOfObject.count(id) != 0)
                continue;
            if (!header) {
                out_ << "\nObjects without a symbol:\n";
                header = true;
            }
            out_ << "  object " << id << "  (" << o.selectionName << ")\n";
            if (opt_.fields)
                fields(o, 6);
        }
        return out_.str();
    }

private:
    void summary()
    {
        int graphs = 0, vertices = 0, conns = 0;
        for (const auto &[id, s] : m_.symbols) {
            if (s.isConnection())
                ++conns;
            else if (m_.isGraphObject(s.object))
                ++graphs;
            else
                ++vertices;
        }
        size_t bare = 0;
        for (const auto &entry : m_.objects)
            bare += m_.symbolsOfObject.count(entry.first) == 0 ? 1 : 0;
        out_ << "Symbols: " << graphs << (graphs == 1 ? " graph, " : " graphs, ") << vertices
             << (vertices == 1 ? " vertex, " : " vertices, ") << conns
             << (conns == 1 ? " connection" : " connections") << ". Objects: " << m_.objects.size() << " ("
             << bare << " without a symbol).\n";
    }

    void fields(const Object &o, int indent)
    {
        for (const FieldValue &v : o.values)
            out_ << std::string(static_cast<size_t>(indent), ' ') << fieldName(m_, v.field) << " = "
                 << formatValue(v) << "\n";
    }

    // What a compound symbol shows when its submaps roll up to another status.
    std::string rollUpText(const Symbol &s) const
    {
        int e = m_.effectiveStatus(s);
        return e != s.status ? " (shows " + statusName(e) + ")" : std::string();
    }

    std::string typeText(const Symbol &s) const
    {
        return s.symbolType && !s.symbolType->empty() ? *s.symbolType : std::string("(no type)");
    }

    void submap(int id, int indent, const std::string &title)
    {
        visited_.insert(id);
        const Submap &sm = m_.submaps.at(id);
        std::string pad(static_cast<size_t>(indent), ' ');
        out_ << pad << title << " " << id << ", layout " << layoutName(sm.layout);
        if (sm.background && !sm.background->empty())
            out_ << ", background " << quoted(*sm.background);
        out_ << "\n";
        std::string inner = pad + "  ";

        auto it = m_.symbolsOnSubmap.find(id);
        if (it == m_.symbolsOnSubmap.end()) {
            out_ << inner << "(empty)\n";
            return;
        }
        std::vector<int> conns;
        for (int sid : it->second) {
            const Symbol &s = m_.symbols.at(sid);
            if (s.isConnection()) {
                conns.push_back(sid);
                continue;
            }
            bool graph = m_.isGraphObject(s.object);
            out_ << inner << "#" << s.id << (graph ? " graph " : " vertex ") << quoted(displayName(m_, s))
                 << "  " << statusName(s.status) << rollUpText(s) << "  " << typeText(s) << "  object " << s.object
                 << "  (" << selectionOf(m_, s.object) << ")\n";
            if (opt_.fields)
                if (const Object *o = m_.object(s.object))
                    fields(*o, indent + 6);
            if (!graph)
                continue;
            for (int child : m_.submapsOfObject.at(s.object)) {
                if (visited_.count(child) != 0)
                    out_ << inner << "    submap " << child << " (shown above)\n";
                else
                    submap(child, indent + 4, "submap");
            }
        }
        if (conns.empty())
            return;
        out_ << inner << "connections:\n";
        for (int sid : conns) {
            const Symbol &c = m_.symbols.at(sid);
            const Symbol *a = m_.symbol(c.connA);
            const Symbol *z = m_.symbol(c.connZ);
            out_ << inner << "  #" << c.id << " "
                 << (a != nullptr ? quoted(displayName(m_, *a)) : "#" + std::to_string(c.connA) + " (missing)")
                 << " -- "
                 << (z != nullptr ? quoted(displayName(m_, *z)) : "#" + std::to_string(c.connZ) + " (missing)");
            if (c.label && !c.label->empty())
                out_ << "  label " << quoted(*c.label);
            out_ << "  " << statusName(c.status) << "  " << typeText(c) << "  object " << c.object << "  ("
                 << selectionOf(m_, c.object) << ")\n";
            if (opt_.fields)
                if (const Object *o = m_.object(c.object))
                    fields(*o, indent + 8);
        }
    }

    const MapModel &m_;
    const TreeOptions &opt_;
    std::ostringstream out_;
    std::set<int> visited_;
};

}  // namespace

std::string renderTree(const MapModel &m, const TreeOptions &opt)
{
    return TreeWriter(m, opt).run();
}

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace tqmap
