// tqmapfill: writes a generated topology (topology.h) straight into a map
// database through the platform API, making the same calls with the same
// arguments, in the same order, as the daemon makes for the graph, vertex and
// arc messages that `tqgen` prints for these counts. The result is the map the
// daemon would build, without its traces and in one transaction.
//
//   tqmapfill --db FILE --graphs G --vertices V --arcs A [--seed S]
//
// Symbol types come from the icon table of topology.h (tqgen --oid-to-sym).
#include "topology.h"

#include "ovw/ovw.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

using namespace tqbench;

// The adapter's translations for what the generated messages carry.
constexpr int kLayoutOfNumber1 = 0;        // layout "1"
constexpr int kStatusOfNumber3 = 1;        // status "3"

std::map<std::string, std::string> iconTable()
{
    std::map<std::string, std::string> table;
    const char *p = oidToSym();
    while (*p != '\0') {
        const char *end = std::strchr(p, '\n');
        std::string line(p, end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p));
        p = end != nullptr ? end + 1 : p + line.size();
        size_t colon = line.find(':');
        if (line.empty() || line[0] == '#' || colon == std::string::npos)
            continue;
        table[line.substr(0, colon)] = line.substr(colon + 1);
    }
    return table;
}

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "tqmapfill: %s failed: %s\n", what, OVwErrorMsg(OVwError()));
    std::exit(1);
}

class Filler {
public:
    explicit Filler(OVwMapInfo *map) : map_(map), icons_(iconTable()) {}

    OVwObjectId graph(const Graph &g, OVwObjectId parent)
    {
        const std::string sel = name(kGraphProtocol, g.name);
        OVwSubmapId container = map_->root_submap_id;
        if (parent != 0)
            container = childSubmap(parent);
        OVwObjectId object = newObject(sel, true);
        OVwSubmapId submap =
            OVwCreateSubmap(map_, object, OVwGraphSubmap, 0, sel.c_str(), kLayoutOfNumber1, 0);
        if (submap == 0)
            die("OVwCreateSubmap");
        if (OVwSetBackgroundGraphic(map_, submap, nullptr) < 0)
            die("OVwSetBackgroundGraphic");
        if (OVwCreateSymbol(map_, container, object, icon(g.root ? kRootIcon : kFabricIcon), g.label.c_str(),
                            OVwStatusNormal, OVwRollUpStatusSource, nullptr, 0) == 0)
            die("OVwCreateSymbol");
        setString(object, "MoidString", g.moid);
        setString(object, "UniqueName", g.uniqueId);
        setString(object, "TQObjectName", g.name);
        return object;
    }

    OVwObjectId vertex(const Vertex &v, OVwObjectId graphObject)
    {
        OVwSubmapId submap = childSubmap(graphObject);
        OVwObjectId object = newObject(name(kVertexProtocolName, v.name), false);
        if (OVwCreateSymbol(map_, submap, object, icon(v.icon), v.label.c_str(), kStatusOfNumber3,
                            OVwOwnStatusSource, nullptr, 0) == 0)
            die("OVwCreateSymbol");
        setString(object, "MoidString", v.name);
        setString(object, "UniqueName", v.uniqueId);
        setString(object, "TQObjectName", v.name);
        return object;
    }

    void arc(const Arc &a, OVwObjectId graphObject, OVwObjectId aObject, OVwObjectId zObject,
             const std::string &aName, const std::string &zName)
    {
        OVwSubmapId submap = childSubmap(graphObject);
        OVwSymbolId aSymbol = symbolOn(aObject, submap);
        OVwSymbolId zSymbol = symbolOn(zObject, submap);
        // The arc's name puts its endpoints in a fixed order: by protocol
        // name, then by endpoint name.
        std::string aP = kVertexProtocolName;
        std::string zP = a.binding == 7 ? kVertexProtocolName : kGraphProtocol;
        std::string aN = aName, zN = zName;
        int byProtocol = std::strcmp(aP.c_str(), zP.c_str());
        if (byProtocol > 0 || (byProtocol == 0 && std::strcmp(aN.c_str(), zN.c_str()) > 0)) {
            std::swap(aP, zP);
            std::swap(aN, zN);
        }
        const std::string sel =
            aP + ";" + aN + ";" + zP + ";" + zN + ";" + std::to_string(a.index) + ";" + map_->map_name;
        OVwObjectId object = OVwDbCreateObjectBySelectionName(sel.c_str());
        if (object == 0)
            die("OVwDbCreateObjectBySelectionName");
        if (OVwCreateConnSymbol(map_, object, aSymbol, zSymbol, icon(a.icon), a.label.c_str(), kStatusOfNumber3,
                                OVwOwnStatusSource, 0) == 0)
            die("OVwCreateConnSymbol");
        if (OVwDbSetFieldIntegerValue(object, fieldId("SanArcIndex"), a.index) != 0)
            die("OVwDbSetFieldIntegerValue");
        setString(object, "MoidString", a.moid);
    }

private:
    std::string name(const char *protocol, const std::string &object) const
    {
        return std::string(protocol) + ";" + object + ";" + map_->map_name;
    }

    const char *icon(const char *key) const
    {
        auto it = icons_.find(key);
        return it != icons_.end() ? it->second.c_str() : nullptr;
    }

