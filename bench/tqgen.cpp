// tqgen: prints a generated topology and its updates as JSON Lines in the
// stream form that `tqstream encode` takes. Deterministic for a seed.
//
//   tqgen --graphs G --vertices V --arcs A --updates U [--seed S] [--kinds K,...] [--no-topology]
//   tqgen --messages N [--seed S]          (a realistic mix of N messages)
//   tqgen --oid-to-sym                     (the oid_to_sym file for the icons used)
//
// The topology (graphs, then vertices, then arcs) comes first; the updates
// follow. The topology's lines depend only on the seed and the three counts,
// and each phase draws from its own generator, so a stream with more arcs or
// updates starts with the same lines as a smaller one. --no-topology prints
// only the updates (for a map that already holds the topology, see
// tqmapfill). Update kinds: vertex_status, arc_status, common_properties,
// change_icon, change_label, graph_update, content_ids.
#include "topology.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;
using tqbench::Rng;
using tqbench::Topology;

struct Kind {
    const char *name;
    int weight;   // share in the default mix
};

// The default mix: statuses dominate, as a discovery manager reports them
// far more often than anything else.
const Kind kKinds[] = {
    {"vertex_status", 30}, {"arc_status", 20},   {"common_properties", 20}, {"change_icon", 10},
    {"change_label", 10},  {"graph_update", 5}, {"content_ids", 5},
};

const char *const kStates[] = {"online", "degraded", "offline", "HBA port offline", "maintenance"};
const char *const kDeviceTypes[] = {"FC switch", "server", "disk array"};
const char *const kVendors[] = {"Example Networks", "Example Computers", "Example Storage"};
const char *const kCapacities[] = {"48 ports", "2 HBA ports", "120 TB"};
const char *const kIcons[] = {tqbench::kSwitchIcon, tqbench::kServerIcon, tqbench::kArrayIcon,
                              tqbench::kFlashIcon};
const char *const kLabelNotes[] = {"core", "edge", "spare", "primary", "backup"};

template <size_t N>
const char *pick(Rng &rng, const char *const (&items)[N])
{
    return items[rng.below(N)];
}

std::string statusText(Rng &rng) { return std::to_string(1 + rng.below(4)); }

void emit(const Json &line) { std::cout << line.dump() << '\n'; }

void emitTopology(const Topology &t)
{
    for (const tqbench::Graph &g : t.graphs) {
        Json line;
        line["type"] = "graph";
        line["moid"] = g.moid;
        if (g.root) {
            line["parent_protocol"] = nullptr;
            line["parent_name"] = nullptr;
        } else {
            line["parent_protocol"] = tqbench::kGraphProtocol;
            line["parent_name"] = t.graphs[0].name;
        }
        line["protocol"] = tqbench::kGraphProtocol;
        line["name"] = g.name;
        line["layout"] = "1";
        line["background"] = nullptr;
        line["icon"] = g.root ? tqbench::kRootIcon : tqbench::kFabricIcon;
        line["label"] = g.label;
        line["details"] = nullptr;
        line["unique_id"] = g.uniqueId;
        line["contents"] = Json::array();
        line["end"] = 1;
        emit(line);
    }
    for (const tqbench::Vertex &v : t.vertices) {
        Json line;
        line["type"] = "vertex";
        line["identifier"] = 2;
        line["graph_protocol"] = tqbench::kGraphProtocol;
        line["graph_name"] = t.graphs[static_cast<size_t>(v.graph)].name;
        line["protocol"] = tqbench::kVertexProtocol;
        line["name"] = v.name;
        line["status"] = "3";
        line["icon"] = v.icon;
        line["label"] = v.label;
        line["details"] = nullptr;
        line["unique_id"] = v.uniqueId;
        emit(line);
    }
    for (const tqbench::Arc &a : t.arcs) {
        Json line;
        line["type"] = "arc";
        line["moid"] = a.moid;
        line["graph_protocol"] = tqbench::kGraphProtocol;
        line["graph_name"] = t.graphs[static_cast<size_t>(a.graph)].name;
        line["binding"] = std::to_string(a.binding);
        line["a_endpoint"] = Topology::vertexEndpoint();
        line["a_name"] = t.vertices[static_cast<size_t>(a.a)].name;
        line["z_endpoint"] = a.binding == 7 ? Topology::vertexEndpoint() : Topology::graphEndpoint();
        line["z_name"] = t.zName(a);
        line["arc_id"] = std::to_string(a.index);
        line["icon"] = a.icon;
        line["label"] = a.label;
        line["details"] = nullptr;
        line["status"] = "3";
        emit(line);
    }
}

