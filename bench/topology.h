// The generated topology shared by the benchmark programs: tqgen writes it as
// messages, tqmapfill writes the same map straight into a map database. Both
// take every name from here, so a pre-filled map and a stream agree.
//
// Shape (the example storage network, scaled):
//   graph 0        the root graph "san";   graphs 1..G-1 the fabrics "fabric<f>",
//                  each a graph in the root graph.
//   vertex k       even k: device d = k/2 in the root graph, named "d<d>",
//                  unique id "d<d>";
//                  odd k:  the same device in its fabric, named "f<f>/d<d>",
//                  unique id "F" + "d<d>" (a vertex status on it stores the
//                  state on the root-level device, whose unique id is the
//                  fabric one without its first character).
//   roles          each fabric is a core-edge fabric: the first devices of
//                  its block are core switches ("core-<d>", two per 500
//                  devices, at least two), then one edge switch ("edge-<d>")
//                  per 25 devices, then hosts and storage ("host-<d>",
//                  "array-<d>") that hang on the edge switches, neighbours in
//                  the block on the same one.
//   arc i          nine in ten join two fabric vertices of one fabric
//                  (binding 7): first every edge switch to every core switch
//                  (inter-switch links), then each host or array to its edge
//                  switch, then second links along the same paths; one in
//                  ten joins a root-level device to its fabric graph in the
//                  root graph (binding 6).
// Devices and arcs fill the fabrics in blocks (fabric 1 the first ones, and so
// on), and every arc draws its endpoints from a generator of its own. So a map
// with more fabrics of the same block size starts with the very same fabrics,
// vertices and arcs as a smaller one, and a batch of updates generated for the
// smaller map applies unchanged to the larger.
#ifndef TQ_BENCH_TOPOLOGY_H
#define TQ_BENCH_TOPOLOGY_H

#include <cstdint>
#include <string>
#include <vector>

namespace tqbench {

constexpr const char kGraphProtocol[] = "1.3.6.1.2.1.2.2.1.3.1";
constexpr const char kVertexProtocol[] = "1";
constexpr const char kVertexProtocolName[] = "OTHER_PROTOCOL";   // protocol 1 on the map

// Icon keys; oidToSym() gives the file that maps them to symbol types.
constexpr const char kRootIcon[] = "1.3.6.1.2.1.2.2.1.3.1.10";
constexpr const char kFabricIcon[] = "1.3.6.1.2.1.2.2.1.3.1.11";
constexpr const char kSwitchIcon[] = "1.3.6.1.2.1.2.2.1.3.1.20";
constexpr const char kServerIcon[] = "1.3.6.1.2.1.2.2.1.3.1.30";
constexpr const char kArrayIcon[] = "1.3.6.1.2.1.2.2.1.3.1.40";
constexpr const char kFlashIcon[] = "1.3.6.1.2.1.2.2.1.3.1.41";
constexpr const char kLinkIcon[] = "1.3.6.1.2.1.2.2.1.3.1.50";
constexpr const char kIslIcon[] = "1.3.6.1.2.1.2.2.1.3.1.51";
constexpr const char kMemberIcon[] = "1.3.6.1.2.1.2.2.1.3.1.52";

// The oid_to_sym text with every icon above and the daemon's two defaults.
inline const char *oidToSym()
{
    return "# symbol types of the benchmark topology\n"
           "1.3.6.1.2.1.2.2.1.3.1.1:Connector:Generic\n"
           "1.3.6.1.2.1.2.2.1.3.1.4:Connection:Generic\n"
           "1.3.6.1.2.1.2.2.1.3.1.10:Network:SAN\n"
           "1.3.6.1.2.1.2.2.1.3.1.11:Network:Fabric\n"
           "1.3.6.1.2.1.2.2.1.3.1.20:Connector:FC Switch\n"
           "1.3.6.1.2.1.2.2.1.3.1.30:Computer:Server\n"
           "1.3.6.1.2.1.2.2.1.3.1.40:Storage:Disk Array\n"
           "1.3.6.1.2.1.2.2.1.3.1.41:Storage:Flash Array\n"
           "1.3.6.1.2.1.2.2.1.3.1.50:Connection:Fibre Channel\n"
           "1.3.6.1.2.1.2.2.1.3.1.51:Connection:Inter-Switch Link\n"
           "1.3.6.1.2.1.2.2.1.3.1.52:Connection:Fabric Member\n";
}

// Deterministic 64-bit generator (splitmix64): the same numbers on every
// host and library, unlike the standard distributions.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n); n > 0.
    uint64_t below(uint64_t n) { return next() % n; }

private:
    uint64_t state_;
};

struct Graph {
    std::string name;
    std::string uniqueId;
    std::string moid;
    std::string label;
    bool root = false;
};

struct Vertex {
    int graph = 0;            // index into graphs
    int device = 0;
    std::string name;
    std::string uniqueId;
    std::string label;
    const char *icon = nullptr;
};

struct Arc {
    int graph = 0;
    int binding = 7;          // 7: vertex-vertex, 6: vertex then graph
    int a = 0;                // vertex index
    int z = 0;                // vertex index (binding 7) or graph index (binding 6)
    int index = 0;            // the arc id, 1-based
    std::string moid;
    std::string label;
    const char *icon = nullptr;
};

class Topology {
public:
    Topology(int graphs, int vertices, int arcs, uint64_t seed);

    std::vector<Graph> graphs;
    std::vector<Vertex> vertices;
    std::vector<Arc> arcs;

    int fabricCount() const { return static_cast<int>(graphs.size()) - 1; }
    // The fabric (graph index) of a device; the root graph when there are no fabrics.
    int fabricOf(int device) const;
    // Devices (and arcs) per fabric.
    int deviceBlock() const { return deviceBlock_; }
    // Vertex indices of the fabric appearances of the devices in a graph.
    const std::vector<int> &fabricMembers(int graph) const { return members_[static_cast<size_t>(graph)]; }

    // "NULL:1" for a vertex endpoint, "<graph protocol>:x" for a graph endpoint.
    static std::string vertexEndpoint() { return std::string("NULL:") + kVertexProtocol; }
    static std::string graphEndpoint() { return std::string(kGraphProtocol) + ":x"; }
    // Name of arc endpoint z (a vertex or a graph name, by binding).
    const std::string &zName(const Arc &arc) const
    {
        return arc.binding == 7 ? vertices[static_cast<size_t>(arc.z)].name : graphs[static_cast<size_t>(arc.z)].name;
    }

    // The icon of the device at this place of its fabric's block, and the
    // label of a device, by its role.
    const char *roleIcon(int place) const;
    std::string roleLabel(int device) const;

private:
    int deviceBlock_ = 1;
    std::vector<std::vector<int>> members_;   // per graph: vertices listed in its content list
};

}  // namespace tqbench

#endif