    OVwFieldId fieldId(const char *field)
    {
        auto it = fields_.find(field);
        if (it != fields_.end())
            return it->second;
        OVwFieldId id = OVwDbFieldNameToFieldId(field);
        if (id == 0 && OVwError() == OVw_NO_SUCH_FIELD)
            id = OVwDbCreateField(field, OVwBooleanField, OVwFieldCapability);   // isGraph, isVertex
        if (id == 0)
            die("OVwDbFieldNameToFieldId");
        fields_[field] = id;
        return id;
    }

    // A new object marked as graph or vertex, as the adapter marks it.
    OVwObjectId newObject(const std::string &sel, bool isGraph)
    {
        OVwObjectId object = OVwDbCreateObjectBySelectionName(sel.c_str());
        if (object == 0)
            die("OVwDbCreateObjectBySelectionName");
        OVwFieldId g = fieldId("isGraph");
        OVwFieldId v = fieldId("isVertex");
        if (OVwDbSetFieldBooleanValue(object, g, isGraph ? 1 : 0) != 0 ||
            OVwDbSetFieldBooleanValue(object, v, isGraph ? 0 : 1) != 0)
            die("OVwDbSetFieldBooleanValue");
        return object;
    }

    OVwSubmapId childSubmap(OVwObjectId object)
    {
        auto it = submaps_.find(object);
        if (it != submaps_.end())
            return it->second;
        OVwObjectInfo *info = OVwGetObjectInfo(map_, object);
        if (info == nullptr)
            die("OVwGetObjectInfo");
        OVwSubmapId submap = info->child_submap_id;
        OVwFreeObjectInfo(info);
        submaps_[object] = submap;
        return submap;
    }

    OVwSymbolId symbolOn(OVwObjectId object, OVwSubmapId submap)
    {
        OVwSymbolList *list = OVwGetSymbolsByObject(map_, object);
        if (list == nullptr)
            die("OVwGetSymbolsByObject");
        OVwSymbolId found = 0;
        for (int32_t i = 0; i < list->count && found == 0; ++i)
            if (list->symbols[i].submap_id == submap)
                found = list->symbols[i].symbol_id;
        OVwFreeSymbolList(list);
        if (found == 0)
            die("finding an arc endpoint's symbol");
        return found;
    }

    void setString(OVwObjectId object, const char *field, const std::string &value)
    {
        if (OVwDbSetFieldStringValue(object, fieldId(field), value.c_str()) != 0)
            die("OVwDbSetFieldStringValue");
    }

    OVwMapInfo *map_;
    std::map<std::string, std::string> icons_;
    std::map<std::string, OVwFieldId> fields_;
    std::map<OVwObjectId, OVwSubmapId> submaps_;
};

[[noreturn]] void usage(const char *why)
{
    if (why != nullptr)
        std::fprintf(stderr, "tqmapfill: %s\n", why);
    std::fprintf(stderr, "usage: tqmapfill --db FILE --graphs G --vertices V --arcs A [--seed S]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv)
{
    std::string db;
    long graphs = 1, vertices = 0, arcs = 0;
    uint64_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (i + 1 >= argc)
            usage(("missing value for " + opt).c_str());
        const char *v = argv[++i];
        if (opt == "--db")
            db = v;
        else if (opt == "--graphs")
            graphs = std::atol(v);
        else if (opt == "--vertices")
            vertices = std::atol(v);
        else if (opt == "--arcs")
            arcs = std::atol(v);
        else if (opt == "--seed")
            seed = std::strtoull(v, nullptr, 10);
        else
            usage(("unknown option " + opt).c_str());
    }
    if (db.empty())
        usage("--db is required");
    if (graphs < 1)
        usage("--graphs must be at least 1");

    auto t0 = std::chrono::steady_clock::now();
    Topology t(static_cast<int>(graphs), static_cast<int>(vertices), static_cast<int>(arcs), seed);
    setenv("OVW_MAPDB", db.c_str(), 1);
    if (OVwInit() != 0)
        die("OVwInit");
    OVwMapInfo *map = OVwGetMapInfo();
    if (map == nullptr)
        die("OVwGetMapInfo");

    Filler fill(map);
    std::vector<OVwObjectId> graphObjects;
    for (const Graph &g : t.graphs)
        graphObjects.push_back(fill.graph(g, g.root ? 0 : graphObjects[0]));
    std::vector<OVwObjectId> vertexObjects;
    for (const Vertex &v : t.vertices)
        vertexObjects.push_back(fill.vertex(v, graphObjects[static_cast<size_t>(v.graph)]));
    for (const Arc &a : t.arcs) {
        OVwObjectId zObject = a.binding == 7 ? vertexObjects[static_cast<size_t>(a.z)]
                                             : graphObjects[static_cast<size_t>(a.z)];
        fill.arc(a, graphObjects[static_cast<size_t>(a.graph)], vertexObjects[static_cast<size_t>(a.a)], zObject,
                 t.vertices[static_cast<size_t>(a.a)].name, t.zName(a));
    }
    OVwFreeMapInfo(map);
    if (OVwDone() != 0)
        die("OVwDone");
    auto t1 = std::chrono::steady_clock::now();
    std::printf("objects=%zu\nfill_ms=%.0f\n", t.graphs.size() + t.vertices.size() + t.arcs.size(),
                std::chrono::duration<double, std::milli>(t1 - t0).count());
    return 0;
}