class Updates {
public:
    Updates(const Topology &t, uint64_t seed) : t_(t), rng_(seed ^ 0x5EED0F0DD5ull)
    {
        for (size_t k = 0; k < t.vertices.size(); ++k)
            (k % 2 == 0 ? rootLevel_ : fabricLevel_).push_back(static_cast<int>(k));
    }

    // False when the topology has nothing this kind can name.
    bool possible(const std::string &kind) const
    {
        if (kind == "arc_status")
            return !t_.arcs.empty();
        if (kind == "graph_update" || kind == "content_ids")
            return !t_.graphs.empty();
        return !t_.vertices.empty();
    }

    void emitOne(const std::string &kind)
    {
        if (kind == "vertex_status")
            vertexStatus();
        else if (kind == "arc_status")
            arcStatus();
        else if (kind == "common_properties")
            commonProperties();
        else if (kind == "change_icon")
            changeIcon();
        else if (kind == "change_label")
            changeLabel();
        else if (kind == "graph_update")
            graphUpdate();
        else
            contentIds();
    }

private:
    const tqbench::Vertex &anyVertex() { return t_.vertices[rng_.below(t_.vertices.size())]; }
    // A fabric appearance when there is one: its status goes on the map and
    // its state on the root-level device.
    const tqbench::Vertex &fabricVertex()
    {
        const std::vector<int> &from = fabricLevel_.empty() ? rootLevel_ : fabricLevel_;
        return t_.vertices[static_cast<size_t>(from[rng_.below(from.size())])];
    }
    const tqbench::Vertex &rootVertex()
    {
        return t_.vertices[static_cast<size_t>(rootLevel_[rng_.below(rootLevel_.size())])];
    }

    void vertexStatus()
    {
        const tqbench::Vertex &v = fabricVertex();
        Json line;
        line["type"] = "vertex_status";
        line["unique_id"] = v.uniqueId;
        line["name"] = v.name;
        line["status"] = statusText(rng_);
        line["state"] = pick(rng_, kStates);
        emit(line);
    }

    void arcStatus()
    {
        const tqbench::Arc &a = t_.arcs[rng_.below(t_.arcs.size())];
        Json line;
        line["type"] = "arc_status";
        line["binding"] = std::to_string(a.binding);
        line["a_endpoint"] = Topology::vertexEndpoint();
        line["a_name"] = t_.vertices[static_cast<size_t>(a.a)].name;
        line["z_endpoint"] = a.binding == 7 ? Topology::vertexEndpoint() : Topology::graphEndpoint();
        line["z_name"] = t_.zName(a);
        line["arc_index"] = std::to_string(a.index);
        line["status"] = statusText(rng_);
        line["moid"] = a.moid;
        emit(line);
    }

    void commonProperties()
    {
        const tqbench::Vertex &v = rootVertex();
        const int type = v.device % 3;
        Json line;
        line["type"] = "common_properties";
        line["common_name"] = v.uniqueId;
        line["name"] = v.label;
        line["state"] = pick(rng_, kStates);
        line["device_type"] = kDeviceTypes[type];
        line["management_url"] = "1https://10." + std::to_string((v.device >> 16) & 255) + "." +
                                 std::to_string((v.device >> 8) & 255) + "." + std::to_string(v.device & 255) +
                                 "/";
        line["capacity"] = kCapacities[type];
        line["serial"] = "SN-" + std::to_string(100000 + v.device);
        line["vendor"] = kVendors[type];
        line["launch_flag"] = "TRUE";
        line["edfi_flag"] = "FALSE";
        line["node_flag"] = type == 0 ? "FALSE" : "TRUE";
        emit(line);
    }

    void changeIcon()
    {
        const tqbench::Vertex &v = anyVertex();
        Json line;
        line["type"] = "change_icon";
        line["unique_id"] = v.uniqueId;
        line["icon"] = pick(rng_, kIcons);
        emit(line);
    }

    void changeLabel()
    {
        const tqbench::Vertex &v = anyVertex();
        Json line;
        line["type"] = "change_label";
        line["unique_id"] = v.uniqueId;
        line["label"] = v.label + " (" + pick(rng_, kLabelNotes) + ")";
        emit(line);
    }

    void graphUpdate()
    {
        const tqbench::Graph &g = t_.graphs[rng_.below(t_.graphs.size())];
        Json line;
        line["type"] = "graph_update";
        line["protocol"] = tqbench::kGraphProtocol;
        line["name"] = g.name;
        line["icon"] = g.root ? tqbench::kRootIcon : tqbench::kFabricIcon;
        line["label"] = g.label + " (" + pick(rng_, kLabelNotes) + ")";
        emit(line);
    }

