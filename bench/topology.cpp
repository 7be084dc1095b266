#include "topology.h"

#include <algorithm>
#include <stdexcept>

namespace tqbench {

namespace {

const char *const kLinkLabels[] = {"8G", "16G", "32G"};

int ceilDiv(int a, int b) { return b > 0 ? (a + b - 1) / b : 0; }

// A fabric's devices by role, in the order of their place in the fabric's
// block: a few core switches, one edge switch per 25 devices, then the hosts
// and storage that hang on the edge switches.
struct FabricShape {
    int core = 0, edge = 0, leaves = 0;
    explicit FabricShape(int devices)
    {
        core = devices >= 4 ? std::max(2, devices / 250) : std::min(devices, 1);
        edge = std::min(devices - core, std::max(1, ceilDiv(devices - core, 25)));
        leaves = std::max(0, devices - core - edge);
    }
    // Links of the core-edge mesh (each edge switch to every core switch)
    // and of the leaves to their edge switch.
    int structuralLinks() const { return core * edge + leaves; }
    // The edge switch (0-based) a leaf hangs on: neighbours in the block share one.
    int edgeOfLeaf(int leaf) const { return edge > 0 ? static_cast<int>(int64_t(leaf) * edge / std::max(1, leaves)) : 0; }
};

}  // namespace

const char *Topology::roleIcon(int place) const
{
    FabricShape shape(deviceBlock_);
    if (place < shape.core + shape.edge)
        return kSwitchIcon;
    int leaf = place - shape.core - shape.edge;
    return leaf % 3 == 2 ? (leaf % 6 == 5 ? kFlashIcon : kArrayIcon) : kServerIcon;
}

std::string Topology::roleLabel(int device) const
{
    FabricShape shape(deviceBlock_);
    int place = device % deviceBlock_;
    std::string d = std::to_string(device);
    if (place < shape.core)
        return "core-" + d;
    if (place < shape.core + shape.edge)
        return "edge-" + d;
    int leaf = place - shape.core - shape.edge;
    return (leaf % 3 == 2 ? "array-" : "host-") + d;
}

namespace {

}  // namespace

int Topology::fabricOf(int device) const
{
    return fabricCount() > 0 ? 1 + device / deviceBlock_ : 0;
}

Topology::Topology(int graphCount, int vertexCount, int arcCount, uint64_t seed)
{
    if (graphCount < 0 || vertexCount < 0 || arcCount < 0)
        throw std::invalid_argument("counts must not be negative");
    if (graphCount == 0 && (vertexCount > 0 || arcCount > 0))
        throw std::invalid_argument("vertices and arcs need at least one graph");

    for (int g = 0; g < graphCount; ++g) {
        Graph graph;
        graph.root = g == 0;
        graph.name = g == 0 ? "san" : "fabric" + std::to_string(g);
        graph.uniqueId = "G" + graph.name;
        graph.moid = "moid-" + graph.name;
        graph.label = g == 0 ? "SAN" : "Fabric " + std::to_string(g);
        graphs.push_back(std::move(graph));
    }
    members_.resize(graphs.size());
    const int devices = ceilDiv(vertexCount, 2);
    deviceBlock_ = std::max(1, ceilDiv(devices, fabricCount()));

    for (int k = 0; k < vertexCount; ++k) {
        Vertex v;
        v.device = k / 2;
        const std::string device = "d" + std::to_string(v.device);
        if (k % 2 == 0) {
            v.graph = 0;
            v.name = device;
            v.uniqueId = device;
        } else {
            v.graph = fabricOf(v.device);
            v.name = "f" + std::to_string(v.graph) + "/" + device;
            v.uniqueId = "F" + device;
        }
        v.label = roleLabel(v.device);
        v.icon = roleIcon(v.device % deviceBlock_);
        members_[static_cast<size_t>(v.graph)].push_back(k);
        vertices.push_back(std::move(v));
    }

    // Where an arc goes when its fabric cannot hold it: the first graph with
    // two vertices to join.
    int fallback = -1;
    for (size_t g = 0; g < members_.size() && fallback < 0; ++g)
        if (members_[g].size() >= 2)
            fallback = static_cast<int>(g);
    if (arcCount > 0 && fallback < 0)
        throw std::invalid_argument("arcs need a graph with at least two vertices");

    const int arcBlock = std::max(1, ceilDiv(arcCount, fabricCount()));
    const FabricShape shape(deviceBlock_);
    for (int i = 0; i < arcCount; ++i) {
        Rng rng(seed ^ (0xA5C0FFEE1234ull + 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(i)));
        Arc arc;
        arc.index = i + 1;
        arc.moid = "arc" + std::to_string(arc.index);
        const int fabric = fabricCount() > 0 ? std::min(fabricCount(), 1 + i / arcBlock) : 0;
        const std::vector<int> &in = members_[static_cast<size_t>(fabric)];
        if (fabric > 0 && !in.empty() && (i % 10 == 9 || in.size() < 2)) {
            // A root-level device of the fabric joined to the fabric, drawn in the root graph.
            const int member = in[rng.below(in.size())];
            arc.binding = 6;
            arc.graph = 0;
            arc.a = member - 1;   // the device's root-level vertex
            arc.z = fabric;
            arc.icon = kMemberIcon;
            arc.label = "uplink";
        } else {
            arc.binding = 7;
            arc.graph = in.size() >= 2 ? fabric : fallback;
            const std::vector<int> &from = members_[static_cast<size_t>(arc.graph)];
            // The fabric's links in order: the core-edge mesh, then each leaf
            // to its edge switch, then second links along the same paths
            // (trunks and dual ports); the uplinks above take their turns.
            const int first = arc.graph == fabric ? (fabric - 1) * arcBlock : 0;
            const int k = (i - first) - (i / 10 - first / 10);
            const int places = static_cast<int>(from.size());
            const FabricShape here = arc.graph == fabric ? shape : FabricShape(places);
            const int mesh = here.core * here.edge;
            int a = 0, z = 1;
            const int n = here.structuralLinks() > 0 ? k % here.structuralLinks() : 0;
            if (n < mesh) {
                a = here.core + n / here.core;   // the edge switch
                z = n % here.core;               // the core switch
            } else if (here.leaves > 0) {
                const int leaf = n - mesh;
                a = here.core + here.edge + leaf;
                z = here.core + here.edgeOfLeaf(leaf);
            }
            a = std::min(a, places - 1);
            z = std::min(z, places - 1);
            if (a == z)
                z = (a + 1) % places;
            arc.a = from[static_cast<size_t>(a)];
            arc.z = from[static_cast<size_t>(z)];
            arc.icon = n < mesh ? kIslIcon : kLinkIcon;
            arc.label = kLinkLabels[rng.below(3)];
        }
        arcs.push_back(std::move(arc));
    }
}

}  // namespace tqbench