    // A complete content list of a fabric (the root graph when there is no
    // fabric): it names every member, so the reconciliation removes nothing.
    void contentIds()
    {
        const int fabrics = t_.fabricCount();
        const int g = fabrics > 0 ? 1 + static_cast<int>(rng_.below(static_cast<uint64_t>(fabrics))) : 0;
        Json contents = Json::array();
        if (g == 0) {
            for (size_t f = 1; f < t_.graphs.size(); ++f)
                contents.push_back(
                    Json{{"kind", "graph"}, {"protocol", tqbench::kGraphProtocol}, {"name", t_.graphs[f].name}});
        }
        for (int k : t_.fabricMembers(g))
            contents.push_back(Json{{"kind", "vertex"},
                                    {"protocol", tqbench::kVertexProtocol},
                                    {"name", t_.vertices[static_cast<size_t>(k)].name}});
        Json line;
        line["type"] = "content_ids";
        line["protocol"] = tqbench::kGraphProtocol;
        line["name"] = t_.graphs[static_cast<size_t>(g)].name;
        line["contents"] = std::move(contents);
        line["end"] = 1;
        emit(line);
    }

    const Topology &t_;
    Rng rng_;
    std::vector<int> rootLevel_;
    std::vector<int> fabricLevel_;
};

[[noreturn]] void usage(const char *why)
{
    if (why != nullptr)
        std::fprintf(stderr, "tqgen: %s\n", why);
    std::fprintf(stderr,
                 "usage: tqgen --graphs G --vertices V --arcs A --updates U [--seed S] [--kinds K,...] "
                 "[--no-topology]\n"
                 "       tqgen --messages N [--seed S]\n"
                 "       tqgen --oid-to-sym\n"
                 "kinds: vertex_status arc_status common_properties change_icon change_label graph_update "
                 "content_ids\n");
    std::exit(2);
}

long number(const char *option, const char *text)
{
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0)
        usage((std::string(option) + " needs a number of at least 0").c_str());
    return v;
}

}  // namespace

int main(int argc, char **argv)
{
    long graphs = 1, vertices = 0, arcs = 0, updates = 0, messages = -1;
    uint64_t seed = 1;
    bool topology = true;
    std::vector<Kind> kinds(std::begin(kKinds), std::end(kKinds));

    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage((opt + " needs a value").c_str());
            return argv[++i];
        };
        if (opt == "--graphs")
            graphs = number("--graphs", value());
        else if (opt == "--vertices")
            vertices = number("--vertices", value());
        else if (opt == "--arcs")
            arcs = number("--arcs", value());
        else if (opt == "--updates")
            updates = number("--updates", value());
        else if (opt == "--messages")
            messages = number("--messages", value());
        else if (opt == "--seed")
            seed = static_cast<uint64_t>(number("--seed", value()));
        else if (opt == "--oid-to-sym") {
            std::fputs(tqbench::oidToSym(), stdout);
            return 0;
        } else if (opt == "--no-topology")
            topology = false;
        else if (opt == "--kinds") {
            kinds.clear();
            std::string list = value();
            size_t start = 0;
            while (start <= list.size()) {
                size_t comma = list.find(',', start);
                std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                bool known = false;
                for (const Kind &k : kKinds) {
                    if (name == k.name) {
                        kinds.push_back(k);
                        known = true;
                    }
                }
                if (!known)
                    usage(("unknown kind '" + name + "'").c_str());
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        } else if (opt == "-h" || opt == "--help")
            usage(nullptr);
        else
            usage(("unknown option '" + opt + "'").c_str());
    }

    if (messages >= 0) {
        // A fabric per 250 messages; a quarter of the messages create
        // vertices (pairs: the device at the root and in its fabric), 15 %
        // arcs, the rest are updates.
        graphs = std::max(2L, messages / 250);
        vertices = 2 * ((messages + 4) / 8);
        arcs = messages * 15 / 100;
        updates = messages - graphs - vertices - arcs;
        if (updates < 0)
            usage("--messages needs at least 10");
    }

    std::ios::sync_with_stdio(false);
    try {
        Topology t(static_cast<int>(graphs), static_cast<int>(vertices), static_cast<int>(arcs), seed);
        if (topology)
            emitTopology(t);

        Updates gen(t, seed);
        std::vector<Kind> usable;
        int total = 0;
        for (const Kind &k : kinds) {
            if (gen.possible(k.name)) {
                usable.push_back(k);
                total += k.weight;
            }
        }
        if (updates > 0 && usable.empty())
            usage("the topology has nothing the chosen kinds can update");
        Rng pickKind(seed ^ 0xC0DE5EEDull);
        for (long u = 0; u < updates; ++u) {
            long r = static_cast<long>(pickKind.below(static_cast<uint64_t>(total)));
            size_t i = 0;
            while (r >= usable[i].weight) {
                r -= usable[i].weight;
                ++i;
            }
            gen.emitOne(usable[i].name);
        }
    } catch (const std::exception &e) {
        usage(e.what());
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
